// Runs 7zz without a shell (fork and execvp with an argument vector).
#include "tools/mkbundle/archive_maker.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>

#include "base/fs.h"
#include "tools/mkbundle/archive_times.h"
#include "tools/mkbundle/block_rule.h"

namespace mkbundle {
namespace {

const unsigned char kSevenZipSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
const char kDefaultMethod[] = "LZMA2";

// The default, plain LZMA2, is tuned for the launcher's decoder: an 8 MB
// dictionary started afresh every 8 MB (independent LZMA2 blocks, also
// inside a large file) in solid blocks of at most 32 MB, so that every
// processor decodes a block of its own in about 8 MB, whatever the files;
// 64 fast bytes win back most of what the restarts cost: 2.5 % in size
// against 7zz's default (one solid block, 32 MB dictionary). The explicit
// block size also makes the blocks the same whatever machine compresses.
// A solid block also holds at most 500 files: its files are written in
// order, one after the other, and 500 small files take about as long to
// write as an 8 MB block takes to decode, so a block of many small files
// no longer outlasts the others (it costs a few kilobytes).
const std::vector<std::string> kDefaultMethodSwitches = {"-m0=LZMA2:d=8m:c=8m:fb=64",
                                                         "-ms=500f32m"};
// Files LZMA barely shrinks (block_rule.h) follow in solid blocks of their
// own, cut every 2 MiB: such data decodes at about 17 MB/s, a sixth of the
// speed of ordinary data, so a 2 MiB block takes about as long as an 8 MiB
// block of ordinary data. The smaller dictionary costs such data little;
// 1 MiB blocks made the Java runtime's .jmod files 0.2 % larger than 2 MiB.
const std::vector<std::string> kSmallBlockSwitches = {"-m0=LZMA2:d=2m:c=2m:fb=64", "-ms=32m"};
// The probe: a fast LZMA pass on one thread (the same bytes on any machine).
const std::vector<std::string> kProbeCommand = {"7zz", "a",   "-txz", "-mx=1", "-mmt=1", "-si",
                                                "-so", "-an", "-bd",  "-bso0", "-bsp0"};

// Reproducible archives: links stored as links, no times (entries come
// sorted from the list file; 7zz stores no user or group in 7z archives).
// With SOURCE_DATE_EPOCH, modification times are stored in a plain header
// and then all set to it (setArchiveTimes).
const std::vector<std::string> kStableSwitches = {"-snl", "-mtm=off", "-mtc=off", "-mta=off"};
const std::vector<std::string> kEpochSwitches = {"-snl", "-mtm=on", "-mtc=off", "-mta=off",
                                                 "-mhc=off"};

// True when `inner` is `outer` or lies below it (both resolved).
bool isInside(const std::optional<std::string>& inner, const std::optional<std::string>& outer) {
  if (!inner || !outer) return false;
  if (*outer == "/") return true;
  return *inner == *outer || inner->rfind(*outer + "/", 0) == 0;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Runs `program` with `args` in `workingDirectory`, standard input from
// `input` (when not -1), standard output to `output` (else discarded). ""
// with its exit status in `status`, or the error when it could not be
// started or waited for, or did not exit by itself.
std::string run(const std::vector<std::string>& args, const std::string& workingDirectory,
                int& status, int input = -1, int output = -1) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    return std::string("cannot start 7zz: ") + std::strerror(errno);
  }
  if (pid == 0) {
    if (::chdir(workingDirectory.c_str()) != 0) ::_exit(126);
    if (input >= 0) ::dup2(input, STDIN_FILENO);
    const int devNull = output >= 0 ? output : ::open("/dev/null", O_WRONLY);
    if (devNull >= 0) ::dup2(devNull, STDOUT_FILENO);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int wait = 0;
  while (::waitpid(pid, &wait, 0) < 0) {
    if (errno != EINTR) return std::string("cannot wait for 7zz: ") + std::strerror(errno);
  }
  if (!WIFEXITED(wait)) return "7zz was killed by signal " + std::to_string(WTERMSIG(wait));
  if (WEXITSTATUS(wait) == 127) return "cannot run 7zz (is 7-Zip installed and on PATH?)";
  if (WEXITSTATUS(wait) == 126) return "cannot enter directory '" + workingDirectory + "'";
  status = WEXITSTATUS(wait);
  return "";
}

}  // namespace

ArchiveFolder::~ArchiveFolder() {
  for (const std::string& file : files_) ::unlink(file.c_str());
  for (const std::string& folder : folders_) ::rmdir(folder.c_str());
}

std::string ArchiveFolder::folderOutside(const std::string& directory,
                                         const std::string& outputHint, std::string& folder) {
  const std::optional<std::string> source = realPath(directory);
  for (const std::string& existing : folders_) {
    if (!isInside(realPath(existing), source)) {
      folder = existing;
      return "";
    }
  }
  const char* tmp = ::getenv("TMPDIR");
  const std::string candidates[] = {tmp && *tmp ? tmp : "/tmp", folderOf(outputHint)};
  for (const std::string& base : candidates) {
    if (isInside(realPath(base), source)) continue;
    std::string pattern = base + "/mkbundle-XXXXXX";
    if (!::mkdtemp(&pattern[0])) continue;
    folders_.push_back(pattern);
    // 7zz runs inside the directory: the archive path must be absolute.
    const std::optional<std::string> resolved = realPath(pattern);
    if (!resolved) break;
    folder = *resolved;
    return "";
  }
  return "cannot make a temporary folder outside '" + directory + "'";
}

void ArchiveFolder::removeLater(const std::string& file) {
  if (std::find(files_.begin(), files_.end(), file) == files_.end()) files_.push_back(file);
}

std::string ArchiveFolder::probe(const std::string& directory, const std::string& folder,
                                 const TreeEntry& entry, uint64_t* sample, uint64_t* packed) {
  const std::string path = directory + "/" + entry.path;
  const std::string samplePath = folder + "/probe.in";
  const std::string packedPath = folder + "/probe.xz";
  removeLater(samplePath);
  removeLater(packedPath);
  kv::FilePtr source = kv::openFile(path, "rb");
  kv::FilePtr in = kv::openFile(samplePath, "w+b");
  kv::FilePtr out = kv::openFile(packedPath, "wb");
  if (!source) return "cannot read '" + path + "': " + std::strerror(errno);
  if (!in || !out) return "cannot write in '" + folder + "': " + std::strerror(errno);
  std::vector<char> piece(kProbePiece);
  *sample = 0;
  for (const ProbeRange& range : probeRanges(entry.size)) {
    for (uint64_t done = 0; done < range.size;) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(range.size - done, piece.size()));
      if (kv::fs::seek(source.get(), static_cast<int64_t>(range.offset + done), SEEK_SET) != 0)
        return "cannot read '" + path + "': " + std::strerror(errno);
      const size_t got = std::fread(piece.data(), 1, want, source.get());
      if (got == 0) return "cannot read '" + path + "': it changed while being archived";
      if (std::fwrite(piece.data(), 1, got, in.get()) != got)
        return "cannot write '" + samplePath + "': " + std::strerror(errno);
      done += got;
      *sample += got;
    }
  }
  if (std::fflush(in.get()) != 0 || kv::fs::seek(in.get(), 0, SEEK_SET) != 0)
    return "cannot write '" + samplePath + "': " + std::strerror(errno);
  int status = 0;
  std::string error = run(kProbeCommand, folder, status, fileno(in.get()), fileno(out.get()));
  if (!error.empty()) return error;
  struct stat written;
  if (status != 0 || ::fstat(fileno(out.get()), &written) != 0)
    return "7zz could not probe '" + path + "' (exit status " + std::to_string(status) + ")";
  *packed = static_cast<uint64_t>(written.st_size);
  return "";
}

