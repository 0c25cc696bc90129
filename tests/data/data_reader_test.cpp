#include "data/data_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/stop_run.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ReadLines;
using testing::TempDir;
using Numbers = std::vector<double>;
using Ints = std::vector<std::int32_t>;
using Strings = std::vector<std::string>;

// A model of manifest variables with the given numbers of categories (labels A, B, ...), one
// subgroup observing all of them unless patterns are given, and data read from text.
struct Data {
  explicit Data(std::vector<int> dimensions) {
    ModelState& model = run.model;
    model.ManifestCount = static_cast<int>(dimensions.size());
    model.VariableCount = model.ManifestCount;
    model.ManifestCellCount = 1;
    for (int v = 0; v < model.VariableCount; ++v) {
      model.Dimension[v] = dimensions[v];
      model.VariableLabel[v] = std::string(1, static_cast<char>('A' + v));
      model.ManifestCellCount *= dimensions[v];
    }
    Patterns({Ints(dimensions.size(), 1)});
    run.FilePrefix = dir.path().string() + "/";
  }

  // One subgroup per pattern (1 observed, 0 not), with the sizes of their tables.
  void Patterns(const std::vector<Ints>& patterns) {
    ModelState& model = run.model;
    model.SubgroupCount = static_cast<int>(patterns.size());
    model.SubgroupPattern.assign(patterns.size(), Membership{});
    model.subgroup_cell_count.clear();
    model.subgroup_first_cell.clear();
    std::int32_t first = 0;
    for (std::size_t g = 0; g < patterns.size(); ++g) {
      std::int64_t cells = 1;
      for (std::size_t k = 0; k < patterns[g].size(); ++k) {
        model.SubgroupPattern[g][k] = static_cast<std::uint8_t>(patterns[g][k]);
        if (patterns[g][k] == 1) cells *= model.Dimension[model.FirstManifest() + k];
        cells = std::min<std::int64_t>(cells, 2147483647);
      }
      model.subgroup_cell_count.push_back(static_cast<std::int32_t>(cells));
      model.subgroup_first_cell.push_back(first);
      first = static_cast<std::int32_t>(std::min<std::int64_t>(first + cells, 2147483647));
    }
  }

  // Record format with n records, aggregated as after `rec` without hazard or covariate.
  void Records(int n) {
    run.history.RecordFormat = true;
    run.history.RecordCount = n;
    run.history.PerRecordOutput = true;
  }

  // A hazard model on the time grid 0 .. points, with the default continuous-time risk.
  void Hazard(int points) {
    EventHistoryState& h = run.history;
    h.HazardModel = true;
    h.TimePointCount = points;
    h.TimeValues.clear();
    for (int t = 0; t <= points; ++t) h.TimeValues.push_back(t);
    h.TrackMaximumTime = false;
  }

  // A chain of three states on the time grid 0 .. points: 0 to 1 (risk 1) and 1 to 2 (risk 2),
  // with that many episodes per record.
  void Chain(int points, int episodes) {
    Hazard(points);
    EventHistoryState& h = run.history;
    h.StateCount = 3;
    h.RiskCount = 2;
    h.TransitionRisk = {0, 1, 0, 0, 0, 2, 0, 0, 0};
    h.EpisodeCount = episodes;
  }

  // Reads text as a data file (or as inline data); returns the stop message, or "".
  // A block size other than 0 reads the file in blocks of that many bytes.
  std::string Read(const std::string& text, bool inline_data = false, std::size_t block = 0) {
    if (block > 0) source.SetBlockSize(block);
    source.Open(dir.Write("data.dat", text), "r");
    reader.command = "dat";
    try {
      ReadData(reader, run, source, inline_data);
    } catch (const StopRunError& stop) {
      return stop.message();
    }
    return "";
  }

  Numbers counts() const { return run.data.entry_count; }
  Numbers cells() const { return run.data.entry_cell; }
  Ints subgroups() const { return run.data.entry_subgroup; }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir.File(name)); }

  TempDir dir;
  Reader reader;
  DataRun run;
  TextFile source;
};

TEST(TableData, ZerosAreNotStored) {
  Data d({2, 2});
  ASSERT_EQ(d.Read("10 0\n5 3\n"), "");
  EXPECT_EQ(d.counts(), (Numbers{10, 5, 3}));
  EXPECT_EQ(d.cells(), (Numbers{0, 2, 3}));
  EXPECT_EQ(d.subgroups(), (Ints{0, 0, 0}));
  EXPECT_TRUE(d.run.data.entry_count_given);
  EXPECT_EQ(d.run.history.RecordCount, 3);
  EXPECT_EQ(d.run.data.subgroup_total, (Numbers{18}));
  EXPECT_DOUBLE_EQ(d.run.data.total_count, 18);
  EXPECT_EQ(d.reader.command, "dat");
  EXPECT_FALSE(std::filesystem::exists(d.run.scratch.File("latent.lat")));
}

