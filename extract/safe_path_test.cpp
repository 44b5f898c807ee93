#include "extract/safe_path.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(SafeEntryNameTest, AcceptsNamesBelowTheTarget) {
  for (const char* name :
       {"file.txt", "a/b/c.txt", "a\\b\\c.txt", "./a/./b", ".hidden/x", "a..b/c", "..a/x",
        "a/b../c", "dir with spaces/x y", "C/x", "ab:c/d", "\xE2\x82\xAC/x"}) {
    EXPECT_TRUE(isSafeEntryName(name)) << name;
  }
}

TEST(SafeEntryNameTest, RefusesEmptyAndAbsoluteNames) {
  for (const char* name : {"", "/abs/x", "/", "\\x", "\\\\server\\share\\x", "//server/x"}) {
    EXPECT_FALSE(isSafeEntryName(name)) << name;
  }
}

TEST(SafeEntryNameTest, RefusesDriveLetters) {
  for (const char* name : {"C:\\x", "C:x", "c:/x", "z:", "Q:..\\x"}) {
    EXPECT_FALSE(isSafeEntryName(name)) << name;
  }
}

TEST(SafeEntryNameTest, RefusesParentComponentsWithEitherSeparator) {
  for (const char* name : {"..", "../x", "a/../../x", "a/..", "..\\x", "a\\..\\..\\x", "a/..\\x",
                           "a\\../x", "a//../x"}) {
    EXPECT_FALSE(isSafeEntryName(name)) << name;
  }
}

TEST(SafeEntryNameTest, RefusesComponentsWindowsWouldShortenToParent) {
  for (const char* name : {".../x", "a/.. /x", "a/. ./x", "a/....", ".. \\x"}) {
    EXPECT_FALSE(isSafeEntryName(name)) << name;
  }
}

TEST(LinkTargetTest, ResolvesRelativeTargetsThatStayInside) {
  std::vector<std::string> place;
  ASSERT_TRUE(resolveLinkTarget("legal/desktop/NOTICE", "../base/NOTICE", &place));
  EXPECT_EQ(place, (std::vector<std::string>{"legal", "base", "NOTICE"}));
  ASSERT_TRUE(resolveLinkTarget("./a//b/link", "../../x/./y", &place));
  EXPECT_EQ(place, (std::vector<std::string>{"x", "y"}));
  ASSERT_TRUE(resolveLinkTarget("bin/java", "java-real", &place));
  EXPECT_EQ(place, (std::vector<std::string>{"bin", "java-real"}));
}

TEST(LinkTargetTest, RefusesTargetsThatLeaveOrCouldBeRedirected) {
  std::vector<std::string> place;
  for (const char* target :
       {"", "/etc/passwd", "../../a/x", "sub/../x", "a\\..\\..\\x", ".", "..", "a/.."}) {
    EXPECT_FALSE(resolveLinkTarget("dir/link", target, &place)) << target;
  }
  EXPECT_FALSE(resolveLinkTarget("dir/link", std::string("a\0b", 3), &place));
  // A backslash is part of a name where links are made: no folder to climb.
  EXPECT_FALSE(resolveLinkTarget("dir\\link", "../x", &place));
}

}  // namespace
}  // namespace kv
