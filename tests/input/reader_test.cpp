#include "input/reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

using testing::ReaderInput;
using ::testing::StartsWith;
using testing::StopMessage;

std::vector<std::string> Words(const std::string& text) {
  ReaderInput input(text);
  std::vector<std::string> words;
  for (std::string word = ReadWord(input.file()); !word.empty(); word = ReadWord(input.file())) {
    words.push_back(word);
  }
  return words;
}

using Strings = std::vector<std::string>;

TEST(ReadWord, SeparatorsBracketsAndComments) {
  EXPECT_EQ(Words("man 2,lat 1"), (Strings{"man", "2", "lat", "1"}));
  EXPECT_EQ(Words("mod{AB"), (Strings{"mod{", "AB"}));
  EXPECT_EQ(Words("dat [data.txt]"), (Strings{"dat", "[", "data.txt]"}));
  EXPECT_EQ(Words("{AB,AC}"), (Strings{"{", "AB", "AC}"}));
  EXPECT_EQ(Words("eff(AB 2)"), (Strings{"eff(", "AB", "2)"}));
  EXPECT_EQ(Words("( ) } {"), (Strings{"(", ")", "}", "{"}));
  EXPECT_EQ(Words("a*b c\nd * e\n*\nf"), (Strings{"a", "d", "f"}));
  EXPECT_EQ(Words("lat 1 * two latent variables? no, one\nman 4"),
            (Strings{"lat", "1", "man", "4"}));
}

TEST(ReadWord, AnyByteStream) {
  EXPECT_EQ(Words(""), Strings{});
  EXPECT_EQ(Words("   \n\t\r\n"), Strings{});
  EXPECT_EQ(Words("lat 1\r\nman 4\r\n"), (Strings{"lat", "1", "man", "4"}));
  EXPECT_EQ(Words("lat\t1\tman\t4"), (Strings{"lat", "1", "man", "4"}));
  EXPECT_EQ(Words("dim 2 2"), (Strings{"dim", "2", "2"}));  // no final line end
  EXPECT_EQ(Words("lab \xC3\xA9t\xE9 B"), (Strings{"lab", "\xC3\xA9t\xE9", "B"}));
  EXPECT_EQ(Words(std::string("a\0b", 3)), (Strings{"a", "b"}));
  // A comment that runs to a lone carriage return ends there.
  EXPECT_EQ(Words("a * c\rb"), (Strings{"a", "b"}));
  EXPECT_EQ(Words("x *"), Strings{"x"});
}

TEST(ReadWord, AtMostEightyCharacters) {
  const std::string long_word(100, 'w');
  EXPECT_EQ(Words(long_word + " next"), (Strings{std::string(80, 'w'), "next"}));
}

struct Numbers {
  explicit Numbers(const std::string& text) : input(text) { reader.command = "dim"; }
  double Real() { return ReadReal(reader, run, input.file()); }
  int Integer() { return ReadInteger(reader, run, input.file()); }
  Reader reader;
  DataRun run;
  ReaderInput input;
};

TEST(ReadReal, NumberForms) {
  Numbers n(".5 -.5 2.0 12 -3 0007 1e-5");
  EXPECT_EQ(n.Real(), 0.5);
  EXPECT_EQ(n.Real(), -0.5);
  EXPECT_EQ(n.Integer(), 2);
  EXPECT_EQ(n.Real(), 12);
  EXPECT_EQ(n.Integer(), -3);
  EXPECT_EQ(n.Real(), 7);
  // No exponents, and a number is never cut short at a letter.
  EXPECT_THAT(StopMessage([&] { n.Real(); }),
              StartsWith("  Error: \"1e-5\" is not a number when reading dim, at line 1 of "));
}

// Every number text gets the value strtod gives it (correctly rounded, signed zero included):
// whole numbers up to and beyond 15 digits, decimals with many digits, leading points and
// trailing points, leading zeros, from a fixed pseudo-random draw; read from text as well.
TEST(ReadReal, SameValuesAsStrtod) {
  std::mt19937_64 random(99);
  std::vector<std::string> texts = {"0",
                                    "-0",
                                    "5.",
                                    "-0.5",
                                    "0.1",
                                    "123456789012345",
                                    "1234567890123456",
                                    "99999999999999999999",
                                    "0.3000000000000000444",
                                    std::string(400, '9'),
                                    "0." + std::string(400, '0') + "1"};
  for (int k = 0; k < 200000; ++k) {
    std::string text = random() % 4 == 0 ? "-" : "";
    const int digits = 1 + static_cast<int>(random() % 25);
    const int point = static_cast<int>(random() % (digits + 3));
    for (int d = 0; d < digits; ++d) {
      if (d == point) text += '.';
      text += static_cast<char>('0' + random() % 10);
    }
    if (point == digits) text += '.';
    texts.push_back(text);
  }
  std::string input;
  for (const std::string& text : texts) input += text + " ";
  Numbers n(input);
  for (const std::string& text : texts) {
    ASSERT_TRUE(IsNumberText(text)) << text;
    const double expected = std::strtod(text.c_str(), nullptr);
    const double value = NumberValue(text);
    ASSERT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text;
    const double read = n.Real();
    ASSERT_EQ(std::memcmp(&read, &expected, sizeof read), 0) << text;
  }
}