TEST(TableData, AddedConstantMakesEveryCellAnEntry) {
  Data d({2, 2});
  d.run.settings.added_constant = 0.5;
  ASSERT_EQ(d.Read("10 0 5 -0.25"), "");
  EXPECT_EQ(d.counts(), (Numbers{10.5, 0.5, 5.5, 0.25}));
  EXPECT_EQ(d.cells(), (Numbers{0, 1, 2, 3}));
  EXPECT_DOUBLE_EQ(d.run.data.total_count, 16.75);
}

TEST(TableData, SubgroupsFollowEachOther) {
  // Subgroup 0 observes A (2) and B (3); subgroup 1 only B.
  Data d({2, 3});
  d.Patterns({{1, 1}, {0, 1}});
  ASSERT_EQ(d.Read("1 0 2 0 0 3\n4 0 6\n"), "");
  EXPECT_EQ(d.counts(), (Numbers{1, 2, 3, 4, 6}));
  EXPECT_EQ(d.subgroups(), (Ints{0, 0, 0, 1, 1}));
  EXPECT_EQ(d.cells(), (Numbers{0, 2, 5, 0, 2}));
  EXPECT_EQ(d.run.data.subgroup_total, (Numbers{6, 10}));
  EXPECT_DOUBLE_EQ(d.run.data.total_count, 16);
}

TEST(TableData, HazardTablesOfEventsAndNonEvents) {
  Data d({2});
  d.Hazard(2);
  d.run.settings.added_constant = 1;
  // Per cell of A the time points run fastest; the second table gets no added constant, and
  // its negative and zero values are skipped without a message.
  ASSERT_EQ(d.Read("0 2 -1 4\n5 0 -3 7"), "");
  EXPECT_EQ(d.counts(), (Numbers{1, 3, 5, 5, 7}));
  EXPECT_EQ(d.cells(), (Numbers{0, 0, 1, 0, 1}));
  const std::vector<Episode>& e = d.run.data.episodes;
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].event, 1);
  EXPECT_DOUBLE_EQ(e[0].start_time, 0);
  EXPECT_DOUBLE_EQ(e[0].end_time, 1);
  EXPECT_DOUBLE_EQ(e[1].end_time, 2);
  EXPECT_DOUBLE_EQ(e[2].end_time, 2);
  EXPECT_EQ(e[3].event, 0);
  EXPECT_DOUBLE_EQ(e[3].end_time, 1);
  EXPECT_EQ(e[4].event, 0);
  EXPECT_DOUBLE_EQ(e[4].end_time, 2);
}

TEST(TableData, Messages) {
  EXPECT_EQ(Data({2, 2}).Read("1 2 -3 4"), "  Error: negative observed frequency");
  EXPECT_EQ(Data({2, 2}).Read("1 2 3"),
            "  Error: too few numbers encountered when reading observed frequencies");
  EXPECT_EQ(Data({2, 2}).Read("1 2 3 ,4"),
            "  Error: too few numbers encountered when reading observed frequencies");
  Data hazard({2});
  hazard.Hazard(2);
  EXPECT_EQ(hazard.Read("1 2 3 4 5 6 7"),
            "  Error: too few numbers encountered when reading observed frequencies");
}

// The store holds as many entries as the memory budget allows: 170,000 (more than the fixed
// cap of 163,799 there was) with the default budget, 1000 in a budget of 1000 entries.
TEST(TableData, EntriesWithinTheMemoryBudget) {
  std::string ones;
  for (int i = 0; i < 170000; ++i) ones += "1\n";
  Data fits({170000});
  ASSERT_EQ(fits.Read(ones), "");
  EXPECT_EQ(fits.run.data.EntryCount(), 170000);
  EXPECT_DOUBLE_EQ(fits.run.data.total_count, 170000);

  std::string thousand;
  for (int i = 0; i < 1000; ++i) thousand += "1\n";
  // One variable of 1000 categories: two bytes each.
  Data small({1000});
  small.run.memory_budget = 1000 * EntryBytes(1, 2);
  EXPECT_EQ(small.Read(thousand), "");
  Data full({1001});
  full.run.memory_budget = 1000 * EntryBytes(1, 2);
  EXPECT_EQ(full.Read(thousand + "1\n"),
            "  Error: array with observed frequencies too big to fit in memory");
  // Zeros take no room.
  Data zeros({1001});
  zeros.run.memory_budget = 1000 * EntryBytes(1, 2);
  EXPECT_EQ(zeros.Read(thousand + "0\n"), "");
}

