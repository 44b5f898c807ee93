#include "extract/safe_path.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(SafeEntryNameTest, AcceptsNamesBelowTheTarget) {
  for (const char* name : {"file.txt", "a/b/c.txt", "a\\b\\c.txt", "./a/./b", ".hidden/x",
                           "a..b/c", "..a/x", "a/b../c", "dir with spaces/x y", "C/x",
                           "ab:c/d", "\xE2\x82\xAC/x"}) {
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
  for (const char* name : {"..", "../x", "a/../../x", "a/..", "..\\x", "a\\..\\..\\x",
                           "a/..\\x", "a\\../x", "a//../x"}) {
    EXPECT_FALSE(isSafeEntryName(name)) << name;
  }
}

TEST(SafeEntryNameTest, RefusesComponentsWindowsWouldShortenToParent) {
  for (const char* name : {".../x", "a/.. /x", "a/. ./x", "a/....", ".. \\x"}) {
    EXPECT_FALSE(isSafeEntryName(name)) << name;
  }
}

}  // namespace
}  // namespace kv
