#include "core/usage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace kv {
namespace {

// The usage texts as published for users, one line per literal.
const char kExpectedMain[] =
      "-----------------------------------------------------\n"
      "-        Usage of the Korvane Installer          -\n"
      "-----------------------------------------------------\n"
      "  -help\t\t\tprint this help\n"
      "  -silent\t\trun in non-interactive, command-line mode.\n"
      "  -installPath <path>\tfull path to the target installation directory\n"
      "  -archs\t\tspecify the target architectures\n"
      "  -nosplash\t\tdo not show the splash screen\n"
      "  -skipQuota\t\tskip quota check\n"
      "  -proxy\t\tspecify proxy server, \n\t\t\t<server ip>:<port>:<http|socks>[:<username>:<password>]\n"
      "  -installerUpdateURLS\tlist of locations to search for installer updates\n"
      "  -productUpdateURLS\tlist of locations to search for product updates\n"
      "  -add\t\t\tinstall products and update existing products if newer\n\t\t\tversions are available\n"
      "  -applyUpdates\t\tupdate existing products if newer versions are available\n"
      "  -remove\t\tremove products\n"
      "  -patch\t\tsearch for and install patches\n"
      "  -print_toc (<path>)\tprint the contents of a patch to the console. Appending\n\t\t\ta file path redirects the output to the file.\n\t\t\tOnly relevant with the '-patch -silent' options.\n"
      "  -extract <path>\texport patch contents to a directory. Only \n\t\t\trelevant with the '-patch -silent' options.\n"
      "  -validate\t\tvalidate the integrity of the media based on the \n\t\t\tspecified level.\n"
      "  -download\t\tdownload content for a later installation.\n"
      "  -yum [yum options] COMMAND.\n\t\t\trun yum COMMAND. See -yum --help for details\n"
      "  -repousername\t\tusername for repository authentication.\n"
      "  -repopassword\t\tpassword for repository authentication.\n"
      "  -recipe\t\t<file> full path to the installation recipe file\n"
      "  -check [dir]\t\tcheck integrity of installed content for (optional)\n\t\t\tdir or complete installation.\n"
      "  -install-KVL7\t\texisting Korvane Linux 7 installations only; skip\n\t\t\tsteps preceding the Korvane Linux 7 git operations.\n"
      "  -install-KVL-mode [minimal|full]\n\t\t\tKorvane Linux installations only;\n\t\t\tSelects 'minimal' or 'full' installation mode.\n"
      "  -baseline <release>\tSpecify an ID or list to list the currently \n\t\t\tavailable baselines.\n"
      "-----------------------------------------------------------------\n"
      "- NOTE: option names are case insensitive in default (-p2) mode -\n"
      "-       and are case sensitive after -yum and -vmargs           -\n"
      "-----------------------------------------------------------------\n";

const char kExpectedYum[] =
      "usage: -yum [options] COMMAND\n"
      "\nList of Commands:\n\n"
      "groupinstall   Install all packages of a group\n"
      "grouplist      List available package groups\n"
      "install        Install one or more packages\n"
      "localinstall   Install a local rpm package or packages on your system\n"
      "list           List a package or groups of packages\n"
      "update         Update installed packages to latest available versions\n"
      "localupdate    Update a local rpm package or packages on your system\n"
      "downgrade      Downgrade installed package or packages on your system\n"
      "remove         Remove one or more packages\n"
      "\noptions:\n"
      "  -h, --help            show this help message and exit\n"
      "  -y                    answer yes for all questions\n"
      "  --installroot=[path]  set install root\n"
      "  --version             show Yum version and exit\n";

std::string captured(void (*print)()) {
  testing::internal::CaptureStdout();
  print();
  return testing::internal::GetCapturedStdout();
}

size_t lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

TEST(Usage, MainUsageWordForWord) {
  std::string out = captured(printMainUsage);
  EXPECT_EQ(out, kExpectedMain);
  // 32 items, 12 of them with line breaks inside.
  EXPECT_EQ(lineCount(out), 44u);
  EXPECT_EQ(out.rfind("-----------------------------------------------------\n-  ", 0), 0u);
  EXPECT_NE(out.find("\n  -help\t\t\tprint this help\n"), std::string::npos);
  EXPECT_NE(out.find("\n  -extract <path>\texport patch contents to a directory. Only \n"),
            std::string::npos);
}

TEST(Usage, YumUsageWordForWord) {
  std::string out = captured(printYumUsage);
  EXPECT_EQ(out, kExpectedYum);
  EXPECT_EQ(lineCount(out), 19u);
  EXPECT_EQ(out.rfind("usage: -yum [options] COMMAND\n\nList of Commands:\n\ngroup", 0), 0u);
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