std::string ArchiveFolder::addEntries(const std::string& directory,
                                      const std::vector<TreeEntry>& entries,
                                      const std::vector<std::string>& methodSwitches,
                                      bool showProgress, const std::string& archivePath) {
  const std::string listPath = archivePath + ".list";
  removeLater(listPath);
  {
    kv::FilePtr list = kv::openFile(listPath, "wb");
    bool written = list != nullptr;
    // 7zz trims each line and takes off one pair of quotes around it.
    for (const TreeEntry& entry : entries)
      written = written && std::fprintf(list.get(), "\"%s\"\n", entry.path.c_str()) > 0;
    if (!written || std::fflush(list.get()) != 0)
      return "cannot write '" + listPath + "': " + std::strerror(errno);
  }
  std::vector<std::string> args = {"7zz", "a", "-t7z"};
  args.insert(args.end(), methodSwitches.begin(), methodSwitches.end());
  std::optional<uint64_t> epoch;
  std::string error = sourceDateEpoch(&epoch);
  if (!error.empty()) return error;
  const std::vector<std::string>& stable = epoch ? kEpochSwitches : kStableSwitches;
  args.insert(args.end(), stable.begin(), stable.end());
  if (showProgress) {
    args.insert(args.end(), {"-bso0", "-bsp2"});
  } else {
    args.insert(args.end(), {"-bd", "-bso0", "-bsp0"});
  }
  // The archive and list paths are absolute, so neither reads as a switch.
  args.insert(args.end(), {"-spd", "-y", "-scsUTF-8", archivePath, "@" + listPath});
  int status = 0;
  error = run(args, directory, status);
  if (!error.empty()) return error;
  if (status != 0)
    return "7zz could not archive '" + directory + "' (exit status " + std::to_string(status) + ")";
  return "";
}