TEST(TableData, InlineDataEndWithTheBracket) {
  for (const char* text : {"1 2 3 4]", "1 2 3 4 ]", "1 2 3 4\n] ite 5", "1 2 3 4*four\n]"}) {
    Data d({2, 2});
    ASSERT_EQ(d.Read(text, true), "") << text;
    EXPECT_EQ(d.reader.word, "]") << text;
    EXPECT_EQ(d.counts(), (Numbers{1, 2, 3, 4})) << text;
  }
  for (const char* text : {"1 2 3 4 5]", "1 2 3 4 ite 5", "1 2 3 4"}) {
    EXPECT_EQ(Data({2, 2}).Read(text, true), "  Error: a \"]\" expected in command \"dat\"")
        << text;
  }
}

TEST(RecordData, EqualRecordsAggregateIntoSortedEntries) {
  Data d({2, 3});
  d.Records(5);
  ASSERT_EQ(d.Read("2 3\n1 2\n1 1\n1 2\n2 3\n"), "");
  EXPECT_EQ(d.counts(), (Numbers{1, 2, 2}));
  EXPECT_EQ(d.cells(), (Numbers{0, 1, 5}));
  EXPECT_FALSE(d.run.history.RecordFormat);
  EXPECT_TRUE(d.run.data.entry_count_given);
  EXPECT_EQ(d.run.history.RecordCount, 3);
  EXPECT_DOUBLE_EQ(d.run.data.total_count, 5);
  EXPECT_FALSE(std::filesystem::exists(d.run.scratch.File("latent.lat")));
  EXPECT_FALSE(std::filesystem::exists(d.run.scratch.File("records.dat")));
}

TEST(RecordData, CountsAreSummedAndZeroCountsDropped) {
  Data d({2, 3});
  d.Records(4);
  d.run.history.RecordCountGiven = true;
  ASSERT_EQ(d.Read("1 2 2.5\n2 1 0\n1 2 0.5\n1 1 1\n"), "");
  EXPECT_EQ(d.counts(), (Numbers{1, 3}));
  EXPECT_EQ(d.cells(), (Numbers{0, 1}));
  EXPECT_DOUBLE_EQ(d.run.data.total_count, 4);

  Data negative({2, 3});
  negative.Records(2);
  negative.run.history.RecordCountGiven = true;
  EXPECT_EQ(negative.Read("1 2 2.5\n2 1 -1\n"),
            "  Error in data: count less than zero in record number 2");
}

TEST(RecordData, MissingCodeChoosesTheSubgroup) {
  // Subgroup 0 observes A and B, subgroup 1 only A; the default missing code is 0.
  Data d({2, 3});
  d.Patterns({{1, 1}, {1, 0}});
  d.Records(3);
  ASSERT_EQ(d.Read("2 0\n1 3\n2 0\n"), "");
  EXPECT_EQ(d.subgroups(), (Ints{0, 1}));
  EXPECT_EQ(d.cells(), (Numbers{2, 1}));
  EXPECT_EQ(d.counts(), (Numbers{1, 2}));
  EXPECT_EQ(d.run.data.subgroup_total, (Numbers{1, 2}));

  // An own missing code; 0 is then a wrong category.
  Data code({2, 3});
  code.Patterns({{1, 1}, {1, 0}});
  code.Records(2);
  code.run.history.MissingCode = 9;
  ASSERT_EQ(code.Read("2 9\n1 3\n"), "");
  EXPECT_EQ(code.subgroups(), (Ints{0, 1}));
  Data zero({2, 3});
  zero.Records(1);
  zero.run.history.MissingCode = 9;
  EXPECT_EQ(zero.Read("0 1\n"),
            "  Error in data: an impossible category for variable A in record 1");

  Data impossible({2, 3});
  impossible.Patterns({{1, 1}, {1, 0}});
  impossible.Records(2);
  EXPECT_EQ(impossible.Read("1 1\n0 2\n"),
            "  Error in data: impossible missing data pattern in record: 2");
}

