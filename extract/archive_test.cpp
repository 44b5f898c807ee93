#include "extract/archive.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(ArchiveTest, EntryNamesComeAsUtf8) {
  // Plain, two-byte, three-byte, a surrogate pair, and a lone surrogate.
  const UInt16 text[] = {'a', 0x00FC, '/', 0x20AC, 0xD83D, 0xDE00, 0xD800, 'z'};
  EXPECT_EQ(utf16ToUtf8(text, 8), "a\xC3\xBC/\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace kv
