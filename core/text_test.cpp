#include "core/text.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {
namespace {

TEST(TextTest, LimitTextNeverSplitsAUtf8Sequence) {
  EXPECT_EQ(std::string(100, 'x'), limitText(std::string(100, 'x')));
  EXPECT_EQ(kMaxTextLength, limitText(std::string(kMaxTextLength, 'x')).size());
  // "é" is two bytes; 1022 ASCII bytes put its second byte at position 1023.
  std::string text = std::string(1022, 'a') + "\xC3\xA9" + "tail";
  EXPECT_EQ(std::string(1022, 'a'), limitText(text));
  // A three-byte sequence ending right at the limit is kept whole.
  std::string fits = std::string(1020, 'a') + "\xE2\x82\xAC" + "more";
  EXPECT_EQ(std::string(1020, 'a') + "\xE2\x82\xAC", limitText(fits));
}

}  // namespace
}  // namespace kv