TEST(RecordData, SubgroupNumbers) {
  Data d({2, 3});
  d.Patterns({{1, 1}, {0, 1}});
  d.Records(3);
  d.run.history.MissingCode = kNoMissingCode;
  // Subgroup 2 holds only B.
  ASSERT_EQ(d.Read("2 3\n1 2 1\n2 3\n"), "");
  EXPECT_EQ(d.subgroups(), (Ints{0, 1}));
  EXPECT_EQ(d.cells(), (Numbers{3, 2}));
  EXPECT_EQ(d.counts(), (Numbers{1, 2}));

  // A record of subgroup 2 that observes what subgroup 1 observes belongs to subgroup 1.
  Data same({2, 3});
  same.Patterns({{1, 1}, {1, 1}});
  same.Records(1);
  same.run.history.MissingCode = kNoMissingCode;
  ASSERT_EQ(same.Read("2 1 2\n"), "");
  EXPECT_EQ(same.subgroups(), (Ints{0}));

  Data messages({2, 3});
  messages.Patterns({{1, 1}, {0, 1}});
  messages.run.history.MissingCode = kNoMissingCode;
  messages.Records(2);
  EXPECT_EQ(messages.Read("1 1 1\n3 1\n"),
            "  Error in data: subgroup greater than number of subgroups");
  EXPECT_EQ(messages.Read("0 1\n"), "  Error in data: subgroup less than 1 in record 1");
  EXPECT_EQ(messages.Read("1 1 4\n"),
            "  Error in data: an impossible category for variable B in record 1");
  EXPECT_EQ(messages.Read("1 0 1\n"),
            "  Error in data: an impossible category for variable A in record 1");
  // The code -9753 marks a value as missing, which leaves a pattern no subgroup has.
  EXPECT_EQ(messages.Read("2 -9753\n"),
            "  Error in data: impossible missing data pattern in record: 1");
}

TEST(RecordData, SubgroupsFoundFromTheData) {
  Data d({2, 2});
  d.Patterns({{1, 1}, {1, 1}, {0, 0}});
  d.run.model.SubgroupsWithoutSub = true;
  d.Records(4);
  ASSERT_EQ(d.Read("0 2\n1 1\n0 1\n2 0\n"), "");
  EXPECT_EQ(d.run.data.found_subgroup_count, 3);
  EXPECT_EQ(d.run.model.SubgroupPattern[0][0], 0);
  EXPECT_EQ(d.run.model.SubgroupPattern[0][1], 1);
  EXPECT_EQ(d.run.model.SubgroupPattern[1][0], 1);
  EXPECT_EQ(d.run.model.SubgroupPattern[1][1], 1);
  EXPECT_EQ(d.run.model.SubgroupPattern[2][0], 1);
  EXPECT_EQ(d.run.model.SubgroupPattern[2][1], 0);
  EXPECT_EQ(d.subgroups(), (Ints{0, 0, 1, 2}));
  EXPECT_EQ(d.cells(), (Numbers{0, 1, 0, 1}));

  Data four({2, 2});
  four.Patterns({{1, 1}, {1, 1}, {0, 0}});
  four.run.model.SubgroupsWithoutSub = true;
  four.Records(4);
  EXPECT_EQ(four.Read("0 2\n1 1\n2 0\n0 0\n"),
            "  Error: more missing data patterns than the specified maximum");
}

TEST(RecordData, RestOfTheLine) {
  // Extra fields, a comment glued to the last field, a comment after a blank, a line end of
  // a carriage return and a line feed: each record is still one line.
  Data d({2, 3});
  d.Records(5);
  ASSERT_EQ(d.Read("1 2 9 9\n2 3*note\n1 1 * note\n2 1\r\n1 3"), "");
  EXPECT_EQ(d.cells(), (Numbers{0, 1, 2, 3, 5}));

  // Fields may run over several lines.
  Data split({2, 3});
  split.Records(2);
  ASSERT_EQ(split.Read("1\n2\n2 3\n"), "");
  EXPECT_EQ(split.cells(), (Numbers{1, 5}));

  Data short_file({2, 3});
  short_file.Records(3);
  EXPECT_EQ(short_file.Read("1 2\n2 3\n"),
            "  Error: too few numbers encountered when reading data");
}

