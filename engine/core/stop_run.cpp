#include "core/stop_run.h"

#include <cctype>
#include <utility>

namespace tav {

StopRunError::StopRunError(StopReason reason, std::string message)
    : reason_(reason), message_(std::move(message)) {
  if (message_.size() > kMaxMessageLength) message_.resize(kMaxMessageLength);
}

void StopRun(const std::string& message) { throw StopRunError(StopReason::kError, message); }

void StopRun(StopReason reason) { throw StopRunError(reason); }

std::string ErrorBoxText(const std::string& message) {
  if (message.size() < 10) return "";
  // "  Error in data: ..." and "  Error in command ..." read as "In data: ...", "In command
  // ...": counting to the tenth character there would cut the word "in" in two.
  const bool in_message = message.compare(0, 11, "  Error in ") == 0;
  std::string text = message.substr(in_message ? 8 : 9);
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace tav
