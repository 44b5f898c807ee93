// Gathers the blocks in shipped order and writes the bundled launcher.
#include "tools/mkbundle/build_command.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "core/bundle.h"
#include "core/fs.h"
#include "tools/mkbundle/archive_maker.h"
#include "tools/mkbundle/bundle_writer.h"
#include "tools/mkbundle/launcher_file.h"
#include "tools/mkbundle/output_file.h"

namespace mkbundle {
namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "mkbundle: %s\n", message.c_str());
  return 1;
}

// An archive block from a directory (archived now) or a ready 7z file.
std::string archiveBlock(char tag, const std::string& source, const Options& options,
                         ArchiveFolder& folder, BlockSource& block) {
  if (kv::fs::isDirectory(source)) {
    std::string archive;
    const std::string name = std::string(1, tag) + ".7z";
    std::string error = folder.archiveDirectory(source, options.method, name, options.output,
                                                archive);
    if (!error.empty()) return error;
    error = fileBlock(tag, archive, block);
    block.label = source;
    return error;
  }
  std::string error = fileBlock(tag, source, block);
  if (!error.empty()) return error;
  if (!isSevenZipFile(source)) return "'" + source + "' is neither a directory nor a 7z archive";
  return "";
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

std::string versionText(const Options& options) {
  std::string text = "version=" + options.version + "\n";
  if (options.hasName) text += "name=" + options.name + "\n";
  if (options.hasId) text += "id=" + options.id + "\n";
  return text;
}

}  // namespace

int buildBundle(const Options& options) {
  BlockSource launcher;
  std::string error = fileBlock(0, options.launcher, launcher);
  if (!error.empty()) return fail(error);
  struct stat launcherStat;
  if (::fstat(::fileno(launcher.file.get()), &launcherStat) != 0)
    return fail("cannot read '" + options.launcher + "': " + std::strerror(errno));
  error = checkLauncher(launcher.file.get(), options.launcher, launcher.size);
  if (!error.empty()) return fail(error);

  ArchiveFolder folder;
  std::vector<BlockSource> blocks;
  auto addFile = [&](char tag, const std::string& path) {
    blocks.emplace_back();
    return fileBlock(tag, path, blocks.back());
  };
  auto addArchive = [&](char tag, const std::string& source) {
    blocks.emplace_back();
    return archiveBlock(tag, source, options, folder, blocks.back());
  };

  if (!options.logo.empty() && (error = addFile(kv::kTagLogo, options.logo)).size())
    return fail(error);
  if (!options.versionFile.empty()) {
    if ((error = addFile(kv::kTagVersion, options.versionFile)).size()) return fail(error);
  } else if (options.hasVersion) {
    blocks.push_back(textBlock(kv::kTagVersion, "--version", versionText(options)));
  }
  if (!options.installer.empty() &&
      (error = addArchive(kv::kTagInstaller, options.installer)).size())
    return fail(error);
  if (!options.jre.empty() && (error = addArchive(kv::kTagJre, options.jre)).size())
    return fail(error);
  for (const std::string& release : options.releases)
    blocks.push_back(textBlock(kv::kTagRelease, "--release", release + std::string(1, '\0')));
  for (const std::string& argument : options.arguments)
    blocks.push_back(textBlock(kv::kTagArgument, "--arg", argument));
  if (!options.payload.empty() && (error = addArchive(kv::kTagPayload, options.payload)).size())
    return fail(error);
  for (const ExtraBlock& extra : options.extras)
    if ((error = addFile(extra.tag, extra.path)).size()) return fail(error);

  std::string tail;
  {
    const uint64_t tailSize = launcher.size < 8 ? launcher.size : 8;
    tail.resize(static_cast<size_t>(tailSize));
    if (kv::fs::seek(launcher.file.get(), static_cast<int64_t>(launcher.size - tailSize),
                     SEEK_SET) != 0 ||
        std::fread(&tail[0], 1, tail.size(), launcher.file.get()) != tail.size())
      return fail("cannot read '" + options.launcher + "'");
  }
  const uint64_t padding = imagePadding(launcher.size, tail);
  if (outputSize(launcher.size, padding, blocks) == 0)
    return fail("'" + options.output +
                "' would reach 4 GiB; bundle offsets are 32-bit, so the output must stay below");

  OutputFile output;
  if ((error = output.open(options.output)).size()) return fail(error);
  error = writeBundle(launcher.file.get(), options.launcher, launcher.size, padding, blocks,
                      output.stream(), options.output);
  if (!error.empty()) return fail(error);
  if ((error = output.commit(launcherStat.st_mode & 0777)).size()) return fail(error);
  return 0;
}

}  // namespace mkbundle
