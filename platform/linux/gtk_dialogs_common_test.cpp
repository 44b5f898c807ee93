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
  EXPECT_EQ(kMaxTextLength, text.size());
  EXPECT_EQ("ERROR: ppp", text.substr(0, 10));
}

}  // namespace
}  // namespace kv
