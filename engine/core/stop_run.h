#ifndef TAV_ENGINE_CORE_STOP_RUN_H_
#define TAV_ENGINE_CORE_STOP_RUN_H_

#include <exception>
#include <string>

namespace tav {

// The one way a run ends early. StopRun throws it; only the run driver catches it, closes the
// files, shows the message and ends the process. The message is kept exactly as given (cut to
// 255 characters): an empty message is the normal end, "cancel" a stop by the user, anything
// else an error text that begins with two blanks and "Error: ".
class StopRunError : public std::exception {
 public:
  explicit StopRunError(std::string message);
  const std::string& message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

inline constexpr std::size_t kMaxMessageLength = 255;

[[noreturn]] void StopRun(const std::string& message);

// The text an error box shows for message: from its tenth character on, that character in
// upper case ("  Error: cannot open file x" gives "Cannot open file x"), or from the "in" of
// "  Error in data: " and "  Error in command "; empty for a message of fewer than ten
// characters.
std::string ErrorBoxText(const std::string& message);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_STOP_RUN_H_