std::string ArchiveFolder::archiveDirectory(const std::string& directory,
                                            const TreeListing& listing, const std::string& method,
                                            const std::string& name, const std::string& outputHint,
                                            bool showProgress, std::string& archivePath) {
  if (!kv::fs::canOpenDirectory(directory))
    return "cannot read directory '" + directory + "': " + std::strerror(errno);
  std::string folder;
  std::string error = folderOutside(directory, outputHint, folder);
  if (!error.empty()) return error;
  archivePath = folder + "/" + name;
  files_.push_back(archivePath);
  std::vector<TreeEntry> common;
  std::vector<TreeEntry> small;
  std::vector<std::string> switches;
  if (method == kDefaultMethod) {
    switches = kDefaultMethodSwitches;
    error = splitByContent(
        listing,
        [&](const TreeEntry& entry, uint64_t* sample, uint64_t* packed) {
          return probe(directory, folder, entry, sample, packed);
        },
        &common, &small);
    if (!error.empty()) return error;
  } else {
    common = listing.entries;
    switches.push_back("-m0=" + method);
    // Without a fixed block size, LZMA2's bytes depend on the thread count.
    std::string lower = method;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("lzma2", 0) == 0 && lower.find(":c=") == std::string::npos)
      switches.push_back("-mmt1");
  }
  // The small blocks are added to the archive after the common ones (7zz
  // keeps the blocks it has and appends new ones); an empty tree still
  // makes an archive.
  if (!common.empty() || small.empty()) {
    error = addEntries(directory, common, switches, showProgress, archivePath);
    if (!error.empty()) return error;
  }
  if (!small.empty()) {
    error = addEntries(directory, small, kSmallBlockSwitches, showProgress, archivePath);
    if (!error.empty()) return error;
  }
  if (!isSevenZipFile(archivePath)) return "7zz made no archive of '" + directory + "'";
  std::optional<uint64_t> epoch;
  error = sourceDateEpoch(&epoch);
  if (!error.empty()) return error;
  if (epoch) return setArchiveTimes(archivePath, listing.entries.size(), *epoch);
  return "";
}

bool isSevenZipFile(const std::string& path) {
  kv::FilePtr file = kv::openFile(path, "rb");
  if (!file) return false;
  unsigned char head[sizeof kSevenZipSignature];
  return std::fread(head, 1, sizeof head, file.get()) == sizeof head &&
         std::memcmp(head, kSevenZipSignature, sizeof head) == 0;
}

}  // namespace mkbundle
