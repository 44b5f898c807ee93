#include "core/properties_map.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace kv {
namespace {

// A stream holding `text`, positioned at its start.
FILE* streamWith(const std::string& text) {
  FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

std::string saved(const PropertiesMap& map) {
  FILE* f = std::tmpfile();
  map.save(f);
  std::string out;
  std::rewind(f);
  int c;
  while ((c = std::fgetc(f)) != EOF) out.push_back(static_cast<char>(c));
  std::fclose(f);
  return out;
}

void load(PropertiesMap& map, const std::string& text) {
  FILE* f = streamWith(text);
  map.load(f);
  std::fclose(f);
}

TEST(PropertiesMapHash, SeedTimesThirtyThreeXorByte) {
  PropertiesMap sensitive(7, false);
  PropertiesMap insensitive(7, true);
  EXPECT_EQ(sensitive.hash(""), 0xdaa4abd3u);
  EXPECT_EQ(sensitive.hash("a"), 0x2f3a2652u);
  EXPECT_EQ(sensitive.hash("Key1"), 0xb210b175u);
  EXPECT_EQ(sensitive.hash("KEY1"), 0xb2112d35u);
  EXPECT_EQ(insensitive.hash("Key1"), 0xb2002d15u);
  EXPECT_EQ(insensitive.hash("KEY1"), 0xb2002d15u);
  // High bytes: sign-extended in a case-sensitive map, 0..255 otherwise.
  EXPECT_EQ(sensitive.hash("\x80"), 0xd0c5d9b3u);
  EXPECT_EQ(sensitive.hash("\xff"), 0xd0c5d9ccu);
  EXPECT_EQ(insensitive.hash("\x80"), 0x2f3a26b3u);
  EXPECT_EQ(insensitive.hash("\xff"), 0x2f3a26ccu);
}

TEST(PropertiesMapSet, ReturnsThePreviousValue) {
  PropertiesMap map(7, false);
  EXPECT_FALSE(map.set("k", "one").has_value());
  EXPECT_EQ(map.set("k", "two"), std::optional<std::string>("one"));
  EXPECT_EQ(*map.get("k"), "two");
  EXPECT_EQ(map.set("k", "two"), std::optional<std::string>("two"));
  EXPECT_EQ(map.get("K"), nullptr);
  map.set("K", "upper");
  EXPECT_EQ(*map.get("k"), "two");
  EXPECT_EQ(*map.get("K"), "upper");
}

TEST(PropertiesMapSet, CaseInsensitiveMapIgnoresCaseOfKeysAndValues) {
  PropertiesMap map(7, true);
  map.set("Key1", "/home/u/inst");
  EXPECT_EQ(map.set("KEY1", "/Home/U/Inst"), std::optional<std::string>("/home/u/inst"));
  EXPECT_EQ(*map.get("key1"), "/home/u/inst");
  EXPECT_EQ(map.set("key1", "/other"), std::optional<std::string>("/home/u/inst"));
  EXPECT_EQ(*map.get("Key1"), "/other");
  EXPECT_EQ(saved(map), "Key1 = /other\n");
}

TEST(PropertiesMapLoad, IgnoresCommentsAndMalformedLines) {
  PropertiesMap map(7, true);
  load(map, "   Key1   =   /home/u/inst   \n# note\nnovalue\n=x\n   \n  = y\n");
  EXPECT_EQ(saved(map), "Key1 = /home/u/inst\n");
  ASSERT_NE(map.get("KEY1"), nullptr);
  EXPECT_EQ(*map.get("KEY1"), "/home/u/inst");
  EXPECT_EQ(map.get("novalue"), nullptr);
}

TEST(PropertiesMapLoad, LineEndsAndKeyValueSplitting) {
  PropertiesMap map(7, false);
  load(map, "a=1\r\nb = 2 = 3\r\nc\r = \r4\r\n\tlast key =\tend value");
  EXPECT_EQ(*map.get("a"), "1");
  EXPECT_EQ(*map.get("b"), "2 = 3");
  EXPECT_EQ(*map.get("c"), "4");
  EXPECT_EQ(*map.get("last key"), "end value");

  PropertiesMap longLines(3, false);
  std::string value(1000, 'v');
  load(longLines, "long=" + value + "\nnext=1");
  EXPECT_EQ(*longLines.get("long"), value);
  EXPECT_EQ(*longLines.get("next"), "1");
}

TEST(PropertiesMapSave, BlankValuesStayInTheMapButAreNotWritten) {
  PropertiesMap map(1, false);
  load(map, "empty=\nblank= \t \nfull=x\n");
  ASSERT_NE(map.get("empty"), nullptr);
  EXPECT_EQ(*map.get("empty"), "");
  EXPECT_EQ(saved(map), "full = x\n");
}

TEST(PropertiesMapSave, WritesChainsInIndexOrderNewestFirst) {
  PropertiesMap map(7, true);
  for (const char* key : {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta"}) {
    map.set(key, std::string("v_") + key);
  }
  // Chains 0: beta, zeta, theta; 1: alpha, gamma; 4: delta; 6: epsilon, eta.
  EXPECT_EQ(saved(map),
            "theta = v_theta\nzeta = v_zeta\nbeta = v_beta\ngamma = v_gamma\n"
            "alpha = v_alpha\ndelta = v_delta\neta = v_eta\nepsilon = v_epsilon\n");

  // Reading the file back reverses each chain: order follows the hash and
  // the history, never the file.
  PropertiesMap reread(7, true);
  load(reread, saved(map));
  EXPECT_EQ(saved(reread),
            "beta = v_beta\nzeta = v_zeta\ntheta = v_theta\nalpha = v_alpha\n"
            "gamma = v_gamma\ndelta = v_delta\nepsilon = v_epsilon\neta = v_eta\n");
}

}  // namespace
}  // namespace kv