TEST(ReadReal, EndingCharacterGoesToReaderWord) {
  Numbers n("2)\n3}4 5* a comment\n6 7*");
  EXPECT_EQ(n.Real(), 2);
  EXPECT_EQ(n.reader.word, ")");
  EXPECT_EQ(n.Real(), 3);
  EXPECT_EQ(n.reader.word, "}");
  EXPECT_EQ(n.Real(), 4);
  EXPECT_EQ(n.reader.word, " ");
  EXPECT_EQ(n.Real(), 5);
  EXPECT_EQ(n.reader.word, " ");  // the comment was skipped
  EXPECT_EQ(n.Real(), 6);
  EXPECT_EQ(n.Real(), 7);
  EXPECT_EQ(n.reader.word, "*");  // the last character of the file stays
}

TEST(ReadReal, CommentsWhileSkipping) {
  Numbers n("1 * 99 \n * 98\n2\r\n\t3");
  EXPECT_EQ(n.Real(), 1);
  EXPECT_EQ(n.Real(), 2);
  EXPECT_EQ(n.Real(), 3);
  EXPECT_EQ(n.reader.word, "");  // the end of the file ended it
}

// A comma ends a number when a blank (or another separator) follows it; glued to further digits
// it is refused, since "1,000" may mean one number or two.
TEST(ReadReal, CommaIsNotSkipped) {
  Numbers n("2, 1,\n3");
  EXPECT_EQ(n.Real(), 2);
  EXPECT_EQ(n.reader.word, ",");
  EXPECT_EQ(n.Real(), 1);
  EXPECT_EQ(n.Real(), 3);
  for (const char* glued : {"1,000", "2,1", "2,.5", "2,-1"}) {
    Numbers refused(glued);
    EXPECT_THAT(
        StopMessage([&] { refused.Real(); }),
        StartsWith("  Error: \"" + std::string(glued) + "\" is not a number when reading dim"));
  }
  Numbers bad("2, ,1");
  bad.Real();
  EXPECT_EQ(StopMessage([&] { bad.Real(); }),
            "  Error: too few numbers encountered when reading dim");
}

TEST(ReadReal, Failures) {
  const std::string too_few = "  Error: too few numbers encountered when reading dim";
  for (const char* text : {"", "  \n", "lat", "-", "--1", "1.2.3", "- 1", ",1", "+1", "*"}) {
    Numbers n(text);
    EXPECT_EQ(StopMessage([&] { n.Real(); }), too_few) << "text: " << text;
  }
  Numbers fraction("2.5");
  EXPECT_EQ(StopMessage([&] { fraction.Integer(); }),
            "  Error: a real where an integer is expected when reading dim");
  Numbers huge("3000000000");
  EXPECT_EQ(StopMessage([&] { huge.Integer(); }), "  Error: number too large when reading dim");
  Numbers long_number(std::string(400, '9'));
  EXPECT_EQ(StopMessage([&] { long_number.Integer(); }),
            "  Error: number too large when reading dim");
}

// The words of text, each with the line the reader gives for it ("word@line"), and what it
// gives once the end is met.
Strings WordLines(const std::string& text) {
  ReaderInput input(text);
  Strings words;
  for (std::string word = ReadWord(input.file()); !word.empty(); word = ReadWord(input.file())) {
    words.push_back(word + "@" + std::to_string(input.file().WordLine()));
  }
  words.push_back("end@" + std::to_string(input.file().WordLine()));
  return words;
}

TEST(ReadWord, LineOfTheWordBeingRead) {
  const struct {
    const char* text;
    Strings expected;
  } cases[] = {
      // A word that a line end ends is on its own line, not on the next.
      {"man 2\ndim 2 2\n", {"man@1", "2@1", "dim@2", "2@2", "2@2", "end@0"}},
      {"lat 1\r\n\r\nman\r4", {"lat@1", "1@1", "man@3", "4@4", "end@0"}},
      // Comments and empty lines count as lines; a word directly before "*" is on its line.
      {"* model\n\nlab A* labels\n  * more\nmod{A}", {"lab@3", "A@3", "mod{@5", "A}@5", "end@0"}},
      // Brackets of inline data, and the closing bracket on a line of its own.
      {"dat [\n1 2\n]\n* done\n", {"dat@1", "[@1", "1@2", "2@2", "]@3", "end@0"}},
  };
  for (const auto& c : cases) EXPECT_EQ(WordLines(c.text), c.expected) << "text: " << c.text;
}

