// Extracts with the launcher's code into mkdtemp()'s folder, then removes it
// without following links (the archives may hold some).
#include "tools/mkbundle/trial_install.h"

#include <errno.h>
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>

#include "core/bundle.h"
#include "core/host_rules.h"
#include "core/payload_extraction.h"

namespace mkbundle {
namespace {

class TrialHandler : public kv::TagHandler {
 public:
  explicit TrialHandler(const std::string& installDir) : installDir_(installDir) {}
  bool visit(std::FILE* file, const kv::BlockDescriptor& block) override {
    const std::string role = archiveRole(block.tag());
    if (role.empty()) return true;
    std::string failure;
    const int result =
        kv::extractBundleArchive(file, block, installDir_, kv::kLinuxHost, nullptr, &failure);
    if (result == 0) return true;
    while (!failure.empty() && failure.back() == '\n') failure.pop_back();
    problem = "a trial install into an empty folder stops at the " + role + " (block " +
              std::string(1, block.tag()) + " at " + std::to_string(block.start) +
              "): the launcher would fail with error " + std::to_string(result) +
              (failure.empty() ? "" : ": " + failure);
    return false;
  }
  std::string problem;

 private:
  std::string installDir_;
};

int removeEntry(const char* path, const struct stat*, int type, struct FTW*) {
  return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
}

// Removes the trial folder when it goes out of scope.
class TrialFolder {
 public:
  TrialFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvtrial-XXXXXX";
    if (::mkdtemp(&pattern[0])) path_ = pattern;
  }
  ~TrialFolder() {
    if (!path_.empty()) ::nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  TrialFolder(const TrialFolder&) = delete;
  TrialFolder& operator=(const TrialFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string trialInstall(std::FILE* file, int64_t endOffset) {
  TrialFolder folder;
  if (folder.path().empty())
    return std::string("cannot make a folder for the trial install: ") + std::strerror(errno);
  // Like a new install: the install folder itself does not exist yet.
  TrialHandler trial(folder.path() + "/install");
  if (!kv::walkBundleFrom(file, trial, endOffset)) return "the launcher would find no bundle";
  return trial.problem;
}

std::string archiveRole(char tag) {
  switch (tag) {
    case kv::kTagInstaller:
      return "installer";
    case kv::kTagJre:
      return "runtime";
    case kv::kTagPayload:
      return "payload";
  }
  return "";
}

}  // namespace mkbundle
