#include "core/text_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwctype>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tav {
namespace {

// A name beside path that no other file has yet, created empty; empty when none could be made.
std::string CreateTemporaryBeside(const std::string& path, std::FILE** file) {
  static std::atomic<unsigned> counter{0};
  const auto stamp =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = path + ".tav-" + std::to_string(stamp % 1000000007ULL) + "-" +
                             std::to_string(counter.fetch_add(1));
    std::error_code error;
#if defined(_WIN32)
    // The Windows runtime knows no "x": the name is tested first.
    if (!std::filesystem::exists(name, error)) *file = std::fopen(name.c_str(), "wb");
#else
    // "x": fail rather than take over a file that exists.
    *file = std::fopen(name.c_str(), "wbx");
#endif
    if (*file != nullptr) return name;
    if (!std::filesystem::exists(name, error)) break;  // no room or no right: give up
  }
  return "";
}

// The file a name leads to: links followed, so that a replaced file stays where the link points.
std::string ResolvedDestination(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const auto target = std::filesystem::canonical(path, error);
  return error ? path : target.string();
}

// The absolute name of a file with its existing part's links followed and "." and ".." taken
// out, so that every spelling of one name gives the same path. A link whose target does not
// exist yet leads to that target, where writing through the link would put the file.
std::filesystem::path FullName(const std::filesystem::path& name, std::error_code& error) {
  namespace fs = std::filesystem;
  fs::path path = fs::absolute(name, error);
  if (error) return {};
  for (int hop = 0; hop < 40; ++hop) {  // as many hops as the system follows
    std::error_code link_error;
    if (!fs::is_symlink(path, link_error) || fs::exists(path, link_error)) break;
    const fs::path target = fs::read_symlink(path, link_error);
    if (link_error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  path = fs::weakly_canonical(path, error);
  return error ? fs::path() : path.lexically_normal();
}

bool IsOtherThanRegularFile(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

}  // namespace

void PendingReplacements::Add(const std::string& temporary, const std::string& target,
                              const std::string& name) {
  for (Entry& entry : entries_) {
    if (!SameFile(entry.target, target)) continue;
    std::error_code error;
    if (entry.temporary != temporary) std::filesystem::remove(entry.temporary, error);
    entry.temporary = temporary;
    entry.name = name;
    return;
  }
  entries_.push_back({temporary, target, name});
}

std::string PendingReplacements::TemporaryFor(const std::string& target) const {
  for (const Entry& entry : entries_) {
    if (SameFile(entry.target, target)) return entry.temporary;
  }
  return "";
}

bool PendingReplacements::Commit(std::string& failed_name) {
  std::size_t done = 0;
  bool ok = true;
  for (; done < entries_.size(); ++done) {
    std::error_code error;
    std::filesystem::rename(entries_[done].temporary, entries_[done].target, error);
    if (error) {
      ok = false;
      failed_name = entries_[done].name;
      break;
    }
  }
  entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(done));
  Discard();
  return ok;
}

void PendingReplacements::Discard() {
  for (const Entry& entry : entries_) {
    std::error_code error;
    std::filesystem::remove(entry.temporary, error);
  }
  entries_.clear();
}

bool TextFile::Open(const std::string& path, const char* mode, Destination destination,
                    WriteFaults* faults, PendingReplacements* pending) {
  Discard();
  pending_ = destination == Destination::kReplaceWhenComplete ? pending : nullptr;
  tap_ = nullptr;
  last_ = kEnd;
  next_ = end_ = 0;
  block_offset_ = 0;
  word_start_ = -1;
  reading_ = false;
  failed_ = false;
  faults_ = faults;
  path_ = path;
  const std::string mode_text(mode);
  const bool writing = mode_text == "w" || mode_text == "a";
  if (writing && destination == Destination::kReplaceWhenComplete &&
      !IsOtherThanRegularFile(path)) {
    target_ = ResolvedDestination(path);
    temporary_ = CreateTemporaryBeside(target_, &file_);
    if (temporary_.empty()) return false;
    // The file that takes the destination's place keeps its permissions.
    std::error_code error;
    const auto kept = std::filesystem::status(target_, error).permissions();
    if (!error) std::filesystem::permissions(temporary_, kept, error);
    if (mode_text == "a") {
      // Appending: the temporary file starts with what the destination holds, or will hold
      // once the run's earlier file takes its place.
      const std::string waiting = pending_ != nullptr ? pending_->TemporaryFor(target_) : "";
      const std::string& from = waiting.empty() ? path : waiting;
      if (std::FILE* old = std::fopen(from.c_str(), "rb")) {
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, old)) > 0;)
          Write({buffer, n});
        if (std::ferror(old)) failed_ = true;
        std::fclose(old);
      }
    }
    return true;
  }
  // Binary mode: line ends are handled by the reader, and reports are written with "\n".
  const std::string binary_mode = mode_text + "b";
  file_ = std::fopen(path.c_str(), binary_mode.c_str());
  if (file_ == nullptr) return false;
  if (mode_text == "r") {
    reading_ = true;
    // A UTF-8 byte-order mark is skipped.
    if (Fill() && end_ >= 3 && block_[0] == '\xEF' && block_[1] == '\xBB' && block_[2] == '\xBF') {
      next_ = 3;
    }
  }
  return true;
}

