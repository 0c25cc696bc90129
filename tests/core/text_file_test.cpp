#include "core/text_file.h"

#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
}  // namespace tav
