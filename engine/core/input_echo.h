#ifndef TAV_ENGINE_CORE_INPUT_ECHO_H_
#define TAV_ENGINE_CORE_INPUT_ECHO_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tav {

// The lines of inline data that the echo shows before it says how many more it left out.
inline constexpr std::int64_t kEchoedDataLines = 1000;

// The input text as the report echoes it, built from the bytes the reader took from the input
// file while it parsed them, so that the report shows the text that was run even when the file
// is changed or moved during the run.
//
// The text is cut into lines at LF, CR LF and lone CR, each echoed with two blanks in front.
// Inline data (the lines after the one where a "[" opens them, up to the one where a "]" closes
// them, neither within a comment) are echoed for their first kEchoedDataLines lines; the rest of
// such a block is replaced by one line "  (N more lines of data not shown)", so that the echo
// of a large input stays small (it is held here, lines left out are only counted).
class InputEcho {
 public:
  // Takes the next bytes of the input file.
  void Add(std::string_view bytes);
  // Ends the text (a last line without a line end counts); Lines is complete afterwards.
  void Finish();
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  void EndLine();
  void ShowLeftOut();

  std::vector<std::string> lines_;
  std::string line_;
  bool line_open_ = false;    // bytes of a line not yet ended have been taken
  bool after_cr_ = false;     // the last byte was a CR, whose LF is no line of its own
  bool comment_ = false;      // a "*" has been met on this line
  bool inline_data_ = false;  // within inline data
  bool data_line_ = false;    // this line began within inline data
  std::int64_t data_lines_ = 0;
  std::int64_t left_out_ = 0;
};

}  // namespace tav

#endif  // TAV_ENGINE_CORE_INPUT_ECHO_H_
