#ifndef TAV_ENGINE_CORE_TEXT_FILE_H_
#define TAV_ENGINE_CORE_TEXT_FILE_H_

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace tav {

// An open text file, read a byte at a time or written a line at a time. Closes itself.
// Bytes are handed out as values 0 to 255, so that non-ASCII bytes never look like
// separators, and kEnd marks the end of the file.
class TextFile {
 public:
  static constexpr int kEnd = -1;

  TextFile() = default;
  ~TextFile() { Close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // mode is "r", "w" or "a"; returns false when the file cannot be opened.
  bool Open(const std::string& path, const char* mode);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  std::FILE* handle() const { return file_; }

  // Reading.
  int Get();
  int Peek();
  bool AtEnd() { return Peek() == kEnd; }
  // The last byte that Get returned (kEnd before the first and at the end of the file).
  int LastRead() const { return last_; }
  // Skips the rest of the current line, its line end included (LF, CR LF or a lone CR).
  void SkipLine();

  // Writing.
  void WriteLine(std::string_view text);
  void Write(std::string_view text);
  void Flush();

 private:
  std::FILE* file_ = nullptr;
  int last_ = kEnd;
};

// True when the two names lead to the same file: the same existing file, or, when one does not
// exist yet, the same absolute path.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_TEXT_FILE_H_
