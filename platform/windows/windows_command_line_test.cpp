#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/install_layout.h"
#include "platform/windows/windows_command_line.h"

namespace kv {
namespace {

// How a Windows C runtime splits the arguments after the program name
// (the rule quoteWindowsArgument() must be the inverse of).
std::vector<std::string> splitArguments(const std::string& line) {
  std::vector<std::string> args;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) return args;
    std::string arg;
    bool inQuotes = false;
    while (i < line.size() && (inQuotes || (line[i] != ' ' && line[i] != '\t'))) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < line.size() && line[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          arg += '"';
        } else {
          inQuotes = !inQuotes;
        }
        ++i;
      } else {
        arg.append(backslashes, '\\');
        if (i < line.size() && (inQuotes || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
      }
    }
    args.push_back(arg);
  }
}

TEST(WindowsCommandLineTest, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(quoteWindowsArgument("-silent"), "-silent");
  EXPECT_EQ(quoteWindowsArgument("C:\\Program Files\\x"), "\"C:\\Program Files\\x\"");
  EXPECT_EQ(quoteWindowsArgument(""), "\"\"");
  EXPECT_EQ(quoteWindowsArgument("a\tb"), "\"a\tb\"");
  EXPECT_EQ(quoteWindowsArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
  // A trailing backslash is doubled only where a closing quote follows it.
  EXPECT_EQ(quoteWindowsArgument("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(quoteWindowsArgument("C:\\my dir\\"), "\"C:\\my dir\\\\\"");
  EXPECT_EQ(quoteWindowsArgument("a\\\"b"), "\"a\\\\\\\"b\"");
}

TEST(WindowsCommandLineTest, EveryArgumentSurvivesTheRoundTrip) {
  const std::vector<std::string> samples = {
      "",
      "plain",
      "with space",
      "tab\there",
      "quote\"inside",
      "\"",
      "\\",
      "trailing\\",
      "two\\\\",
      "sp ace\\",
      "\\\"",
      "a\\\\\"b c",
      "-D=x y\\z",
      "C:\\a b\\c\\",
      " ",
      "new\nline",
      "\\\\server\\share",
  };
  for (const std::string& sample : samples) {
    const std::vector<std::string> back = splitArguments(quoteWindowsArgument(sample));
    ASSERT_EQ(back.size(), 1u) << "[" << sample << "]";
    EXPECT_EQ(back[0], sample);
  }
}

TEST(WindowsCommandLineTest, InstallerCommandLine) {
  EXPECT_EQ(installerProgramPath("C:\\Korvane", kWindowsHost, true),
            "C:\\Korvane\\maintenance\\kvInstaller\\x86-win32\\kvInstallerc");
  EXPECT_EQ(installerProgramPath("D:\\x y", kWindowsHost, false),
            "D:\\x y\\maintenance\\kvInstaller\\x86-win32\\kvInstaller");

  const char* args[] = {"C:\\setup.exe", "-silent", "",          "a b",
                        "t\tab",         "q\"x",    "C:\\d e\\", nullptr};
  const std::string line = buildInstallerCommandLine("C:\\K\\kvInstallerc", 7, args);
  EXPECT_EQ(line.rfind("\"C:\\K\\kvInstallerc\" -silent \"\" ", 0), 0u) << line;
  const std::string program = "\"C:\\K\\kvInstallerc\"";
  const std::vector<std::string> back = splitArguments(line.substr(program.size()));
  EXPECT_EQ(back, (std::vector<std::string>{"-silent", "", "a b", "t\tab", "q\"x", "C:\\d e\\"}));

  EXPECT_EQ(buildInstallerCommandLine("C:\\K\\kvInstaller", 1, args), "\"C:\\K\\kvInstaller\"");
}

// The twin's program takes the place of the launcher's file name, however
// the launcher was named; the user's arguments go on byte for byte.
TEST(WindowsCommandLineTest, TwinReplacesTheProgramFileName) {
  const struct {
    const char* line;
    const char* twin;
    bool prefix;
    const char* program;
    const char* arguments;
  } cases[] = {
      {"\"C:\\my media\\setup.exe\" -yum list", "setupc.exe", true, "\"C:\\my media\\setupc.exe\"",
       "-winconsole -yum list"},
      {"C:\\media\\setup.exe  -yum \"a b\"\t\"\" x\\", "setupc.exe", true, "C:\\media\\setupc.exe",
       "-winconsole -yum \"a b\"\t\"\" x\\"},
      {"\"setup.exe\" -recipe r.xml", "setupc.exe", false, "setupc.exe", "-recipe r.xml"},
      {"C:/media/setup.exe -baseline", "setupc.exe", true, "C:/media/setupc.exe",
       "-winconsole -baseline"},
      // An apostrophe in an unquoted path is an ordinary character.
      {"C:\\O'Brien\\setup.exe -yum list", "setupc.exe", true, "C:\\O'Brien\\setupc.exe",
       "-winconsole -yum list"},
      {"\"C:\\a b\\setup.exe\"", nullptr, false, "\"C:\\a b\\setup.exe\"", ""},
      {"setup.exe", "setupc.exe", true, "setupc.exe", "-winconsole "},
  };
  for (const auto& c : cases) {
    auto built = buildTwinCommandLine(c.line, c.twin, c.prefix);
    ASSERT_TRUE(built) << c.line;
    EXPECT_EQ(built->program, c.program) << c.line;
    EXPECT_EQ(built->arguments, c.arguments) << c.line;
  }
  auto quoted = buildTwinCommandLine("\"C:\\my media\\setup.exe\" -yum list", "setupc.exe", true);
  EXPECT_EQ(joinTwinCommandLine(*quoted), "\"C:\\my media\\setupc.exe\" -winconsole -yum list");
  EXPECT_FALSE(buildTwinCommandLine("", "setupc.exe", true));
}

}  // namespace
}  // namespace kv
