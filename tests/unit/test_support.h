// Helpers for the unit tests: scratch folders, small files, and launcher
// files with a bundle appended (image bytes, then blocks with footers).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes out of scope.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
// Creates the parent folders of `path` too.
void writeFileWithParents(const std::string& path, const std::string& content);
bool pathExists(const std::string& path);

struct Block {
  char tag;
  std::string data;
};

// Writes `image`, then each block zero-padded to a multiple of 8 with its
// footer. Returns the offsets at which the blocks start.
std::vector<uint32_t> writeLauncher(const std::string& path, const std::string& image,
                                    const std::vector<Block>& blocks);

// Runs a shell command; returns its exit status.
int runShell(const std::string& command);

}  // namespace kvtest
