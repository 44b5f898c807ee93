#include "test_support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kvtest {

ScratchDir::ScratchDir() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvtest-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data())) path_ = buffer.data();
}

ScratchDir::~ScratchDir() {
  if (!path_.empty())
    runShell("chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'");
}

void writeFile(const std::string& path, const std::string& content) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  EXPECT_TRUE(out.good()) << path;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void writeScript(const std::string& path, const std::string& body) {
  writeFile(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
}

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* old = getenv(name)) old_ = old;
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    setenv(name_, old_->c_str(), 1);
  } else {
    unsetenv(name_);
  }
}

bool pathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<uint32_t> writeLauncher(const std::string& path, const std::string& image,
                                    const std::vector<Block>& blocks) {
  std::string bytes = image;
  std::vector<uint32_t> starts;
  for (const Block& block : blocks) {
    uint32_t start = static_cast<uint32_t>(bytes.size());
    starts.push_back(start);
    bytes += block.data;
    while (bytes.size() % 8 != 0) bytes.push_back('\0');
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((start >> (8 * i)) & 0xff));
    bytes += "kvi";
    bytes.push_back(block.tag);
  }
  writeFile(path, bytes);
  return starts;
}

int runShell(const std::string& command) {
  int status = system(command.c_str());
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace kvtest
