#include "platform/linux/logo_extractor.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include "base/fs.h"
#include "core/platform.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::readFile;
using kvtest::ScratchDir;
using kvtest::writeFile;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string("\0\x01logo", 6);

// A launcher file with some image bytes, then the logo data; the returned
// descriptor covers the logo.
BlockDescriptor writeLauncher(const std::string& path) {
  writeFile(path, "IMAGE" + kPng);
  BlockDescriptor block;
  block.start = 5;
  block.end = static_cast<uint32_t>(5 + kPng.size());
  block.magic[0] = 'k';
  block.magic[1] = 'v';
  block.magic[2] = 'i';
  block.magic[3] = kTagLogo;
  return block;
}

TEST(LogoExtractorTest, LogoFileNamedByProcessId) {
  EXPECT_EQ("/tmp/" + std::to_string(getpid()) + "_kvlogo.png", logoFilePath());
}

TEST(LogoExtractorTest, WritesLogoBlockAndStopsWalk) {
  ScratchDir dir;
  BlockDescriptor block = writeLauncher(dir / "setup");
  FilePtr file = openFile(dir / "setup", "rb");
  LogoExtractor extractor(dir / "logo.png");
  BlockDescriptor other = block;
  other.magic[3] = kTagVersion;
  EXPECT_TRUE(extractor.visit(file.get(), other));
  EXPECT_FALSE(extractor.created());
  EXPECT_FALSE(extractor.visit(file.get(), block));
  EXPECT_TRUE(extractor.created());
  EXPECT_EQ(kPng, readFile(dir / "logo.png"));
}

TEST(LogoExtractorTest, NeverWritesThroughPlantedLinkOrOverExistingFile) {
  ScratchDir dir;
  BlockDescriptor block = writeLauncher(dir / "setup");
  FilePtr file = openFile(dir / "setup", "rb");
  writeFile(dir / "victim", "precious");
  const std::string logo = logoFilePath();  // this test process's name
  ::unlink(logo.c_str());
  ASSERT_EQ(0, symlink((dir / "victim").c_str(), logo.c_str()));

  LogoExtractor throughLink;
  EXPECT_FALSE(throughLink.visit(file.get(), block));
  EXPECT_FALSE(throughLink.created());
  EXPECT_EQ("precious", readFile(dir / "victim"));
  ::unlink(logo.c_str());

  writeFile(logo, "someone else's");
  LogoExtractor overFile;
  EXPECT_FALSE(overFile.visit(file.get(), block));
  EXPECT_FALSE(overFile.created());
  EXPECT_EQ("someone else's", readFile(logo));
  ::unlink(logo.c_str());

  LogoExtractor fresh;
  EXPECT_FALSE(fresh.visit(file.get(), block));
  EXPECT_TRUE(fresh.created());
  EXPECT_EQ(kPng, readFile(logo));
  ::unlink(logo.c_str());
}

std::string footer(uint32_t start, char tag) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((start >> (8 * i)) & 0xff));
  return bytes + "kvi" + tag;
}

// "IMAGE", then an optional logo block, then a 'v' block.
void writeBundle(const std::string& path, bool withLogo) {
  std::string file = "IMAGE";
  if (withLogo) {
    uint32_t start = static_cast<uint32_t>(file.size());
    file += kPng + footer(start, kTagLogo);
  }
  uint32_t start = static_cast<uint32_t>(file.size());
  file += "version=1.0.0.a\n" + footer(start, kTagVersion);
  writeFile(path, file);
}

TEST(LogoExtractorTest, LogoFileLifeInTheLauncher) {
  ScratchDir dir;
  const std::string logo = logoFilePath();
  ::unlink(logo.c_str());

  writeBundle(dir / "plain", false);
  FilePtr plain = openFile(dir / "plain", "rb");
  extractLogo(plain.get());
  EXPECT_FALSE(std::filesystem::exists(logo));
  writeFile(logo, "not ours");
  removeLogoFile();  // did not create it: leaves it alone
  EXPECT_EQ("not ours", readFile(logo));
  ::unlink(logo.c_str());

  writeBundle(dir / "branded", true);
  FilePtr branded = openFile(dir / "branded", "rb");
  extractLogo(branded.get());
  EXPECT_EQ(kPng, readFile(logo));
  removeLogoFile();
  EXPECT_FALSE(std::filesystem::exists(logo));
}

}  // namespace
}  // namespace kv
