// Helpers for the extraction tests: temporary folders, archives made at test
// time with 7zz (or py7zr for names 7zz would never store), source trees,
// tree comparison and a progress sink that records its calls.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/fs.h"
#include "base/progress.h"
#include "extract/block_stream.h"
#include "extract/extract_archive.h"
#include "test_support.h"

namespace kv {
namespace extract_test {

namespace stdfs = std::filesystem;

inline std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Scratch folders and files: the unit tests' shared helpers.
using TempDir = kvtest::ScratchDir;
using kvtest::readFile;
using kvtest::writeFile;

// Runs a shell command; its output goes to `log`, shown when it fails.
inline void runShell(const std::string& command, const std::string& log) {
  const std::string full = "(" + command + ") >" + shellQuote(log) + " 2>&1";
  const int status = std::system(full.c_str());
  std::ifstream in(log);
  std::stringstream output;
  output << in.rdbuf();
  ASSERT_EQ(status, 0) << command << "\n" << output.str();
}

// Archives the contents of `sourceDir` (names relative to it) with 7zz.
inline void make7z(const std::string& archive, const std::string& sourceDir,
                   const std::string& switches) {
  runShell("cd " + shellQuote(sourceDir) + " && 7zz a -bd -y " + switches + " " +
               shellQuote(archive) + " .",
           archive + ".log");
}

// Archives `file` once per name, in the given order, under names of our
// choosing (py7zr stores any name as given).
inline void makeNamed7z(const std::string& archive, const std::string& file,
                        const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) {
    list += "'";
    for (char c : name) {
      if (c == '\\' || c == '\'') list += '\\';
      list += c;
    }
    list += "',";
  }
  const std::string script = "import py7zr\nwith py7zr.SevenZipFile('" + archive +
                             "', 'w') as z:\n    for n in [" + list + "]:\n        z.write('" +
                             file + "', n)\n";
  writeFile(archive + ".py", script);
  runShell("/usr/bin/python3 " + shellQuote(archive + ".py"), archive + ".log");
}

// The methods 7zz reports for an archive, one "Method = ..." per line.
inline std::string archiveMethods(const std::string& archive) {
  runShell("7zz l -slt " + shellQuote(archive) + " | grep '^Method = .'", archive + ".list");
  return readFile(archive + ".list");
}

inline std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

// A tree that exercises every coder: machine code (for the branch
// filters), random bytes, compressible text, an empty file, nested folders
// and names outside ASCII.
inline void makeSourceTree(const std::string& dir) {
  writeFile(dir + "/bin/tool", readFile("/bin/ls"));
  writeFile(dir + "/data/random.bin", randomBytes(150000, 7));
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i % 97) + " of some text\n";
  writeFile(dir + "/data/text.txt", text);
  writeFile(dir + "/empty.txt", "");
  writeFile(dir + "/deep/er/still/leaf.txt", "leaf\n");
  writeFile(dir +
                "/\xC3\xBCnic\xC3\xB8"
                "de/\xE2\x82\xAC \xF0\x9F\x98\x80.txt",
            "unicode\n");
}

// Relative path -> content of every regular file below `dir`.
inline std::map<std::string, std::string> treeFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& item : stdfs::recursive_directory_iterator(dir)) {
    if (item.is_regular_file()) {
      files[stdfs::relative(item.path(), dir).string()] = readFile(item.path().string());
    }
  }
  return files;
}

inline bool sameTree(const std::string& expected, const std::string& actual) {
  return treeFiles(expected) == treeFiles(actual);
}

class RecordingProgress : public IProgress {
 public:
  void start(int total) override { calls.push_back("start(" + std::to_string(total) + ")"); }
  void update(int done) override { calls.push_back("update(" + std::to_string(done) + ")"); }
  void finish() override { calls.push_back("finish()"); }
  std::vector<std::string> calls;
};

struct Extraction {
  int result = -1;
  std::string output;  // standard output during the extraction
};

// Extracts bytes [start, end) of `file` (whole file when end is 0).
inline Extraction extractFile(const std::string& file, const std::string& targetDir,
                              IProgress* progress, uint32_t start = 0, uint32_t end = 0) {
  Extraction extraction;
  FilePtr in = openFile(file, "rb");
  EXPECT_TRUE(in) << file;
  if (!in) return extraction;
  if (end == 0) end = static_cast<uint32_t>(stdfs::file_size(file));
  BlockStream stream(in.get(), start, end);
  testing::internal::CaptureStdout();
  extraction.result = extractArchive(targetDir, progress, stream);
  std::fflush(stdout);
  extraction.output = testing::internal::GetCapturedStdout();
  return extraction;
}

inline mode_t permissionsOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Sets the umask for one scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }

 private:
  mode_t saved_;
};

}  // namespace extract_test
}  // namespace kv