bool TextFile::Fill() {
  if (file_ == nullptr || !reading_) return false;
  if (poll_) poll_();
  if (!block_ || block_capacity_ < block_size_) {
    block_ = std::make_unique<char[]>(block_size_);
    block_capacity_ = block_size_;
  }
  block_offset_ += static_cast<std::int64_t>(end_);
  next_ = 0;
  end_ = std::fread(block_.get(), 1, block_size_, file_);
  if (tap_ && end_ > 0) tap_(std::string_view(block_.get(), end_));
  return end_ > 0;
}

void TextFile::TapReads(std::function<void(std::string_view)> tap) {
  tap_ = std::move(tap);
  if (tap_ && next_ < end_) tap_(std::string_view(block_.get() + next_, end_ - next_));
}

std::int64_t TextFile::WordLine() const {
  if (word_start_ < 0 || path_.empty()) return 0;
  std::FILE* again = std::fopen(path_.c_str(), "rb");
  if (again == nullptr) return 0;
  std::int64_t line = 1;
  std::int64_t offset = 0;
  int before = kEnd;
  char buffer[1 << 14];
  for (std::size_t n;
       offset < word_start_ && (n = std::fread(buffer, 1, sizeof buffer, again)) > 0;) {
    for (std::size_t i = 0; i < n && offset < word_start_; ++i, ++offset) {
      const char c = buffer[i];
      if (c == '\r' || (c == '\n' && before != '\r')) ++line;
      before = c;
    }
  }
  const bool complete = offset == word_start_;
  std::fclose(again);
  return complete ? line : 0;
}

bool TextFile::Close() {
  StopReading();
  if (file_ == nullptr) return !failed_;
  bool ok = !failed_;
  if (std::fflush(file_) != 0) ok = false;
  if (std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  if (!temporary_.empty()) {
    std::error_code error;
    if (ok && pending_ != nullptr) {
      pending_->Add(temporary_, target_, path_);
    } else {
      if (ok) {
        std::filesystem::rename(temporary_, target_, error);
        ok = !error;
      }
      if (!ok) std::filesystem::remove(temporary_, error);
    }
    temporary_.clear();
  }
  failed_ = !ok;
  return ok;
}

void TextFile::StopReading() {
  reading_ = false;
  next_ = end_ = 0;
}

void TextFile::Discard() {
  StopReading();
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temporary_.empty()) {
    std::error_code error;
    std::filesystem::remove(temporary_, error);
    temporary_.clear();
  }
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
  Write("\n");
  if (poll_ && ++lines_ % kPollLines == 0) poll_();
}

void TextFile::Write(std::string_view text) {
  if (file_ == nullptr || text.empty()) return;
  if (faults_ != nullptr && faults_->Next()) {
    failed_ = true;
    return;
  }
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) failed_ = true;
}

bool TextFile::Truncate() {
  if (file_ == nullptr) return false;
  if (std::fflush(file_) != 0) return false;
#if defined(_WIN32)
  const bool ok = _chsize_s(_fileno(file_), 0) == 0;
#else
  const bool ok = ftruncate(fileno(file_), 0) == 0;
#endif
  std::rewind(file_);
  return ok;
}

void TextFile::Flush() {
  if (file_ != nullptr && std::fflush(file_) != 0) failed_ = true;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error)) {
    const bool same = std::filesystem::equivalent(a, b, error);
    return !error && same;
  }
  std::error_code error_a;
  std::error_code error_b;
  const auto full_a = FullName(a, error_a);
  const auto full_b = FullName(b, error_b);
  if (error_a || error_b) return false;
#if defined(_WIN32)
  // The file system ignores case: so does the comparison.
  const std::wstring& name_a = full_a.native();
  const std::wstring& name_b = full_b.native();
  return name_a.size() == name_b.size() &&
         std::equal(name_a.begin(), name_a.end(), name_b.begin(), [](wchar_t x, wchar_t y) {
           return std::towupper(static_cast<std::wint_t>(x)) ==
                  std::towupper(static_cast<std::wint_t>(y));
         });
#else
  return full_a == full_b;
#endif
}

}  // namespace tav