TEST(RecordData, BlockEndsInsideNumbersAndLineEnds) {
  // Small whole numbers are read straight from the file's block, everything else number by
  // number: a block may end anywhere without changing what is read or where an error is.
  // 12345678901234567 is the double 12345678901234568 (Python's float()).
  const std::string text =
      "1 2 3\r\n2\t3 1.25\n  1 2 123456789\n0000000002 3 4 * note\n"
      "1 1 12345678901234567\r\n2 3 10";
  for (std::size_t block : {0, 1, 2, 3, 4, 5, 7, 8, 11, 16}) {
    Data d({2, 3});
    d.Records(6);
    d.run.history.RecordCountGiven = true;
    ASSERT_EQ(d.Read(text, false, block), "") << block;
    EXPECT_EQ(d.cells(), (Numbers{0, 1, 5})) << block;
    EXPECT_EQ(d.counts(), (Numbers{12345678901234568.0, 123456792, 15.25})) << block;

    // An error names the line of the number read last; a CR LF pair ends one line.
    Data category({2, 3});
    category.Records(3);
    category.run.history.RecordCountGiven = true;
    EXPECT_EQ(category.Read("1 2 3\r\n2 3 1\r\n1\n4 1\n", false, block),
              "  Error in data: an impossible category for variable B in record 3")
        << block;
    EXPECT_EQ(category.source.WordLine(), 4) << block;
    Data glued({2, 3});
    glued.Records(3);
    glued.run.history.RecordCountGiven = true;
    const std::string message = glued.Read("1 2 3\r\n2 3 1\r\n1 2 7x\n", false, block);
    EXPECT_EQ(message.substr(0, message.find(',')), "  Error in data: \"7x\" is not a number")
        << block;
    EXPECT_NE(message.find(", at line 3 of "), std::string::npos) << message;
  }
}

TEST(RecordData, CountsAddUpInRecordOrderWhateverTheStore) {
  // The records' counts are added up in a table of counts per cell when it fits, else in a
  // hash table of patterns (a budget too small for the table); both add in record order:
  // (0.1 + 0.2) + 0.3 is 0.6000000000000001 in doubles, 0.1 + (0.2 + 0.3) would be 0.6.
  for (std::int64_t budget : {std::int64_t{0}, 4 * kAggregatedEntryBytes}) {
    Data d({2, 3});
    d.Patterns({{1, 1}, {1, 0}});
    d.Records(6);
    d.run.history.RecordCountGiven = true;
    if (budget > 0) d.run.memory_budget = budget;
    ASSERT_EQ(d.Read("1 2 0.1\n2 0 0.5\n1 2 0.2\n2 3 2\n1 2 0.3\n2 1 1\n"), "") << budget;
    EXPECT_EQ(d.subgroups(), (Ints{0, 0, 0, 1})) << budget;
    EXPECT_EQ(d.cells(), (Numbers{1, 3, 5, 1})) << budget;
    EXPECT_EQ(d.counts(), (Numbers{0.6000000000000001, 1, 2, 0.5})) << budget;
    EXPECT_EQ(d.run.data.entry_categories, (std::vector<std::uint8_t>{0, 1, 1, 0, 1, 2, 1, 0}))
        << budget;
  }
}

TEST(RecordData, SkippedColumns) {
  Data d({2, 3});
  d.Records(2);
  d.run.history.RecordCountGiven = true;
  d.run.history.ColumnUsed[1] = 0;
  d.run.history.ColumnUsed[3] = 0;
  d.run.history.ColumnUsed[4] = 0;
  // Column 1 before A, columns 3 and 4 between A and B; the count is never skipped.
  ASSERT_EQ(d.Read("77 1 66 55 2 4\n77 2 6 5 3 1\n"), "");
  EXPECT_EQ(d.cells(), (Numbers{1, 5}));
  EXPECT_EQ(d.counts(), (Numbers{4, 1}));

  // A column skipped after the categories, before the count.
  Data after({2, 3});
  after.Records(2);
  after.run.history.RecordCountGiven = true;
  after.run.history.ColumnUsed[3] = 0;
  ASSERT_EQ(after.Read("1 2 66 4\n2 3 55 1\n"), "");
  EXPECT_EQ(after.cells(), (Numbers{1, 5}));
  EXPECT_EQ(after.counts(), (Numbers{4, 1}));

  // With subgroup numbers the skipped columns count from the subgroup number on.
  Data numbers({2, 3});
  numbers.Records(1);
  numbers.run.history.MissingCode = kNoMissingCode;
  numbers.run.history.ColumnUsed[2] = 0;
  ASSERT_EQ(numbers.Read("1 88 2 3\n"), "");
  EXPECT_EQ(numbers.cells(), (Numbers{5}));
}

