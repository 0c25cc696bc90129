#include "core/input_echo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text_file.h"
#include "test_support.h"

namespace tav {
namespace {

using Lines = std::vector<std::string>;

// The echo of text handed over in pieces of the given size.
Lines Echo(const std::string& text, std::size_t piece) {
  InputEcho echo;
  for (std::size_t at = 0; at < text.size(); at += piece) echo.Add(text.substr(at, piece));
  echo.Finish();
  return echo.Lines();
}

// Every line end counts once, wherever the pieces are cut; a last line without its end counts.
TEST(InputEcho, LineEnds) {
  for (std::size_t piece : {1u, 2u, 100u}) {
    EXPECT_EQ(Echo("a\r\nb\rc\n\nd", piece), (Lines{"  a", "  b", "  c", "  ", "  d"})) << piece;
    EXPECT_EQ(Echo("a\r\n", piece), (Lines{"  a"}));
  }
  EXPECT_EQ(Echo("", 1), Lines{});
}

// Inline data blocks are cut after 1,000 lines each; brackets within comments open nothing.
TEST(InputEcho, InlineDataCut) {
  std::string text = "* [ a comment\ndat [\n";
  for (int k = 0; k < 1002; ++k) text += "1\n";
  text += "]\ndes [ 1\n2 ]\n";
  const Lines lines = Echo(text, 7);
  ASSERT_EQ(lines.size(), 2u + 1000u + 1u + 2u);
  EXPECT_EQ(lines[1], "  dat [");
  EXPECT_EQ(lines[1001], "  1");
  EXPECT_EQ(lines[1002], "  (3 more lines of data not shown)");  // two of data, and the "]"
  EXPECT_EQ(lines[1003], "  des [ 1");
  EXPECT_EQ(lines[1004], "  2 ]");
}

// Tapped from a file, the echo starts after a byte-order mark and sees every block.
TEST(InputEcho, TappedFromAFile) {
  testing::TempDir dir;
  const std::string long_line(200000, 'x');
  TextFile file;
  ASSERT_TRUE(file.Open(dir.Write("in.inp", "\xEF\xBB\xBFman 2\n" + long_line + "\n"), "r"));
  InputEcho echo;
  file.TapReads([&echo](std::string_view bytes) { echo.Add(bytes); });
  while (file.Get() != TextFile::kEnd) {
  }
  echo.Finish();
  EXPECT_EQ(echo.Lines(), (Lines{"  man 2", "  " + long_line}));
}

}  // namespace
}  // namespace tav
