#include "core/arg_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {
namespace {

std::vector<std::string> entries(const GrowableArgList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.at(i));
  return out;
}

void expectNullFrom(const GrowableArgList& list, int from) {
  for (int i = from; i < list.capacity(); ++i) EXPECT_EQ(list.items()[i], nullptr) << "slot " << i;
}

TEST(GrowableArgList, StartsEmptyWithSixteenNullSlots) {
  GrowableArgList list;
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.capacity(), 16);
  expectNullFrom(list, 0);
}

TEST(GrowableArgList, GrowsInStepsOfSixteenKeepingRoomForTheTerminator) {
  static const char* const kTexts[16] = {"a", "b", "c", "d", "e", "f", "g", "h",
                                         "i", "j", "k", "l", "m", "n", "o", "p"};
  GrowableArgList list;
  list.append(15, kTexts);
  EXPECT_EQ(list.count(), 15);
  EXPECT_EQ(list.capacity(), 16);
  EXPECT_EQ(list.items()[15], nullptr);

  list.push(kTexts[15]);
  EXPECT_EQ(list.count(), 16);
  EXPECT_EQ(list.capacity(), 32);
  EXPECT_STREQ(list.at(15), "p");
  expectNullFrom(list, 16);

  GrowableArgList big;
  std::vector<const char*> many(40, "x");
  big.append(40, many.data());
  EXPECT_EQ(big.capacity(), 48);
  expectNullFrom(big, 40);
}

TEST(GrowableArgList, InsertClampsThePosition) {
  static const char* const kTwo[2] = {"b", "c"};
  GrowableArgList list;
  list.insertOne(5, "z");   // beyond count: appended
  list.insertOne(-3, "a");  // before the start: at the front
  list.insert(1, 2, kTwo);
  list.insertOne(list.count() + 10, "end");
  EXPECT_EQ(entries(list), (std::vector<std::string>{"a", "b", "c", "z", "end"}));
  EXPECT_EQ(list.items()[list.count()], nullptr);
}

TEST(GrowableArgList, AppendListOfItselfDoublesTheEntries) {
  GrowableArgList list;
  const char* texts[12] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"};
  list.append(12, texts);
  list.appendList(list);  // grows the slot array under its own source
  ASSERT_EQ(list.count(), 24);
  for (int i = 0; i < 24; ++i) EXPECT_STREQ(list.at(i), texts[i % 12]);
  expectNullFrom(list, 24);
}

TEST(GrowableArgList, FindComparesTextsNotReferences) {
  GrowableArgList list;
  std::string other = "-silent";
  list.push("-console");
  list.push("-silent");
  list.push("-silent");
  EXPECT_EQ(list.find(other.c_str(), 0), 1);
  EXPECT_EQ(list.find("-silent", 2), 2);
  EXPECT_EQ(list.find("-silent", 3), -1);
  EXPECT_EQ(list.find("-SILENT", 0), -1);
  EXPECT_EQ(list.find(nullptr, 0), -1);
}

TEST(GrowableArgList, EraseClampsPositionAndCount) {
  static const char* const kTexts[5] = {"a", "b", "c", "d", "e"};
  GrowableArgList list;
  list.append(5, kTexts);

  list.erase(-1, 2);  // one below the start: only "a" goes
  EXPECT_EQ(entries(list), (std::vector<std::string>{"b", "c", "d", "e"}));
  list.erase(-5, 2);  // nothing left to remove
  list.erase(9, 1);   // beyond count
  EXPECT_EQ(list.count(), 4);
  list.erase(2, 100);  // cut at the end
  EXPECT_EQ(entries(list), (std::vector<std::string>{"b", "c"}));
  expectNullFrom(list, 2);

  list.append(3, kTexts);
  list.erase(1, 2);
  EXPECT_EQ(entries(list), (std::vector<std::string>{"b", "b", "c"}));
  expectNullFrom(list, 3);
  list.truncate(1);
  EXPECT_EQ(entries(list), (std::vector<std::string>{"b"}));
  expectNullFrom(list, 1);
}

TEST(GrowableArgList, InPlaceEditLeavesSlotsAfterTheLastEntryNull) {
  static const char* const kTexts[3] = {"prog", "--gtk-opt", "-silent"};
  GrowableArgList list;
  list.append(3, kTexts);
  // A library removing "--gtk-opt" from argc/argv in place.
  EXPECT_TRUE(list.editInPlace([](int* argc, char*** argv) {
    (*argv)[1] = (*argv)[2];
    *argc = 2;
    return true;
  }));
  EXPECT_EQ(entries(list), (std::vector<std::string>{"prog", "-silent"}));
  expectNullFrom(list, 2);
}

}  // namespace
}  // namespace kv
