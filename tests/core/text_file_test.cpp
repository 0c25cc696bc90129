#include "core/text_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

constexpr auto kReplace = TextFile::Destination::kReplaceWhenComplete;

TEST(TextFile, AReplacingFileTakesItsPlaceOnlyWhenClosedComplete) {
  TempDir dir;
  const std::string path = dir.Write("report.out", "earlier\n");
  TextFile file;
  ASSERT_TRUE(file.Open(path, "w", kReplace));
  file.WriteLine("new");
  EXPECT_EQ(ReadFile(path), "earlier\n");
  file.Discard();
  EXPECT_EQ(ReadFile(path), "earlier\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  ASSERT_TRUE(file.Open(path, "w", kReplace));
  file.WriteLine("new");
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(ReadFile(path), "new\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(TextFile, AppendingStartsFromTheDestinationAndLinksStayLinks) {
  TempDir dir;
  const std::string target = dir.Write("parameters.txt", "run 1\n");
  const fs::path link = dir.path() / "link.txt";
  fs::create_symlink(target, link);
  TextFile file;
  ASSERT_TRUE(file.Open(link.string(), "a", kReplace));
  file.WriteLine("run 2");
  EXPECT_TRUE(file.Close());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "run 1\nrun 2\n");
}

// Files closed complete wait in the list: Discard leaves every destination as it was, Commit puts
// them all in place. A file appended to twice starts the second time from the waiting file.
TEST(PendingReplacements, EveryFileWaitsUntilCommitOrGoesAtDiscard) {
  TempDir dir;
  const std::string report = dir.Write("report.out", "earlier\n");
  const std::string margins = dir.Write("margins.txt", "m0\n");
  const auto files = [&] {
    return std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
  };
  for (const bool commit : {false, true}) {
    PendingReplacements pending;
    TextFile file;
    ASSERT_TRUE(file.Open(report, "w", kReplace, nullptr, &pending));
    file.WriteLine("new");
    EXPECT_TRUE(file.Close());
    for (const char* line : {"m1", "m2"}) {
      ASSERT_TRUE(
          file.Open((dir.path() / "." / "margins.txt").string(), "a", kReplace, nullptr, &pending));
      file.WriteLine(line);
      EXPECT_TRUE(file.Close());
    }
    EXPECT_EQ(ReadFile(report), "earlier\n");
    EXPECT_EQ(ReadFile(margins), "m0\n");
    EXPECT_EQ(files(), 4);  // two temporaries wait beside the two files
    std::string failed;
    if (commit) {
      EXPECT_TRUE(pending.Commit(failed));
    } else {
      pending.Discard();
    }
    EXPECT_EQ(files(), 2);
    EXPECT_EQ(ReadFile(report), commit ? "new\n" : "earlier\n");
    EXPECT_EQ(ReadFile(margins), commit ? "m0\nm1\nm2\n" : "m0\n");
  }
}

// The spellings through "./", ".." and linked folders are run through the program in the
// file-safety test; here the links to files: a hard link, and a link whose target is yet to be
// written (writing through it creates the target).
TEST(TextFile, SameFileFollowsLinksToFilesThatExistOrNot) {
  TempDir dir;
  const std::string data = dir.Write("data.txt", "1\n");
  fs::create_hard_link(data, dir.path() / "hard.txt");
  EXPECT_TRUE(SameFile(dir.File("hard.txt"), data));
  fs::create_directory(dir.path() / "sub");
  fs::create_symlink("../later.txt", dir.path() / "sub" / "dangling.txt");
  EXPECT_TRUE(SameFile(dir.File("sub/dangling.txt"), dir.File("later.txt")));
  EXPECT_FALSE(SameFile(dir.File("sub/dangling.txt"), data));
  EXPECT_FALSE(SameFile(dir.File("later.txt"), dir.File("later.txt.bak")));
}

TEST(TextFile, FailedWritesAreReportedAtClose) {
  TempDir dir;
  const std::string path = dir.Write("result.txt", "kept\n");
  WriteFaults faults;
  faults.fail_at = 2;
  TextFile file;
  ASSERT_TRUE(file.Open(path, "w", kReplace, &faults));
  file.Write("first");
  EXPECT_FALSE(file.failed());
  file.Write("second");
  EXPECT_TRUE(file.failed());
  EXPECT_FALSE(file.Close());
  EXPECT_EQ(ReadFile(path), "kept\n");
  // A device is written directly and its failure shows too.
  TextFile device;
  ASSERT_TRUE(device.Open("/dev/full", "w", kReplace));
  device.WriteLine("nothing fits");
  EXPECT_FALSE(device.Close());
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// Reads every byte of the file with Get (Peek and AtEnd on the way), marking each byte that
// follows a blank: the text read back and the line of every mark.
struct ReadBack {
  explicit ReadBack(const std::string& contents) {
    TempDir dir;
    TextFile file;
    EXPECT_TRUE(file.Open(dir.Write("in.txt", contents), "r"));
    EXPECT_EQ(file.WordLine(), 0);  // nothing marked yet
    int before = ' ';
    while (!file.AtEnd()) {
      const int peeked = file.Peek();
      const int c = file.Get();
      EXPECT_EQ(c, peeked);
      text += static_cast<char>(c);
      if (before == ' ') {
        file.MarkWord();
        lines.push_back(file.WordLine());
      }
      before = c;
    }
    EXPECT_EQ(file.Get(), TextFile::kEnd);
    EXPECT_EQ(file.LastRead(), TextFile::kEnd);
    file.MarkEnd();
    EXPECT_EQ(file.WordLine(), 0);
  }
  std::string text;
  std::vector<std::int64_t> lines;
};

TEST(TextFile, ReadsEveryByteAndCountsTheLinesBeforeAMark) {
  using Lines = std::vector<std::int64_t>;
  // Line ends: LF, CR LF and a lone CR; a byte-order mark is skipped but counts no line.
  const ReadBack mixed("\xEF\xBB\xBF a\n b\r\n c\r d\n\r\n e\r\r f\n\n");
  EXPECT_EQ(mixed.text, " a\n b\r\n c\r d\n\r\n e\r\r f\n\n");
  EXPECT_EQ(mixed.lines, (Lines{1, 1, 2, 3, 4, 6, 8}));
  // Bytes above 127 are values up to 255, never the end.
  EXPECT_EQ(ReadBack("\xFF\xE9").text, "\xFF\xE9");
  // Across the blocks the file is read in: a mark after 100,000 lines.
  std::string big;
  for (int i = 0; i < 100000; ++i) big += i % 2 == 0 ? "12\n" : "3456\r\n";
  const ReadBack far(big + " x");
  EXPECT_EQ(far.text, big + " x");
  EXPECT_EQ(far.lines.back(), 100001);
}

}  // namespace
}  // namespace tav