TEST(RecordData, InlineRecordsEndWithTheBracket) {
  for (const char* text :
       {"1 2\n2 1]", "1 2\n2 1 ]", "1 2\n2 1 7 8]", "1 2\n2 1\n]", "1 2\n2 1 * last\n ] ite 5"}) {
    Data d({2, 3});
    d.Records(2);
    ASSERT_EQ(d.Read(text, true), "") << text;
    EXPECT_EQ(d.reader.word, "]") << text;
    EXPECT_EQ(d.cells(), (Numbers{1, 3})) << text;
    // Settings after inline data may still ask for latent or posterior probabilities.
    EXPECT_EQ(ReadLines(d.run.scratch.File("latent.lat")), (Strings{"0 1", "0 3"})) << text;
    EXPECT_TRUE(d.run.data.latent_scratch_written);
  }
  for (const char* text : {"1 2\n2 1\nite 5", "1 2\n2 1"}) {
    Data d({2, 3});
    d.Records(2);
    EXPECT_EQ(d.Read(text, true), "  Error: a \"]\" expected in command \"dat\"") << text;
  }
}

TEST(RecordData, LatentScratchFileHasEveryRecord) {
  Data d({2, 3});
  d.Records(3);
  d.run.history.RecordCountGiven = true;
  d.run.settings.file_posterior = "post.txt";
  ASSERT_EQ(d.Read("2 3 1\n1 2 0\n2 3 4\n"), "");
  EXPECT_EQ(ReadLines(d.run.scratch.File("latent.lat")), (Strings{"0 5", "0 1", "0 5"}));
  EXPECT_EQ(d.counts(), (Numbers{5}));
}

TEST(RecordData, WithoutAggregationEveryRecordIsAnEntry) {
  Data d({2, 3});
  d.Records(3);
  d.run.history.PerRecordOutput = false;
  ASSERT_EQ(d.Read("2 3\n1 2\n2 3\n"), "");
  EXPECT_TRUE(d.run.history.RecordFormat);
  EXPECT_FALSE(d.run.data.entry_count_given);
  EXPECT_EQ(d.run.history.RecordCount, 3);
  EXPECT_EQ(d.cells(), (Numbers{5, 1, 5}));
  EXPECT_EQ(d.counts(), (Numbers{1, 1, 1}));
  EXPECT_EQ(d.run.data.subgroup_total, (Numbers{3}));

  Data counted({2, 3});
  counted.Records(2);
  counted.run.history.PerRecordOutput = false;
  counted.run.history.RecordCountGiven = true;
  ASSERT_EQ(counted.Read("2 3 0\n1 2 2.5\n"), "");
  EXPECT_EQ(counted.counts(), (Numbers{0, 2.5}));
  EXPECT_DOUBLE_EQ(counted.run.data.total_count, 2.5);

  // Thirteen million entries do not fit in a budget of 100 MB.
  Data huge({2, 3});
  huge.run.memory_budget = 100'000'000;
  huge.Records(13000000);
  huge.run.history.PerRecordOutput = false;
  EXPECT_EQ(huge.Read("1 1\n"), "  Error: problem too big to fit in memory");
}

TEST(RecordData, AggregatedEntriesWithinTheMemoryBudget) {
  std::string records;
  for (int i = 1; i <= 1001; ++i) records += std::to_string(i) + "\n";
  Data full({1001});
  full.run.memory_budget = 1000 * kAggregatedEntryBytes;
  full.Records(1001);
  EXPECT_EQ(full.Read(records), "  Error: array with data too big to fit in memory");
  Data fits({1001});
  fits.run.memory_budget = 1001 * kAggregatedEntryBytes;
  fits.Records(1001);
  EXPECT_EQ(fits.Read(records), "");
  EXPECT_EQ(fits.run.data.EntryCount(), 1001);
}

TEST(RecordData, TablesTooLargeToNumberKeepTheirCategories) {
  // Twenty variables of ten categories: 1e20 cells.
  Data d(std::vector<int>(20, 10));
  d.Records(2);
  ASSERT_EQ(d.Read("1 2 3 4 5 6 7 8 9 10 1 1 1 1 1 1 1 1 1 1\n"
                   "10 10 10 10 10 10 10 10 10 10 10 10 10 10 10 10 10 10 10 2\n"),
            "");
  EXPECT_TRUE(d.run.history.RecordFormat);
  EXPECT_EQ(d.cells(), (Numbers{0, 0}));
  std::vector<int> categories;
  for (int e = 0; e < 2; ++e) {
    for (int k = 0; k < 20; ++k) categories.push_back(d.run.data.EntryCategory(e, k));
  }
  EXPECT_EQ(categories,
            (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                              9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 1}));
  EXPECT_FALSE(std::filesystem::exists(d.run.scratch.File("records.dat")));
}

