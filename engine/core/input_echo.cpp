#include "core/input_echo.h"

#include "core/format_real.h"

namespace tav {

void InputEcho::Add(std::string_view bytes) {
  for (const char c : bytes) {
    const bool lf_of_crlf = after_cr_ && c == '\n';
    after_cr_ = c == '\r';
    if (lf_of_crlf) continue;
    if (!line_open_) {
      line_open_ = true;
      data_line_ = inline_data_;
      comment_ = false;
      line_.clear();
    }
    if (c == '\n' || c == '\r') {
      EndLine();
      continue;
    }
    line_ += c;
    if (c == '*') comment_ = true;
    if (!comment_ && c == '[') inline_data_ = true;
    if (!comment_ && c == ']') inline_data_ = false;
  }
}

void InputEcho::Finish() {
  if (line_open_) EndLine();
  ShowLeftOut();
}

void InputEcho::EndLine() {
  line_open_ = false;
  if (data_line_ && ++data_lines_ > kEchoedDataLines) {
    ++left_out_;
  } else {
    lines_.push_back("  " + line_);
  }
  if (!inline_data_) ShowLeftOut();
}

void InputEcho::ShowLeftOut() {
  if (left_out_ > 0) {
    lines_.push_back("  (" + FormatReal(0, 0, static_cast<double>(left_out_)) +
                     " more lines of data not shown)");
  }
  data_lines_ = 0;
  left_out_ = 0;
}

}  // namespace tav