TEST(ReadReal, LineOfTheNumberBeingRead) {
  Numbers n("1\n2 * two\n\n 3*x\n4 ,");
  std::vector<std::int64_t> lines;
  for (int i = 0; i < 4; ++i) {
    n.Real();
    lines.push_back(n.input.file().WordLine());
  }
  EXPECT_EQ(lines, (std::vector<std::int64_t>{1, 2, 4, 5}));
  // What stopped the reading is where the error is: the comma, or the end (no line).
  EXPECT_FALSE(StopMessage([&] { n.Real(); }).empty());
  EXPECT_EQ(n.input.file().WordLine(), 5);
  Numbers short_list("1 2\n\n");
  short_list.Real();
  short_list.Real();
  EXPECT_FALSE(StopMessage([&] { short_list.Real(); }).empty());
  EXPECT_EQ(short_list.input.file().WordLine(), 0);
}

TEST(WordToInteger, LeadingDigits) {
  EXPECT_EQ(WordToInteger("12ab"), 12);
  EXPECT_EQ(WordToInteger("2)"), 2);
  EXPECT_EQ(WordToInteger("-3x"), -3);
  EXPECT_EQ(WordToInteger("x3"), 0);
  EXPECT_EQ(WordToInteger("-"), 0);
  EXPECT_EQ(WordToInteger(""), 0);
  EXPECT_EQ(WordToInteger("99999999999"), 2147483647);
}

TEST(IntegerText, NoLeadingZeros) {
  EXPECT_EQ(IntegerText(0), "0");
  EXPECT_EQ(IntegerText(7), "7");
  EXPECT_EQ(IntegerText(42), "42");
  EXPECT_EQ(IntegerText(1000), "1000");
  EXPECT_EQ(IntegerText(9999), "9999");
}

class ParseTermTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run.model.VariableCount = 4;
    const char* labels[] = {"A", "B", "C", "D"};
    for (int v = 0; v < 4; ++v) run.model.VariableLabel[v] = labels[v];
    reader.command = "mod";
  }
  Membership Parse(const std::string& word, bool keep = false) {
    reader.word = word;
    ParseTerm(reader, run.model, word, marks, 4, keep);
    return marks;
  }
  static Membership Marks(std::initializer_list<int> values) {
    Membership m{};
    int i = 0;
    for (int v : values) m[i++] = static_cast<std::uint8_t>(v);
    return m;
  }
  Reader reader;
  DataRun run;
  Membership marks{};
};

TEST_F(ParseTermTest, ShortLabels) {
  EXPECT_EQ(Parse("AB|C"), Marks({1, 1, 2, 0}));
  EXPECT_EQ(Parse("{DA}"), Marks({1, 0, 0, 1}));
  EXPECT_EQ(Parse("B)"), Marks({0, 1, 0, 0}));
  EXPECT_EQ(Parse("A.C"), Marks({1, 0, 1, 0}));
  EXPECT_EQ(Parse("-"), Marks({}));
  EXPECT_EQ(Parse("-}"), Marks({}));
}

TEST_F(ParseTermTest, KeepAccumulates) {
  Parse("A");
  EXPECT_EQ(Parse("C", true), Marks({1, 0, 1, 0}));
  EXPECT_EQ(StopMessage([&] { Parse("A", true); }),
            "  Error: double label (A) in A in command mod");
}

TEST_F(ParseTermTest, WrongAndDoubleLabels) {
  EXPECT_EQ(StopMessage([&] { Parse("AE"); }), "  Error: wrong label (E) in AE in command mod");
  EXPECT_EQ(StopMessage([&] { Parse("ABA"); }), "  Error: double label (A) in ABA in command mod");
  EXPECT_EQ(StopMessage([&] { Parse("a"); }), "  Error: wrong label (a) in a in command mod");
  // Only the first n variables are looked at.
  reader.word = "D";
  EXPECT_EQ(StopMessage([&] { ParseTerm(reader, run.model, "D", marks, 3, false); }),
            "  Error: wrong label (D) in D in command mod");
}

TEST_F(ParseTermTest, LongLabels) {
  run.model.LongLabels = true;
  run.model.VariableLabel[0] = "Sex";
  run.model.VariableLabel[1] = "Age";
  run.model.VariableLabel[2] = "Edu";
  run.model.VariableLabel[3] = "X";
  EXPECT_EQ(Parse("Sex.Age|Edu"), Marks({1, 1, 2, 0}));
  EXPECT_EQ(Parse("{Education.X}"), Marks({0, 0, 1, 1}));  // three characters count
  EXPECT_EQ(StopMessage([&] { Parse("Sex.Ag"); }),
            "  Error: wrong label (Ag) in Sex.Ag in command mod");
}

}  // namespace
}  // namespace tav
