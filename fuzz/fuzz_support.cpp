#include "fuzz/fuzz_support.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <sanitizer/common_interface_defs.h>

#include "core/platform.h"

// Single allocations above 64 MB fail (the decoder then reports "out of
// memory") instead of ending the run: a declared size is not a finding.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

namespace kvfuzz {

namespace {

std::vector<std::string>& scratchFolders() {
  static std::vector<std::string>* folders = new std::vector<std::string>();
  return *folders;
}

// At a normal exit (a finding aborts and leaves the folder for a look).
void removeScratchFolders() {
  for (const std::string& folder : scratchFolders()) kv::deleteFolderTree(folder);
}

}  // namespace

void fail(const char* file, int line, const char* what) {
  // Through the sanitizer's report channel: the runs' own standard error
  // is closed (-close_fd_mask) to keep the handlers' error lines out.
  const std::string message =
      std::string("check failed: ") + what + " at " + file + ":" + std::to_string(line);
  __sanitizer_report_error_summary(message.c_str());
  std::abort();
}

Scratch::Scratch(const char* name) {
  limitProcess();
  // In memory where the host offers it: runs write and delete files all
  // the time.
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = tmp && *tmp ? tmp : (kv::fs::isDirectory("/dev/shm") ? "/dev/shm" : "/tmp");
  std::string pattern = folder + "/kvfuzz-" + name + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) fail(__FILE__, __LINE__, "mkdtemp");
  base_ = buffer.data();
  target_ = base_ + "/target";
  if (::mkdir(target_.c_str(), 0700) != 0) fail(__FILE__, __LINE__, "mkdir target");
  scratchFolders().push_back(base_);
  static bool registered = false;
  if (!registered) registered = std::atexit(removeScratchFolders) == 0;
}

void Scratch::checkAndClear() {
  kv::fs::DirectoryReader reader(base_);
  std::string name;
  while (reader.next(name)) {
    if (name != "." && name != ".." && name != "target") {
      std::fprintf(stderr, "written outside the target folder: %s/%s\n", base_.c_str(),
                   name.c_str());
      std::abort();
    }
  }
  kv::fs::DirectoryReader target(target_);
  int entries = 0;
  while (target.next(name)) ++entries;
  target.close();
  if (entries > 2) {
    if (!kv::deleteFolderTree(target_)) fail(__FILE__, __LINE__, "clearing the target folder");
    if (::mkdir(target_.c_str(), 0700) != 0) fail(__FILE__, __LINE__, "mkdir target");
  }
}

kv::FilePtr openBytes(const uint8_t* data, size_t size) {
  // fmemopen refuses an empty buffer; /dev/null reads as one (kv::openFile
  // opens regular files only, so the C library's fopen is used here).
  if (size == 0) return kv::FilePtr(std::fopen("/dev/null", "rb"));
  return kv::FilePtr(fmemopen(const_cast<uint8_t*>(data), size, "rb"));
}

void limitProcess() {
  static bool done = false;
  if (done) return;
  done = true;
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = 16u << 20;
  setrlimit(RLIMIT_FSIZE, &limit);
  if (!std::freopen("/dev/null", "w", stdout)) fail(__FILE__, __LINE__, "stdout");
}

std::vector<std::string> splitTexts(const uint8_t* data, size_t size, char separator) {
  std::vector<std::string> texts;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (static_cast<char>(data[i]) == separator) {
      texts.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) texts.push_back(current);
  return texts;
}

}  // namespace kvfuzz