TEST(RecordData, ContinuousCovariates) {
  // A (2 categories) and the covariate's variable x, whose categories are the records.
  Data d({2, 3});
  d.run.model.CovariateCount = 2;
  d.run.model.VariableLabel[1] = "x";
  d.Records(3);
  d.run.history.PerRecordOutput = false;
  ASSERT_EQ(d.Read("1 0.5 7\n2 1.5 8\n2 -2 9\n"), "");
  EXPECT_EQ(d.run.data.covariate_value, (Numbers{0.5, 1.5, -2, 7, 8, 9}));
  EXPECT_EQ(d.cells(), (Numbers{0, 4, 5}));
  EXPECT_EQ(d.counts(), (Numbers{1, 1, 1}));
}

// Within a budget of 100 MB.
TEST(RecordData, StoresStayWithinTheMemoryBudget) {
  Data covariates({2, 3});
  covariates.run.memory_budget = 100'000'000;
  covariates.run.model.CovariateCount = 2;
  covariates.Records(7000000);
  covariates.run.history.PerRecordOutput = false;
  EXPECT_EQ(covariates.Read("1 0.5 7\n"), "  Error: problem too big to fit in memory");

  Data episodes({2});
  episodes.run.memory_budget = 100'000'000;
  episodes.Hazard(3);
  episodes.run.history.EpisodeCount = 4000000;
  episodes.Records(1);
  episodes.run.history.PerRecordOutput = false;
  EXPECT_EQ(episodes.Read("1 2 1\n"), "  Error: problem too big to fit in memory");
  episodes.run.history.EpisodeCount = 2000000;
  EXPECT_EQ(episodes.Read("1 2 1 3 1\n"), "");
  EXPECT_EQ(episodes.run.data.episodes.size(), 2000000u);
}

TEST(RecordData, EpisodesUntilTheStateStays) {
  // Three states, transitions 0 to 1 (risk 1) and 1 to 2 (risk 2), three episodes.
  Data d({2});
  d.Chain(10, 3);
  EventHistoryState& h = d.run.history;
  d.Records(3);
  h.PerRecordOutput = false;
  ASSERT_EQ(d.Read("1 2 1 5 2 7 2\n2 4 0\n1 3 1 3.5 1\n"), "");
  const std::vector<Episode>& e = d.run.data.episodes;
  ASSERT_EQ(e.size(), 9u);
  auto check = [&](int i, double start, double end, int origin, int destination, int event) {
    EXPECT_DOUBLE_EQ(e[i].start_time, start) << i;
    EXPECT_DOUBLE_EQ(e[i].end_time, end) << i;
    EXPECT_EQ(e[i].origin, origin) << i;
    EXPECT_EQ(e[i].destination, destination) << i;
    EXPECT_EQ(e[i].event, event) << i;
  };
  check(0, 0, 2, 0, 1, 1);
  check(1, 2, 5, 1, 2, 2);
  check(2, 5, 7, 2, 2, 0);
  check(3, 0, 4, 0, 0, 0);  // censored at 4
  EXPECT_EQ(e[4].event, -1);
  EXPECT_EQ(e[5].event, -1);
  check(6, 0, 3, 0, 1, 1);
  check(7, 3, 3.5, 1, 1, 0);
  EXPECT_EQ(e[8].event, -1);
  EXPECT_EQ(d.cells(), (Numbers{0, 1, 0}));
}

TEST(RecordData, EpisodesAreKeptInsideTheGrid) {
  Data d({2});
  d.Hazard(3);
  EventHistoryState& h = d.run.history;
  h.TimeValues = {1, 2, 3, 4};
  h.EntryTimeGiven = true;
  d.Records(2);
  h.PerRecordOutput = false;
  // Entry before the grid (the time before it is not counted), and an event after its end
  // (censored there).
  ASSERT_EQ(d.Read("1 0 0 3 1\n1 2 0 9 1\n"), "");
  const std::vector<Episode>& e = d.run.data.episodes;
  ASSERT_EQ(e.size(), 2u);
  EXPECT_DOUBLE_EQ(e[0].start_time, 1);
  EXPECT_DOUBLE_EQ(e[0].end_time, 3);
  EXPECT_EQ(e[0].event, 1);
  EXPECT_DOUBLE_EQ(e[1].start_time, 2);
  EXPECT_DOUBLE_EQ(e[1].end_time, 4);
  EXPECT_EQ(e[1].event, 0);

  // Without given boundaries the grid grows to the latest end.
  Data track({2});
  track.Hazard(1);
  track.run.history.TrackMaximumTime = true;
  track.Records(2);
  track.run.history.PerRecordOutput = false;
  ASSERT_EQ(track.Read("1 7.5 1\n2 3 0\n"), "");
  EXPECT_EQ(track.run.history.TimeValues, (std::vector<double>{0, 7.5}));
  EXPECT_EQ(track.run.data.episodes[0].event, 1);
  EXPECT_DOUBLE_EQ(track.run.data.episodes[0].end_time, 7.5);
  // The latest exit keeps its event, however its time rounds: 3.1 - 1 + 1 + 1 - 1 is not 3.1.
  track.run.history.TimeValues = {0, 1};
  ASSERT_EQ(track.Read("1 2 0\n1 3.1 1\n"), "");
  EXPECT_EQ(track.run.data.episodes[1].event, 1);
}

