#ifndef TAV_ENGINE_INPUT_READER_H_
#define TAV_ENGINE_INPUT_READER_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/model_state.h"
#include "core/run_context.h"
#include "core/text_file.h"

namespace tav {

// The reader's state while an input file is parsed, which the parser passes to each of its
// steps (ParseInput, data/parse_input.h, makes one per input file).
struct Reader {
  // The input file being read; it marks where the word last read began (for the line an error
  // names: ReadingPositionLine).
  TextFile input;
  // The word last read by ReadCurrentWord, or the character that ended the last number; the
  // section parsers also set it to the word they work on.
  std::string word;
  // The command being handled (its word as written, or what is being read, such as "data"):
  // the section parsers hand the first word they do not recognise on to the next section here,
  // and the messages of the number readers name it.
  std::string command;
};

// The input reader pulls words and numbers straight from an open text file.
//
// Words are separated by characters up to the blank (controls, tabs, line ends, blanks) and
// commas; "{", "[", "(", ")" and "}" end a word and cling to it as its last character (a lone
// bracket is a word of its own); "*" starts a comment that runs to the end of the line; "]"
// is an ordinary character. Words hold at most 80 characters. At the end of the file the word
// is empty.
std::string ReadWord(TextFile& file);

// The longest file name taken, in the input and on the command line.
inline constexpr int kMaxFileName = 4096;

// ReadWord for a file name: up to kMaxFileName characters; a longer one stops the run.
std::string ReadFileName(TextFile& file);

// Reads a number: blanks and comments are skipped (a comma is not: it ends the number, or is
// an error where a number should begin). The text is digits and points, optionally after a
// "-"; a leading point counts as "0.". No "+" and no exponent. The character that ended the
// number goes into reader.word (a blank when it was a comment's "*"). A missing or
// unreadable number stops the run with "too few numbers encountered when reading" and
// reader.command.
//
// A number ends at a blank, a line end, a comment or a comma that is not followed directly by
// more digits, and outside the data and design files (run.DataFile, run.DataFile2) also at a
// bracket. Anything else after the digits ("7o", "7x9", "7-3", "1,000", "1e-5") is never read
// as a shorter number: the run stops with "Error in data:" (while data are read) or "Error:",
// the text read, and the line and file it stands in.
double ReadReal(Reader& reader, const RunContext& run, TextFile& file);

// ReadReal's quick path for the common datum, a whole number of 1 to 9 digits (no sign)
// after blanks and line ends and before a blank, tab or line end, when all of it lies in the
// block the file holds: reads it exactly as ReadReal would (the mark of its first digit, the
// byte after it read and left in reader.word) and returns true with its value. Otherwise it
// returns false having read at most blanks and line ends, which ReadReal skips anyway, and
// ReadReal (or ReadInteger) reads the number: a sign, a point, more digits, a comment, a comma,
// a bracket, the end of the block or of the file.
inline bool ReadSmallWhole(Reader& reader, TextFile& file, std::int32_t& value) {
  const std::string_view held = file.Held();
  const char* const begin = held.data();
  const char* const end = begin + held.size();
  const char* p = begin;
  while (p != end && static_cast<unsigned char>(*p) <= ' ') ++p;
  const std::size_t blanks = static_cast<std::size_t>(p - begin);
  // At most 9 digits, so that the value fits in 32 bits, and then the byte after them, which
  // must be in the block and be a blank or a line end (a tenth digit is neither).
  const char* const last = end - p > 9 ? p + 9 : end;
  std::int32_t number = 0;
  const char* digit = p;
  for (; digit != last && static_cast<unsigned char>(*digit - '0') <= 9; ++digit) {
    number = number * 10 + (*digit - '0');
  }
  if (digit == p || digit == end || static_cast<unsigned char>(*digit) > ' ') {
    if (blanks > 0) file.Advance(blanks);
    return false;
  }
  file.Advance(blanks + 1);
  file.MarkWord();
  file.Advance(static_cast<std::size_t>(digit - p));
  reader.word.assign(1, *digit);
  value = number;
  return true;
}

// ReadReal for a whole number: a fractional part stops the run with "a real where an integer
// is expected when reading", a value beyond 32 bits with "number too large when reading".
std::int32_t ReadInteger(Reader& reader, const RunContext& run, TextFile& file);

// True when word ends with the character c.
inline bool WordEndsWith(const std::string& word, char c) {
  return !word.empty() && word.back() == c;
}

// True for the characters 0 to 9.
inline bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

// True when text is "-"? digits "." digits with at least one digit and at most one point.
bool IsNumberText(const std::string& text);

// The value of a number text (one that IsNumberText accepts), correctly rounded: whole numbers of
// up to 15 digits directly, others by std::from_chars.
double NumberValue(const std::string& text);

// The log line that says where the reader stood when the run stopped on an error:
// "  at line N of NAME", N being the line of the word or number it was reading and NAME the
// file's name, or "" when that is not known.
//
// While a data, design or start-value file is open (run.DataFile; one at a time, opened and
// closed while the input is read) the error is in that file: NAME is that file's name as opened
// (with the directory prefix). Otherwise, while the input file (reader.input) is open, it is the
// input file, named as on the command line. A word's line is that of its first character, so a word
// that a line end ends, or a number that a comment follows, is on its own line. Once the reader has
// met the end of the file instead of a word or number, the file has been read: errors found
// then (a list not closed, "too few numbers", the checks after the last command: "no data
// specified", a data file that cannot be opened, the number of cases) name no line, nor do
// those found before the first word, nor any after the input has been read (the input and data
// files are closed then, and what reopens them reads no words).
std::string ReadingPositionLine(const Reader& reader, const RunContext& run);

// Reads the next word of the input file into reader.word and returns it.
const std::string& ReadCurrentWord(Reader& reader);

// The integer written by the leading digits of word (a "-" allowed first); 0 when there are
// none; saturates at the 32-bit range.
std::int32_t WordToInteger(const std::string& word);

// The decimal digits of a non-negative integer, without leading zeros.
std::string IntegerText(int value);

// Marks in vector which of the first n variables the term word names: 1 for those before a
// "|", 2 for those after it. Labels are single characters, or with long labels separated by
// "." (only their first three characters count). Unless keep, the vector is cleared first.
// A term that is "-" or "-}" (as reader.word) is empty; messages name reader.word and
// reader.command. An unknown label or a
// label named twice stops the run.
void ParseTerm(const Reader& reader, const ModelState& model, const std::string& word,
               std::span<std::uint8_t> vector, int n, bool keep);

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_READER_H_
