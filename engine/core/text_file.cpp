#include "core/text_file.h"

namespace tav {

bool TextFile::Open(const std::string& path, const char* mode) {
  Close();
  last_ = kEnd;
  // Binary mode: line ends are handled by the reader, and reports are written with "\n".
  std::string binary_mode = std::string(mode) + "b";
  file_ = std::fopen(path.c_str(), binary_mode.c_str());
  return file_ != nullptr;
}

void TextFile::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

int TextFile::Get() {
  if (file_ == nullptr) return kEnd;
  int c = std::getc(file_);
  last_ = c == EOF ? kEnd : c;
  return last_;
}

int TextFile::Peek() {
  if (file_ == nullptr) return kEnd;
  int c = std::getc(file_);
  if (c == EOF) return kEnd;
  std::ungetc(c, file_);
  return c;
}

void TextFile::SkipLine() {
  for (;;) {
    int c = Get();
    if (c == kEnd || c == '\n') return;
    if (c == '\r') {
      if (Peek() == '\n') Get();
      return;
    }
  }
}

void TextFile::WriteLine(std::string_view text) {
  Write(text);
  if (file_ != nullptr) std::fputc('\n', file_);
}

void TextFile::Write(std::string_view text) {
  if (file_ != nullptr && !text.empty()) std::fwrite(text.data(), 1, text.size(), file_);
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error)) {
    const bool same = std::filesystem::equivalent(a, b, error);
    return !error && same;
  }
  const auto canonical_a = std::filesystem::weakly_canonical(a, error);
  if (error) return false;
  const auto canonical_b = std::filesystem::weakly_canonical(b, error);
  return !error && canonical_a == canonical_b;
}

void TextFile::Flush() {
  if (file_ != nullptr) std::fflush(file_);
}

}  // namespace tav
