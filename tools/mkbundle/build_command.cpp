// Gathers the blocks in shipped order, checks them as the launcher will use
// them, and writes the bundled launcher.
#include "tools/mkbundle/build_command.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/fs.h"
#include "core/bundle.h"
#include "extract/block_extraction.h"
#include "tools/mkbundle/archive_check.h"
#include "tools/mkbundle/archive_maker.h"
#include "tools/mkbundle/archive_times.h"
#include "tools/mkbundle/atomic_output_file.h"
#include "tools/mkbundle/bundle_sources.h"
#include "tools/mkbundle/bundle_writer.h"
#include "tools/mkbundle/launcher_file.h"
#include "tools/mkbundle/launcher_mark.h"
#include "tools/mkbundle/tree_walk.h"
#include "tools/mkbundle/trial_install.h"

namespace mkbundle {
namespace {

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

class AnyBlock : public kv::TagHandler {
 public:
  bool visit(std::FILE*, const kv::BlockDescriptor&) override { return false; }
};

// The launcher must be an image without a bundle and, if a PE image, unsigned:
// signing comes after bundling, as the bundle must end before the table.
std::string checkLauncher(std::FILE* launcher, const std::string& path, uint64_t size) {
  if (size == 0) return "launcher '" + path + "' is empty";
  if (certificateTableSizeOf(launcher) != 0)
    return "launcher '" + path + "' is signed; bundle the unsigned launcher, then sign the result";
  AnyBlock any;
  if (kv::walkBundleFrom(launcher, any, -kv::kFooterSize))
    return "launcher '" + path + "' already carries a bundle";
  return "";
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// -o may replace a bundle (its last footer, or the one before a signature);
// anything else only with --force, so that a mistyped -o loses nothing.
std::string checkOutput(const Options& options) {
  const std::string folder = folderOf(options.output);
  if (::access(folder.c_str(), W_OK) != 0)
    return "cannot write into the folder of '" + options.output + "': " + std::strerror(errno);
  struct stat st;
  if (::stat(options.output.c_str(), &st) != 0) return "";
  if (S_ISDIR(st.st_mode)) return "output '" + options.output + "' is a folder";
  // Not even --force replaces an input: the build would read what it writes.
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"--launcher", options.launcher},
      {"--logo", options.logo},
      {"--version-file", options.versionFile},
      {"--installer", options.installer},
      {"--jre", options.jre},
      {"--payload", options.payload}};
  for (const ExtraBlock& extra : options.extras) inputs.push_back({"--block", extra.path});
  for (const auto& input : inputs) {
    struct stat other;
    if (!input.second.empty() && ::stat(input.second.c_str(), &other) == 0 &&
        other.st_dev == st.st_dev && other.st_ino == st.st_ino)
      return "output '" + options.output + "' is the " + input.first + " input '" + input.second +
             "'; write the bundle to another file";
  }
  if (options.force) return "";
  kv::FilePtr file = kv::openFile(options.output, "rb");
  AnyBlock any;
  if (file && S_ISREG(st.st_mode) &&
      kv::walkBundleFrom(file.get(), any, bundleEndOffsetOf(file.get())))
    return "";
  return "output '" + options.output +
         "' exists and is not a bundle; refusing to replace it (give --force to replace it)";
}

// The main methods the launcher decodes; 7zz adds only filters it decodes
// too (branch converters, Delta), and the archives are checked when made.
bool isDecodableMethod(const std::string& method) {
  std::string name = method.substr(0, method.find(':'));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "copy" || name == "lzma" || name == "lzma2" || name == "ppmd";
}

std::string versionText(const Options& options) {
  std::string text = "version=" + options.version + "\n";
  if (options.hasName) text += "name=" + options.name + "\n";
  if (options.hasId) text += "id=" + options.id + "\n";
  return text;
}

std::string readAll(std::FILE* file, uint64_t limit) {
  std::string bytes(static_cast<size_t>(limit), '\0');
  if (kv::fs::seek(file, 0, SEEK_SET) != 0) return "";
  bytes.resize(std::fread(&bytes[0], 1, bytes.size(), file));
  return bytes;
}

// One archive block to be: a walked folder (archived later) or a ready file.
struct ArchiveSource {
  char tag = 0;
  std::string path;
  std::string role;  // "installer", "runtime", "payload"
  bool isFolder = false;
  TreeListing listing;
  ArchiveInfo info;
  BlockSource block;
  std::string label() const { return role + " " + quoted(path); }
};

// Test-decodes the source's archive block. On a terminal a status line
// names the archive while it is decoded and is wiped afterwards; a log
// gets nothing.
void testDecode(ArchiveSource& source) {
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  std::string status;
  if (terminal) {
    status = "mkbundle: test-decoding the " + source.label() + "...";
    std::fputs(status.c_str(), stderr);
    std::fflush(stderr);
  }
  checkArchive(source.block.file.get(), 0, static_cast<uint32_t>(source.block.size), source.info);
  if (terminal) std::fprintf(stderr, "\r%*s\r", static_cast<int>(status.size()), "");
}

// The closing line of a successful build.
std::string summary(const std::string& output, uint64_t size, const std::string& launcher,
                    size_t archives) {
  return "mkbundle: wrote " + output + " (" + megabytes(size) + "): " + launcher + ", " +
         std::to_string(archives) + (archives == 1 ? " archive" : " archives") + " checked\n";
}

std::string readSource(ArchiveSource& source, const std::string& output,
                       std::vector<Finding>& findings) {
  if (kv::fs::isDirectory(source.path)) {
    // An output inside the folder would be archived into the next build.
    const std::optional<std::string> folder = realPath(source.path);
    const std::optional<std::string> outputFolder = realPath(folderOf(output));
    if (folder && outputFolder &&
        (*outputFolder == *folder || outputFolder->rfind(*folder + "/", 0) == 0))
      findings.push_back({true, "output " + quoted(output) + " lies inside the " + source.label() +
                                    "; the next build would archive it"});
    source.isFolder = true;
    std::string error = walkTree(source.path, source.listing);
    if (!error.empty()) return source.label() + ": " + error;
    if (source.listing.entries.empty())
      return source.label() + ": the folder holds no file; the launcher would extract nothing";
    source.info = infoFromTree(source.path, source.listing);
    return "";
  }
  std::string error = fileBlock(source.tag, source.path, source.block);
  if (!error.empty()) return error;
  if (!isSevenZipFile(source.path))
    return "'" + source.path + "' is neither a directory nor a 7z archive";
  if (source.block.size > kMaxOutputSize) return "'" + source.path + "' is 4 GiB or more";
  testDecode(source);
  return "";
}

BundleContent contentOf(const Options& options, const std::string& version, bool hasVersion,
                        const std::string& logoHead, const std::vector<ArchiveSource>& sources) {
  BundleContent content;
  content.host = options.windows ? &kv::kWindowsHost : &kv::kLinuxHost;
  content.hasVersion = hasVersion;
  content.versionLabel = options.versionFile.empty() ? "--version" : quoted(options.versionFile);
  content.versionText = version;
  content.hasLogo = !options.logo.empty();
  content.logoLabel = "logo " + quoted(options.logo);
  content.logoHead = logoHead;
  for (const ArchiveSource& source : sources)
    content.archives.push_back({source.tag, source.label(), &source.info});
  return content;
}

// The bundle as written, installed on trial before it takes its name.
std::string trialInstallOf(AtomicOutputFile& output) {
  if (std::fflush(output.stream()) != 0)
    return "cannot write '" + output.temporaryPath() + "': " + std::strerror(errno);
  kv::FilePtr written = kv::openFile(output.temporaryPath(), "rb");
  if (!written) return "cannot read '" + output.temporaryPath() + "': " + std::strerror(errno);
  return trialInstall(written.get(), bundleEndOffsetOf(written.get()));
}

// The launcher image the bundle goes after.
struct Launcher {
  BlockSource image;
  mode_t mode = 0;  // the output gets its permissions
  LauncherMark mark;
};

// What is read before anything is written.
struct Inputs {
  std::vector<BlockSource> blocks;  // in shipped order, archives and extras still to come
  std::string logoHead;
  bool hasVersion = false;
  std::string version;  // the version block's bytes
  std::vector<ArchiveSource> sources;
  std::vector<Finding> findings;
};

// Opens the launcher and makes sure it is one of this project's, of the
// platform asked for, unsigned and without a bundle: any other program
// would take the bundle's arguments for its own.
std::string openLauncher(const Options& options, Launcher& launcher) {
  std::string error = fileBlock(0, options.launcher, launcher.image);
  if (!error.empty()) return error;
  struct stat st;
  if (::fstat(::fileno(launcher.image.file.get()), &st) != 0)
    return "cannot read '" + options.launcher + "': " + std::strerror(errno);
  launcher.mode = st.st_mode & 0777;
  error = checkLauncher(launcher.image.file.get(), options.launcher, launcher.image.size);
  if (!error.empty()) return error;
  const std::optional<LauncherMark> mark = readLauncherMark(launcher.image.file.get());
  if (!mark) return notALauncher(options.launcher);
  if (mark->windows != options.windows)
    return "launcher " + quoted(options.launcher) + " is a " +
           (mark->windows ? "Windows program: add --windows" : "Linux program: drop --windows") +
           " (" + mark->text() + ")";
  launcher.mark = *mark;
  return "";
}

// Refusals of the command line that only the build's checks make.
void checkBlockOptions(const Options& options, std::vector<Finding>& findings) {
  // Raw blocks of a kind the launcher reads would escape the checks: a later
  // 'v' block, for one, is the version the launcher compares.
  for (const ExtraBlock& extra : options.extras) {
    if (std::strchr("lvijrap", extra.tag))
      findings.push_back({true, "--block " + std::string(1, extra.tag) + ":" + extra.path +
                                    ": the launcher reads '" + std::string(1, extra.tag) +
                                    "' blocks; give them with their own options"});
  }
  if (!isDecodableMethod(options.method))
    findings.push_back({true, "--method " + quoted(options.method) +
                                  ": the launcher cannot decode it; it decodes " +
                                  kv::kDecodedMethods + " (give one, such as LZMA2:d=64m)"});
}

std::string addFile(std::vector<BlockSource>& blocks, char tag, const std::string& path) {
  blocks.emplace_back();
  return fileBlock(tag, path, blocks.back());
}

// The logo and version blocks, which come first.
std::string readTextInputs(const Options& options, Inputs& in) {
  std::string error;
  if (!options.logo.empty()) {
    if ((error = addFile(in.blocks, kv::kTagLogo, options.logo)).size()) return error;
    in.logoHead = readAll(in.blocks.back().file.get(), 8);
  }
  in.hasVersion = true;
  if (!options.versionFile.empty()) {
    if ((error = addFile(in.blocks, kv::kTagVersion, options.versionFile)).size()) return error;
    in.version = readAll(in.blocks.back().file.get(), 1 << 16);
  } else if (options.hasVersion) {
    in.version = versionText(options);
    in.blocks.push_back(textBlock(kv::kTagVersion, "--version", in.version));
  } else {
    in.hasVersion = false;
  }
  return "";
}

// Every folder is walked and every ready archive test-decoded before the
// first folder is compressed, so that a mistake costs seconds, not minutes.
std::string readArchiveInputs(const Options& options, Inputs& in) {
  const std::pair<char, const std::string*> archived[] = {{kv::kTagInstaller, &options.installer},
                                                          {kv::kTagJre, &options.jre},
                                                          {kv::kTagPayload, &options.payload}};
  for (const auto& archive : archived) {
    if (archive.second->empty()) continue;
    in.sources.emplace_back();
    ArchiveSource& source = in.sources.back();
    source.tag = archive.first;
    source.path = *archive.second;
    source.role = archiveRole(archive.first);
    const std::string error = readSource(source, options.output, in.findings);
    if (!error.empty()) return error;
  }
  return "";
}

// Reads every input and checks the bundle they make; "" when nothing is
// refused.
std::string readInputs(const Options& options, Inputs& in) {
  checkBlockOptions(options, in.findings);
  std::string error = readTextInputs(options, in);
  if (error.empty()) error = readArchiveInputs(options, in);
  if (!error.empty()) return error;
  const std::vector<Finding> early =
      checkBundle(contentOf(options, in.version, in.hasVersion, in.logoHead, in.sources));
  in.findings.insert(in.findings.end(), early.begin(), early.end());
  const int refusals = reportFindings(in.findings, options.unchecked);
  if (refusals > 0)
    return quoted(options.output) + " not written: " + std::to_string(refusals) +
           " problem(s) above";
  return "";
}

// Archives the folders with 7zz, test-decodes what it made and checks the
// bundle again, as the launcher will read it.
std::string archiveFolders(const Options& options, Inputs& in) {
  ArchiveFolder folder;
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  for (ArchiveSource& source : in.sources) {
    if (!source.isFolder) continue;
    std::fprintf(stderr, "mkbundle: archiving %s: %zu files, %s\n", source.label().c_str(),
                 source.listing.entries.size(), megabytes(source.listing.bytes).c_str());
    std::string archive;
    std::string error = folder.archiveDirectory(source.path, source.listing, options.method,
                                                std::string(1, source.tag) + ".7z", options.output,
                                                terminal, archive);
    if (error.empty()) error = fileBlock(source.tag, archive, source.block);
    if (!error.empty()) return error;
    source.block.label = source.path;
    if (source.block.size > kMaxOutputSize)
      return "the archive of " + source.label() + " is 4 GiB or more";
    testDecode(source);
  }
  const int refusals = reportFindings(
      checkBundle(contentOf(options, in.version, in.hasVersion, in.logoHead, in.sources)),
      options.unchecked, false);
  if (refusals > 0)
    return quoted(options.output) + " not written: " + std::to_string(refusals) +
           " problem(s) in the archives as made";
  return "";
}

// Puts the remaining blocks in shipped order: installer and runtime,
// releases, arguments, payload, then the --block extras.
std::string placeBlocks(const Options& options, Inputs& in) {
  for (ArchiveSource& source : in.sources)
    if (source.tag != kv::kTagPayload) in.blocks.push_back(std::move(source.block));
  for (const std::string& release : options.releases)
    in.blocks.push_back(textBlock(kv::kTagRelease, "--release", release + std::string(1, '\0')));
  for (const std::string& argument : options.arguments)
    in.blocks.push_back(textBlock(kv::kTagArgument, "--arg", argument));
  for (ArchiveSource& source : in.sources)
    if (source.tag == kv::kTagPayload) in.blocks.push_back(std::move(source.block));
  for (const ExtraBlock& extra : options.extras) {
    const std::string error = addFile(in.blocks, extra.tag, extra.path);
    if (!error.empty()) return error;
  }
  return "";
}

// The zero bytes that go between the image and the first block.
std::string imagePaddingOf(const Options& options, const BlockSource& image, uint64_t* padding) {
  const uint64_t tailSize = image.size < 8 ? image.size : 8;
  std::string tail(static_cast<size_t>(tailSize), '\0');
  if (kv::fs::seek(image.file.get(), static_cast<int64_t>(image.size - tailSize), SEEK_SET) != 0 ||
      std::fread(&tail[0], 1, tail.size(), image.file.get()) != tail.size())
    return "cannot read '" + options.launcher + "'";
  *padding = imagePadding(image.size, tail);
  return "";
}

// Writes the output beside its final name, installs it on trial and gives
// it its name.
std::string writeOutput(const Options& options, Launcher& launcher, Inputs& in) {
  uint64_t padding = 0;
  std::string error = imagePaddingOf(options, launcher.image, &padding);
  if (!error.empty()) return error;
  const uint64_t size = outputSize(launcher.image.size, padding, in.blocks);
  if (size == 0)
    return "'" + options.output +
           "' would reach 4 GiB; bundle offsets are 32-bit, so the output must stay below";
  AtomicOutputFile output;
  if ((error = output.open(options.output)).size()) return error;
  error = writeBundle(launcher.image.file.get(), options.launcher, launcher.image.size, padding,
                      in.blocks, output.stream(), options.output);
  if (!error.empty()) return error;
  if (!options.unchecked && (error = trialInstallOf(output)).size())
    return "refused: " + error + "\nmkbundle: " + quoted(options.output) +
           " not written: the launcher would not install it";
  if ((error = output.commit(launcher.mode)).size()) return error;
  const std::string line = summary(options.output, size, launcher.mark.text(), in.sources.size());
  std::fputs(line.c_str(), stderr);
  return "";
}

}  // namespace

std::string buildBundle(const Options& options) {
  std::string error = checkOutput(options);
  // SOURCE_DATE_EPOCH is read again when a folder is archived; a bad one
  // ends the build before anything is read.
  std::optional<uint64_t> epoch;
  if (error.empty()) error = sourceDateEpoch(&epoch);
  Launcher launcher;
  if (error.empty()) error = openLauncher(options, launcher);
  Inputs in;
  if (error.empty()) error = readInputs(options, in);
  if (error.empty()) error = archiveFolders(options, in);
  if (error.empty()) error = placeBlocks(options, in);
  if (error.empty()) error = writeOutput(options, launcher, in);
  return error;
}

}  // namespace mkbundle
