#include "core/usage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace kv {
namespace {

std::string captured(void (*print)()) {
  testing::internal::CaptureStdout();
  print();
  return testing::internal::GetCapturedStdout();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the text ends with a newline";
  return lines;
}

// The column (tabs stopping every 8) at which `line`'s description starts:
// the first text after a tab or after two spaces past the indent; none for a
// line without one.
std::optional<size_t> descriptionColumn(const std::string& line) {
  std::string expanded;
  for (char c : line) {
    if (c == '\t') {
      do expanded += ' ';
      while (expanded.size() % 8 != 0);
    } else {
      expanded += c;
    }
  }
  const size_t indent = expanded.find_first_not_of(' ');
  if (indent == std::string::npos) return std::nullopt;
  if (indent >= 8) return indent;  // a continuation line
  const size_t gap = expanded.find("  ", indent);
  if (gap == std::string::npos) return std::nullopt;
  const size_t text = expanded.find_first_not_of(' ', gap);
  if (text == std::string::npos) return std::nullopt;
  return text;
}

// The texts themselves are checked word for word where users see them, on
// the launcher's output; here, the layout that every line of them keeps:
// descriptions line up, continuation lines are indented to that column, and
// the main text is framed by "-" lines.
TEST(Usage, MainUsageLinesUpItsDescriptions) {
  const std::vector<std::string> lines = linesOf(captured(printMainUsage));
  ASSERT_EQ(44u, lines.size());
  size_t described = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (i < 3 || i >= lines.size() - 4) {
      EXPECT_EQ('-', line.front()) << line;
      EXPECT_EQ('-', line.back()) << line;
      continue;
    }
    EXPECT_TRUE(line.rfind("  -", 0) == 0 || line.rfind("\t\t\t", 0) == 0) << line;
    if (std::optional<size_t> column = descriptionColumn(line)) {
      EXPECT_EQ(24u, *column) << line;
      ++described;
    }
  }
  EXPECT_EQ(35u, described);
}

TEST(Usage, YumUsageLinesUpCommandsAndOptions) {
  const std::vector<std::string> lines = linesOf(captured(printYumUsage));
  ASSERT_EQ(19u, lines.size());
  size_t commands = 0, options = 0;
  for (const std::string& line : lines) {
    std::optional<size_t> column = descriptionColumn(line);
    if (!column) continue;
    if (line.rfind("  -", 0) == 0) {
      EXPECT_EQ(24u, *column) << line;
      ++options;
    } else {
      EXPECT_EQ(15u, *column) << line;
      ++commands;
    }
  }
  EXPECT_EQ(9u, commands);
  EXPECT_EQ(4u, options);
}

struct Lists {
  Lists(std::initializer_list<const char*> main, std::initializer_list<const char*> vm) {
    for (const char* t : main) installer.push(t);
    for (const char* t : vm) vmArgs.push(t);
  }
  GrowableArgList installer;
  GrowableArgList vmArgs;
};

TEST(ArgListing, JoinedListsShowOnlyTheMainList) {
  Lists lists({"./setup", "-silent", "a b"}, {"-vmargs"});
  testing::internal::CaptureStdout();
  listArguments(lists.installer, lists.vmArgs);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "argv[0] = ./setup\nargv[1] = -silent\nargv[2] = a b\n");
}

TEST(ArgListing, VmArgumentsStillApartAreNumberedOn) {
  Lists lists({"./setup", "-x"}, {"-vmargs", "-Xmx1g"});
  testing::internal::CaptureStdout();
  listArguments(lists.installer, lists.vmArgs);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "argv[0] = ./setup\nargv[1] = -x\nargv[2] = -vmargs\nargv[3] = -Xmx1g\n");
}

// The listing written at exit shows the lists as they stand then, once, even
// when registered twice, and reaches the stream before the process ends.
void registerEditAndExit() {
  static Lists lists({"./setup"}, {"-vmargs"});
  dup2(2, 1);  // the death test checks standard error
  registerListArgsAtExit(&lists.installer, &lists.vmArgs);
  registerListArgsAtExit(&lists.installer, &lists.vmArgs);
  lists.installer.push("-late");
  std::exit(0);
}

TEST(ArgListingDeathTest, ListsAtExit) {
  EXPECT_EXIT(registerEditAndExit(), testing::ExitedWithCode(0),
              "^argv\\[0\\] = \\./setup\nargv\\[1\\] = -late\n$");
}

}  // namespace
}  // namespace kv
