#include "core/installer_version.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/host_rules.h"
#include "core/install_layout.h"
#include "test_support.h"

namespace kv {
namespace {

namespace stdfs = std::filesystem;

InstallerVersion v(int major, int minor, int micro, const char* qualifier) {
  InstallerVersion version;
  version.major = major;
  version.minor = minor;
  version.micro = micro;
  version.qualifier = qualifier;
  return version;
}

void expectVersion(const InstallerVersion& got, int major, int minor, int micro,
                   const std::string& qualifier) {
  EXPECT_EQ(got.major, major);
  EXPECT_EQ(got.minor, minor);
  EXPECT_EQ(got.micro, micro);
  EXPECT_EQ(got.qualifier, qualifier);
}

TEST(InstallerVersionParse, ReadsAllFourParts) {
  InstallerVersion version;
  ASSERT_TRUE(parseVersion("version=2.7.3.271REL03_201509181225", version));
  expectVersion(version, 2, 7, 3, "271REL03_201509181225");

  InstallerVersion second;
  ASSERT_TRUE(parseVersion("name=x\r\nversion=1.0.0.a\r\n", second));
  expectVersion(second, 1, 0, 0, "a");

  // Numbers beyond the int range are held at its ends, from the first value
  // past them on; one that fits stays.
  InstallerVersion huge;
  ASSERT_TRUE(parseVersion("version=2147483648.99999999999999999999999.-2147483649.q", huge));
  expectVersion(huge, INT_MAX, INT_MAX, INT_MIN, "q");
  ASSERT_TRUE(parseVersion("version=2147483647.-2147483648.0.q", huge));
  expectVersion(huge, INT_MAX, INT_MIN, 0, "q");
}

TEST(InstallerVersionParse, KeyMustStartTheLineWithEqualsRightAfterIt) {
  InstallerVersion version;
  EXPECT_FALSE(parseVersion("Version=1.0.0.a", version));
  EXPECT_FALSE(parseVersion(" version=1.0.0.a", version));
  EXPECT_FALSE(parseVersion("version = 1.0.0.a", version));
  EXPECT_FALSE(parseVersion("versions=1.0.0.a\nxversion=1.0.0.a", version));
  EXPECT_FALSE(parseVersion("", version));
}

TEST(InstallerVersionParse, MissingPartsStayZeroAndQualifierStopsAtWhiteSpace) {
  InstallerVersion version = v(9, 9, 9, "old");
  ASSERT_TRUE(parseVersion("version=3.1", version));
  expectVersion(version, 3, 1, 0, "");
  ASSERT_TRUE(parseVersion("version=", version));
  expectVersion(version, 0, 0, 0, "");
  ASSERT_TRUE(parseVersion("version=4.5.6.q1 trailing words\nother=1", version));
  expectVersion(version, 4, 5, 6, "q1");
}

TEST(InstallerVersionProperty, FirstMatchingLineAndItsLineEnd) {
  EXPECT_EQ(getProperty("a=1\nb=2\r\nb=3", "b"), std::optional<std::string>("2"));
  EXPECT_EQ(getProperty("a=1\nb=", "b"), std::optional<std::string>(""));
  EXPECT_EQ(getProperty("a=1\nb=last", "b"), std::optional<std::string>("last"));
  EXPECT_EQ(getProperty("a=x=y\n", "a"), std::optional<std::string>("x=y"));
  EXPECT_FALSE(getProperty("a=1\nb", "b").has_value());
}

TEST(InstallerVersionOrder, NumbersThenQualifierBytes) {
  EXPECT_TRUE(isNewer(v(2, 7, 3, "b"), v(2, 7, 3, "a")));
  EXPECT_FALSE(isNewer(v(2, 7, 3, "a"), v(2, 7, 3, "a")));
  EXPECT_TRUE(isNewer(v(2, 10, 0, "a"), v(2, 9, 9, "z")));
  EXPECT_TRUE(isNewer(v(3, 0, 0, "a"), v(2, 99, 99, "z")));
  EXPECT_FALSE(isNewer(v(2, 7, 3, "A"), v(2, 7, 3, "a")));
  EXPECT_TRUE(isNewer(v(2, 7, 3, "a1"), v(2, 7, 3, "a")));
  EXPECT_TRUE(isNewer(v(2, 7, 3, "\xe9"), v(2, 7, 3, "z")));  // unsigned bytes
  EXPECT_TRUE(isNewer(v(0, 0, 0, ""), v(-1, 5, 5, "z")));     // signed numbers
}

class InstalledVersionFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    dir_ = scratch_.path();
  }

  void write(const char* platform, const std::string& content) {
    stdfs::path folder = dir_ / "maintenance" / "kvInstaller" / platform;
    stdfs::create_directories(folder);
    std::ofstream(folder / ".eclipseproduct", std::ios::binary) << content;
  }

  kvtest::ScratchDir scratch_;
  stdfs::path dir_;
};

TEST_F(InstalledVersionFile, PathUsesForwardSlashesOnBothHosts) {
  EXPECT_EQ(installedVersionFile("C:\\kv", kWindowsHost),
            "C:\\kv/maintenance/kvInstaller/x86-win32/.eclipseproduct");
  EXPECT_EQ(installedVersionFile("/opt/kv", kLinuxHost),
            "/opt/kv/maintenance/kvInstaller/x86-linux2/.eclipseproduct");
}

TEST_F(InstalledVersionFile, ReadsThePlatformsFile) {
  write("x86-linux2", "name=kvInstaller\nid=com.korvane\nversion=2.7.3.271REL03_201509181225\n");
  write("x86-win32", "version=1.2.3.win\r\n");
  InstallerVersion version;
  ASSERT_TRUE(readInstalledVersion(dir_.string(), kLinuxHost, version));
  expectVersion(version, 2, 7, 3, "271REL03_201509181225");
  ASSERT_TRUE(readInstalledVersion(dir_.string(), kWindowsHost, version));
  expectVersion(version, 1, 2, 3, "win");
}

TEST_F(InstalledVersionFile, MissingFileIsFalse) {
  InstallerVersion version;
  EXPECT_FALSE(readInstalledVersion(dir_.string(), kLinuxHost, version));
}

TEST_F(InstalledVersionFile, OnlyTheFirst1024BytesCount) {
  std::string filler = "comment=" + std::string(1000, 'x') + "\n";  // 1009 bytes
  write("x86-linux2", filler + "version=1.2.3.abcdefghijklmnopqrstuvwxyz\n");
  InstallerVersion version;
  ASSERT_TRUE(readInstalledVersion(dir_.string(), kLinuxHost, version));
  expectVersion(version, 1, 2, 3, "a");  // 1009 + "version=1.2.3.a" = 1024

  write("x86-linux2", std::string(1024, '#') + "\nversion=1.2.3.a\n");
  EXPECT_FALSE(readInstalledVersion(dir_.string(), kLinuxHost, version));
}

}  // namespace
}  // namespace kv
