#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>

#include <atomic>

#include "core/arg_list.h"
#include "core/platform.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::readFile;
using kvtest::ScratchDir;
using kvtest::writeScript;

// A fake installer that records its folder and arguments in its folder,
// then exits with 3, or dies by signal 9 when its first argument is "kill".
std::string makeInstaller(const ScratchDir& dir) {
  const std::string program = dir / "inst/maintenance/kvInstaller/x86-linux2/kvInstaller";
  writeScript(program,
              "pwd > cwd.txt\n"
              "printf '%s\\n' \"$0\" \"$@\" > args.txt\n"
              "[ \"$1\" = kill ] && kill -9 $$\n"
              "exit 3\n");
  return program;
}

TEST(LaunchInstallerTest, WaitReturnsExitCodeWithArgumentsAndFolder) {
  ScratchDir dir;
  const std::string program = makeInstaller(dir);
  GrowableArgList args;
  args.push("./setup_linux");
  args.push("-a");
  args.push("two words");
  EXPECT_EQ(3, launchInstaller(dir / "inst", args, true, true));
  EXPECT_EQ(program, args.at(0));
  const std::string folder = dir / "inst/maintenance/kvInstaller/x86-linux2";
  EXPECT_EQ(folder + "\n", readFile(folder + "/cwd.txt"));
  EXPECT_EQ(program + "\n-a\ntwo words\n", readFile(folder + "/args.txt"));
}

TEST(LaunchInstallerTest, WaitReturnsSignalNumber) {
  ScratchDir dir;
  makeInstaller(dir);
  GrowableArgList args;
  args.push("setup");
  args.push("kill");
  EXPECT_EQ(9, launchInstaller(dir / "inst", args, false, true));
}

TEST(LaunchInstallerTest, WaitWithMissingInstallerReportsTheFailure) {
  ScratchDir dir;
  GrowableArgList args;
  args.push("setup");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(1, launchInstaller(dir / "none", args, false, true));
  EXPECT_EQ("Launching failed\n", ::testing::internal::GetCapturedStdout());
}

TEST(LaunchInstallerTest, WithoutWaitReplacesProcess) {
  ScratchDir dir;
  makeInstaller(dir);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    GrowableArgList args;
    args.push("setup");
    launchInstaller(dir / "inst", args, false, false);
    _exit(77);  // reached only when the start failed
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(3, WEXITSTATUS(status));
}

TEST(LaunchInstallerTest, FailedStartWithoutWaitReportsAndReturnsOne) {
  ScratchDir dir;
  GrowableArgList args;
  args.push("setup");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(1, launchInstaller(dir / "none", args, false, false));
  EXPECT_EQ("Launching failed\n", ::testing::internal::GetCapturedStdout());
}

TEST(LaunchInstallerTest, RefusesInstallFolderTooLongForProgramPath) {
  const std::string suffix = "/maintenance/kvInstaller/x86-linux2/kvInstaller";
  GrowableArgList args;
  args.push("setup");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(1, launchInstaller("/" + std::string(1024 - suffix.size(), 'd'), args, false, true));
  EXPECT_EQ("Launching failed\n", ::testing::internal::GetCapturedStdout());
  EXPECT_STREQ("setup", args.at(0));
}

TEST(HostCheckTest, RunsCheckProgramWithHostsArgument) {
  ScratchDir dir;
  writeScript(dir / "media/installer/host_info/check_hosts",
              "printf '%s\\n' \"$0\" \"$@\" > \"$(dirname \"$0\")/ran.txt\"\nexit 5\n");
  hostCheck(dir / "media");
  EXPECT_EQ(dir / "media//installer/host_info/check_hosts\nhosts\n",
            readFile(dir / "media/installer/host_info/ran.txt"));
}

// Processes this test program has forked.
std::atomic<int> gForks{0};
void countFork() { ++gForks; }

TEST(HostCheckTest, MissingProgramRunsNothing) {
  static const bool counting = pthread_atfork(countFork, nullptr, nullptr) == 0;
  ASSERT_TRUE(counting);
  ScratchDir dir;
  writeScript(dir / "there/installer/host_info/check_hosts", "exit 0\n");
  int before = gForks;
  hostCheck(dir / "there");
  EXPECT_EQ(1, gForks - before);

  before = gForks;
  hostCheck(dir / "media");
  EXPECT_EQ(0, gForks - before);
}

}  // namespace
}  // namespace kv
