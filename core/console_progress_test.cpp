#include "core/console_progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/combined_progress.h"

namespace kv {
namespace {

std::string contentOf(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  int c;
  while ((c = std::fgetc(file)) != EOF) text += static_cast<char>(c);
  return text;
}

TEST(ConsoleProgressTest, RedrawsOnlyWhenThePercentageChangesAndWipesAtTheEnd) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ConsoleProgress progress(out);
  progress.start(3);
  progress.startBytes(300000000);
  progress.updateBytes(1000);       // still 0 %
  progress.updateBytes(150000000);  // 50 %
  progress.updateBytes(150000001);  // still 50 %
  progress.updateBytes(300000000);  // all written: wiped
  progress.finish();                // nothing left to wipe
  const std::string blank = "\r" + std::string(40, ' ') + "\r";
  EXPECT_EQ(contentOf(out),
            "\rExtracting: 0% (0 of 300 MB)\rExtracting: 50% (150 of 300 MB)" + blank);
  std::fclose(out);
}

TEST(ConsoleProgressTest, CombinedProgressAddsTheBytesOfEachArchive) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ConsoleProgress console(out);
  CombinedProgress combined(&console);
  combined.start(1);
  combined.startBytes(100000000);
  combined.updateBytes(40000000);
  combined.updateBytes(100000000);  // first archive done: wiped
  combined.start(1);
  combined.startBytes(100000000);
  combined.updateBytes(50000000);  // 150 of 200
  const std::string blank = "\r" + std::string(40, ' ') + "\r";
  EXPECT_EQ(contentOf(out),
            "\rExtracting: 40% (40 of 100 MB)" + blank +
                "\rExtracting: 50% (100 of 200 MB)\rExtracting: 75% (150 of 200 MB)");
  std::fclose(out);
}

}  // namespace
}  // namespace kv
