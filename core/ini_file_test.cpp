#include "core/ini_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "test_support.h"

namespace kv {
namespace {

using Strings = std::vector<std::string>;

// A fresh folder, removed afterwards.
class IniFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    dir_ = scratch_.path();
  }
  std::string write(const std::string& name, const std::string& content) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  kvtest::ScratchDir scratch_;
  std::string dir_;
};

TEST(IniName, ExamplesAndRules) {
  EXPECT_EQ(iniNameFor("C:\\dist\\setup.exe"), "C:\\dist\\setup.ini");
  EXPECT_EQ(iniNameFor("/media/setup_linux"), "/media/setup.ini");
  EXPECT_EQ(iniNameFor("/opt/my_dir/setup"), "/opt/my_dir/setup.ini");
  EXPECT_EQ(iniNameFor("setup_linux64"), "setup.ini");
  EXPECT_EQ(iniNameFor("/media/SETUP.EXE"), "/media/SETUP.EXE.ini");  // lower case only
  EXPECT_EQ(iniNameFor(".exe"), ".ini");
  EXPECT_EQ(iniNameFor("exe"), "exe.ini");
  EXPECT_EQ(iniNameFor(""), ".ini");
  EXPECT_EQ(iniNameFor("/a/b_c.exe"), "/a/b_c.ini");  // ".exe" wins over '_'
}

TEST(IniName, DefaultCandidates) {
  EXPECT_EQ(defaultIniCandidates("/media/kv/setup_linux", kLinuxHost),
            (Strings{"/media/kv/setup.ini", "/media/kv/../installer_customization/setup.ini"}));
  EXPECT_EQ(defaultIniCandidates("C:\\dist\\setup.exe", kWindowsHost),
            (Strings{"C:\\dist\\setup.ini", "C:\\dist\\..\\installer_customization\\setup.ini"}));
  // Either separator marks the folder; the inserted one is the host's.
  EXPECT_EQ(defaultIniCandidates("C:/dist/setup.exe", kWindowsHost)[1],
            "C:/dist/..\\installer_customization\\setup.ini");
  EXPECT_EQ(defaultIniCandidates("setup_linux", kLinuxHost), (Strings{"setup.ini", "setup.ini"}));
}

TEST(IniName, IniDirectory) {
  EXPECT_EQ(iniDirectoryFor("/media/setup.ini", kLinuxHost, "/cwd"), "/media");
  EXPECT_EQ(iniDirectoryFor("setup.ini", kLinuxHost, "/cwd"), "/cwd");
  EXPECT_EQ(iniDirectoryFor("conf/setup.ini", kLinuxHost, "/cwd"), "/cwd/conf");
  EXPECT_EQ(iniDirectoryFor("/setup.ini", kLinuxHost, "/cwd"), "/");
  EXPECT_EQ(iniDirectoryFor("C:\\dist\\setup.ini", kWindowsHost, "D:\\w"), "C:\\dist");
  EXPECT_EQ(iniDirectoryFor("setup.ini", kWindowsHost, "D:\\w"), "D:\\w");
  EXPECT_EQ(iniDirectoryFor("sub\\setup.ini", kWindowsHost, "D:\\w"), "D:\\w\\sub");
}

TEST_F(IniFileTest, LinesCommentsAndPlaceholder) {
  std::string path = write("setup.ini",
                           "  ${iniloc}/plugins  \n"
                           "-data=${iniloc}/ws\n"
                           "# comment\n"
                           "\n"
                           "   \t \n"
                           "  # indented comment\n"
                           "-Dname=Value\r\n"
                           "a # not a comment\n"
                           "${iniloc}:${iniloc}\n"
                           "two words  kept\n"
                           "last line");
  Strings lines;
  ASSERT_TRUE(readIniFile(path, kLinuxHost, lines));
  EXPECT_EQ(lines,
            (Strings{dir_ + "/plugins", "-data=" + dir_ + "/ws", "-Dname=Value",
                     "a # not a comment", dir_ + ":${iniloc}", "two words  kept", "last line"}));
}

TEST_F(IniFileTest, LongLinesAreWhole) {
  std::string longLine(5000, 'x');
  longLine += "${iniloc}";
  std::string path = write("setup.ini", "a\n" + longLine + "\nb\n");
  Strings lines;
  ASSERT_TRUE(readIniFile(path, std::string("/m"), lines));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], std::string(5000, 'x') + "/m");
  EXPECT_EQ(lines[2], "b");
}

TEST_F(IniFileTest, RelativePathUsesTheCurrentDirectory) {
  write("setup.ini", "${iniloc}/x\n");
  std::string saved = std::filesystem::current_path().string();
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  Strings lines;
  bool read = readIniFile("setup.ini", kLinuxHost, lines);
  std::string here = std::filesystem::current_path().string();
  ASSERT_EQ(chdir(saved.c_str()), 0);
  ASSERT_TRUE(read);
  EXPECT_EQ(lines, (Strings{here + "/x"}));
}

TEST_F(IniFileTest, UnreadableFilesAreSkippedQuietly) {
  Strings lines{"stale"};
  EXPECT_FALSE(readIniFile(dir_ + "/missing.ini", kLinuxHost, lines));
  EXPECT_TRUE(lines.empty());
  std::filesystem::create_directory(dir_ + "/folder.ini");
  EXPECT_FALSE(readIniFile(dir_ + "/folder.ini", kLinuxHost, lines));
  EXPECT_FALSE(readIniFile("", kLinuxHost, lines));

  std::string empty = write("empty.ini", "");
  EXPECT_TRUE(readIniFile(empty, kLinuxHost, lines));
  EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace kv