TEST(RecordData, OneEpisodePerRiskWithMultipleRisks) {
  Data d({2});
  d.Hazard(10);
  EventHistoryState& h = d.run.history;
  h.MultipleRisks = true;
  h.StateCount = 3;
  h.RiskCount = 2;
  h.TransitionRisk = {0, 1, 0, 0, 0, 2, 0, 0, 0};
  h.EpisodeCount = 2;
  h.EntryTimeGiven = true;
  d.Records(1);
  h.PerRecordOutput = false;
  ASSERT_EQ(d.Read("2 1 4 1 2 6 0\n"), "");
  const std::vector<Episode>& e = d.run.data.episodes;
  ASSERT_EQ(e.size(), 2u);
  EXPECT_DOUBLE_EQ(e[0].start_time, 1);
  EXPECT_DOUBLE_EQ(e[0].end_time, 4);
  EXPECT_EQ(e[0].origin, 0);
  EXPECT_EQ(e[0].destination, 1);
  EXPECT_EQ(e[0].event, 1);
  EXPECT_DOUBLE_EQ(e[1].start_time, 2);
  EXPECT_DOUBLE_EQ(e[1].end_time, 6);
  EXPECT_EQ(e[1].origin, 1);
  EXPECT_EQ(e[1].destination, 0);
  EXPECT_EQ(e[1].event, 0);
}

TEST(RecordData, StateMessages) {
  Data d({2});
  d.Hazard(4);
  d.Records(2);
  d.run.history.PerRecordOutput = false;
  EXPECT_EQ(d.Read("1 2 1\n1 3 2\n"),
            "  Error in data: state greater than number of states in record 2");
  EXPECT_EQ(d.Read("1 2 -1\n"), "  Error in data: negative state in record 1");
  EXPECT_EQ(d.Read("1 2 1\n1 3\n"), "  Error in data: record 2 ends in the middle of an episode");
  EXPECT_EQ(d.Read("1 2 1\n1 3 1"), "");
}

// Every episode that cannot be one stops the run with the record's number.
TEST(RecordData, EpisodeMessages) {
  Data d({2});
  d.Chain(4, 3);
  EventHistoryState& h = d.run.history;
  h.EntryTimeGiven = true;
  d.Records(2);
  h.PerRecordOutput = false;
  EXPECT_EQ(d.Read("1 0 0 2 1 4 1\n1 3 0 2 1 4 1\n"),
            "  Error in data: an episode ends before it begins in record 2");
  EXPECT_EQ(d.Read("1 2 0 2 1 4 1\n"),
            "  Error in data: an episode without exposure time in record 1");
  EXPECT_EQ(
      d.Read("1 0 0 2 2\n"),
      "  Error in data: a transition from state 0 to state 2 is not in the model in record 1");
  // State 1 can still be left, state 2 cannot.
  EXPECT_EQ(d.Read("1 0 0 2 1\n"), "  Error in data: record 1 ends in the middle of an episode");
  // ... but a transition at the last boundary leaves it no time in the grid.
  EXPECT_EQ(d.Read("1 0 0 4 1\n2 0 0 1 1 3 1\n"), "");
  EXPECT_EQ(d.run.data.episodes[0].event, 1);
  EXPECT_EQ(d.run.data.episodes[1].event, -1);
  EXPECT_EQ(d.Read("1 0 0 2 1 3 2\n2 0 0 1 1 3 1\n"), "");
  EXPECT_EQ(d.run.data.episodes[1].event, 2);
  EXPECT_EQ(d.run.data.episodes[4].event, 0);
  h.TimeValues = {1, 2, 3, 4, 5};
  EXPECT_EQ(d.Read("1 0 0 1 1 3 2\n"),
            "  Error in data: an episode ends before the first time boundary in record 1");
}

}  // namespace
}  // namespace tav
