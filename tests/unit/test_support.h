// Helpers for the unit tests: scratch folders, small files, and launcher
// files with a bundle appended (image bytes, then blocks with footers).
#pragma once

#include <cstdint>
#include <optional>
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

// Writes `content` to `path`, creating its parent folders.
void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
// A shell script (mode 0755) with the given body after "#!/bin/sh".
void writeScript(const std::string& path, const std::string& body);
bool pathExists(const std::string& path);

// Sets (or, with none, unsets) an environment variable for its lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

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
