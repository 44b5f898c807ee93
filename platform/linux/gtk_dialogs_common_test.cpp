#include "platform/linux/gtk_dialogs_common.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {
namespace {

TEST(GtkMessageTextTest, FormatsThePathIntoTheMessage) {
  EXPECT_EQ("ERROR: rel%sdir is an invalid path.",
            formatMessage("ERROR: %s is an invalid path.", "rel%sdir"));
}

TEST(GtkMessageTextTest, LongTextsAreCutToTheBoxLimit) {
  std::string path(3000, 'p');
  std::string text = formatMessage("ERROR: %s is an invalid path.", path.c_str());
  EXPECT_EQ(kMaxMessageBytes, text.size());
  EXPECT_EQ("ERROR: ppp", text.substr(0, 10));
  EXPECT_EQ(std::string(100, 'x'), limitMessageText(std::string(100, 'x')));
  EXPECT_EQ(kMaxMessageBytes, limitMessageText(std::string(kMaxMessageBytes, 'x')).size());
}

TEST(GtkMessageTextTest, CuttingNeverSplitsAUtf8Sequence) {
  // "é" is two bytes; 1022 ASCII bytes put its second byte at position 1023.
  std::string text = std::string(1022, 'a') + "\xC3\xA9" + "tail";
  std::string cut = limitMessageText(text);
  EXPECT_EQ(std::string(1022, 'a'), cut);
  // A three-byte sequence ending right at the limit is kept whole.
  std::string fits = std::string(1020, 'a') + "\xE2\x82\xAC" + "more";
  EXPECT_EQ(std::string(1020, 'a') + "\xE2\x82\xAC", limitMessageText(fits));
}

}  // namespace
}  // namespace kv
