#include "platform/linux/gtk_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "core/arg_list.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::readFile;
using kvtest::ScopedEnv;
using kvtest::ScratchDir;
using kvtest::writeFile;

TEST(GtkLogTest, LevelPrefixComparesWholeValue) {
  EXPECT_STREQ("Gtk-ERROR:", logLevelPrefix(G_LOG_LEVEL_ERROR));
  EXPECT_STREQ("Gtk-CRITICAL:", logLevelPrefix(G_LOG_LEVEL_CRITICAL));
  EXPECT_STREQ("Gtk-WARNING:", logLevelPrefix(G_LOG_LEVEL_WARNING));
  EXPECT_STREQ("Gtk-MESSAGE:", logLevelPrefix(G_LOG_LEVEL_MESSAGE));
  EXPECT_STREQ("Gtk-LOG:", logLevelPrefix(G_LOG_LEVEL_INFO));
  EXPECT_STREQ("Gtk-LOG:", logLevelPrefix(G_LOG_LEVEL_DEBUG));
  // A fatal critical message, and an error met during recursion.
  EXPECT_STREQ("Gtk-LOG:", logLevelPrefix(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL |
                                                                      G_LOG_FLAG_FATAL)));
  EXPECT_STREQ("Gtk-LOG:", logLevelPrefix(static_cast<GLogLevelFlags>(G_LOG_LEVEL_ERROR |
                                                                      G_LOG_FLAG_RECURSION)));
}

TEST(GtkLogTest, TimestampIsCtimeWithoutLineEnd) {
  std::string stamp = logTimestamp();
  ASSERT_EQ(24u, stamp.size());
  EXPECT_EQ(':', stamp[13]);
  EXPECT_EQ(':', stamp[16]);
}

// "[" + 24-character timestamp + "]" + rest; returns rest, or "?" on mismatch.
std::string afterStamp(const std::string& line) {
  if (line.size() < 26 || line[0] != '[' || line[25] != ']') return "?";
  return line.substr(26);
}

TEST(GtkLogTest, HeaderOnceThenOneLinePerMessage) {
  ScratchDir dir;
  GtkLog log;
  log.setArguments({"./setup_linux", "-console", "two words"});
  log.append(dir / "log", G_LOG_LEVEL_WARNING, "first");
  log.append(dir / "log", G_LOG_LEVEL_MESSAGE, "second");

  std::string text = readFile(dir / "log");
  ASSERT_EQ('\n', text[0]);
  std::istringstream lines(text.substr(1));
  std::string header, first, second, extra;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ("./setup_linux -console two words", afterStamp(header));
  EXPECT_EQ("Gtk-WARNING: first", afterStamp(first));
  EXPECT_EQ("Gtk-MESSAGE: second", afterStamp(second));
  EXPECT_FALSE(std::getline(lines, extra));
}

TEST(GtkLogTest, OverlongHeaderAndLineAreCutButKeepLineEnd) {
  ScratchDir dir;
  GtkLog log;
  log.setArguments({"prog", std::string(3000, 'a')});
  log.append(dir / "log", G_LOG_LEVEL_ERROR, std::string(5000, 'm').c_str());
  std::string text = readFile(dir / "log");
  size_t headerEnd = text.find('\n', 1);
  ASSERT_NE(std::string::npos, headerEnd);
  EXPECT_EQ(1023u, headerEnd + 1);
  std::string line = text.substr(headerEnd + 1);
  EXPECT_EQ(2047u, line.size());
  EXPECT_EQ('\n', line.back());
  EXPECT_EQ(0u, afterStamp(line).find("Gtk-ERROR: mmm"));
}

TEST(GtkLogTest, UnwritableLogDropsMessage) {
  GtkLog log;
  log.append("/nonexistent-folder/log", G_LOG_LEVEL_WARNING, "lost");
  ScratchDir dir;
  log.append(dir / "log", G_LOG_LEVEL_WARNING, "kept");
  // The header was not written with the dropped message, so it comes now.
  EXPECT_EQ('\n', readFile(dir / "log")[0]);
}

TEST(GtkLogTest, NeverThroughLinkPipeOrSecondNameAndOneMessageIsOneLine) {
  ScratchDir dir;
  writeFile(dir / "target", "");
  ::symlink((dir / "target").c_str(), (dir / "link").c_str());
  ::symlink((dir / "created").c_str(), (dir / "dangling").c_str());
  ::link((dir / "target").c_str(), (dir / "hard").c_str());
  ::mkfifo((dir / "fifo").c_str(), 0600);
  GtkLog log;
  for (const char* name : {"link", "dangling", "hard", "fifo"}) {
    log.append(dir / name, G_LOG_LEVEL_WARNING, "x");  // must not block on the pipe
  }
  EXPECT_EQ("", readFile(dir / "target"));
  EXPECT_FALSE(std::filesystem::exists(dir / "created"));

  log.setArguments({"prog", "a\nb"});
  log.append(dir / "log", G_LOG_LEVEL_WARNING, "Error loading icon:\n\tbad\r\x1b[0m\\n");
  std::string text = readFile(dir / "log");
  EXPECT_EQ(3, std::count(text.begin(), text.end(), '\n')) << text;
  EXPECT_NE(std::string::npos, text.find("]prog a\\nb\n"));
  EXPECT_NE(std::string::npos,
            text.find("Gtk-WARNING: Error loading icon:\\n\\tbad\\r\\x1b[0m\\n\n"));
}

TEST(GtkLogTest, HandlerAppendsToHomeFolderLog) {
  ScratchDir home;
  ScopedEnv env("HOME", home.path());
  GrowableArgList args;
  args.push("setup_linux");
  args.push("-x");
  saveLogArguments(args);
  gtkLogHandler("Gdk", G_LOG_LEVEL_CRITICAL, "oops", nullptr);
  std::string text = readFile(home / ".kvInstaller.log");
  EXPECT_NE(std::string::npos, text.find("]Gtk-CRITICAL: oops\n"));
  EXPECT_NE(std::string::npos, text.find("]setup_linux -x\n"));
}

}  // namespace
}  // namespace kv
