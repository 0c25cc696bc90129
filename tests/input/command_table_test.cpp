#include "input/command_table.h"

#include <gtest/gtest.h>

#include <set>

namespace tav {
namespace {

// The language's 75 commands, wjs (our own request of the JSON results document), acc (the
// accelerated EM iterations), thr (the number of threads), mem (the memory budget) and var (the
// columns of a data file).
TEST(CommandTable, EightyTwoDistinctEntriesInOrder) {
  const auto& table = CommandTable();
  std::set<std::string_view> names;
  for (const auto& entry : table) names.insert(entry.name);
  EXPECT_EQ(names.size(), 82u);
  EXPECT_EQ(table.front().name, "res");
  EXPECT_EQ(table[17].name, "cor");
  EXPECT_EQ(table[25].name, "dis");
  EXPECT_EQ(table[33].name, "rsu");
  EXPECT_EQ(table[79].name, "wpa");
  EXPECT_EQ(table[80].name, "wjs");
  EXPECT_EQ(FindCommand("rstarts")->section, Section::kSettings);
  EXPECT_EQ(FindCommand("ndi")->section, Section::kSettings);
  EXPECT_EQ(FindCommand("threads")->section, Section::kSettings);
  EXPECT_EQ(FindCommand("accelerate")->section, Section::kSettings);
  EXPECT_EQ(table.back().name, "[");
  EXPECT_EQ(FindCommand("model")->section, Section::kModel);
  EXPECT_EQ(FindCommand("haz{")->section, Section::kEventHistory);
  EXPECT_EQ(FindCommand("skip")->section, Section::kRecordFormat);
  EXPECT_EQ(FindCommand("wpo")->section, Section::kSettings);
}

TEST(CommandKey, FirstThreeCharacters) {
  EXPECT_EQ(CommandKey("model"), "mod");
  EXPECT_EQ(CommandKey("mo"), "mo");
  EXPECT_EQ(CommandKey(""), "");
  EXPECT_EQ(CommandKey("["), "[");
}

TEST(IsCommand, CaseSensitiveOnThreeLetters) {
  EXPECT_TRUE(IsCommand("mod"));
  EXPECT_TRUE(IsCommand("model"));
  EXPECT_TRUE(IsCommand("mod{"));
  EXPECT_TRUE(IsCommand("nR2"));
  EXPECT_TRUE(IsCommand("_weibull"));
  EXPECT_TRUE(IsCommand("["));
  EXPECT_FALSE(IsCommand("MOD"));
  EXPECT_FALSE(IsCommand("nr2"));
  EXPECT_FALSE(IsCommand("mo"));
  EXPECT_FALSE(IsCommand("var"));  // accepted by the model section, but ends no list
  EXPECT_FALSE(IsCommand("]"));
}

TEST(EndsList, EmptyOrCommandWithoutPoint) {
  EXPECT_TRUE(EndsList(""));
  EXPECT_TRUE(EndsList("dat"));
  EXPECT_TRUE(EndsList("["));
  EXPECT_FALSE(EndsList("dat.txt"));
  EXPECT_FALSE(EndsList("1.5"));
  EXPECT_FALSE(EndsList("AB"));
  EXPECT_FALSE(EndsList("2"));
}

}  // namespace
}  // namespace tav
