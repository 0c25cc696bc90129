#ifndef TAV_ENGINE_CORE_STOP_RUN_H_
#define TAV_ENGINE_CORE_STOP_RUN_H_

#include <exception>
#include <string>
#include <utility>

namespace tav {

// Why a run ended.
enum class StopReason {
  kNormalEnd,  // the run went through
  kCancel,     // the user asked to stop it
  kError,      // an error; the message says which
};

// The one way a run ends. StopRun throws it; only the run driver catches it, closes the files,
// shows the message and ends the process. An error message is kept exactly as given (cut to
// 255 characters): it begins with two blanks and "Error: ". A normal end and a cancel have no
// message. An error found while the input was read also carries where the reader stood
// (position).
class StopRunError : public std::exception {
 public:
  explicit StopRunError(StopReason reason, std::string message = "");
  StopReason reason() const { return reason_; }
  const std::string& message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  // The log line "  at line N of NAME" that says where the reader stood, or "".
  const std::string& position() const { return position_; }
  void set_position(std::string position) { position_ = std::move(position); }

 private:
  StopReason reason_;
  std::string message_;
  std::string position_;
};

inline constexpr std::size_t kMaxMessageLength = 255;

// Ends the run with an error.
[[noreturn]] void StopRun(const std::string& message);
// Ends the run normally or as the user asked (reason kNormalEnd or kCancel).
[[noreturn]] void StopRun(StopReason reason);

// The text an error box shows for message: from its tenth character on, that character in
// upper case ("  Error: cannot open file x" gives "Cannot open file x"), or from the "in" of
// "  Error in data: " and "  Error in command "; empty for a message of fewer than ten
// characters.
std::string ErrorBoxText(const std::string& message);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_STOP_RUN_H_
