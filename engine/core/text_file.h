#ifndef TAV_ENGINE_CORE_TEXT_FILE_H_
#define TAV_ENGINE_CORE_TEXT_FILE_H_

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tav {

// Injected write failures, for tests of what a full disk does: the write numbered fail_at
// (counting from 1 over every file that shares the counter) and every later one fail. The
// program sets fail_at from the environment variable TAV_FAIL_WRITE_AT; 0 injects nothing.
struct WriteFaults {
  long fail_at = 0;
  long writes = 0;
  // Counts one write; true when it is to fail.
  bool Next() { return fail_at > 0 && ++writes >= fail_at; }
};

// The files a run has written completely, waiting to take their destinations' places until the
// whole run has gone through, so that a run that fails or is cancelled replaces none of them.
// A TextFile opened with kReplaceWhenComplete and a list hands its complete temporary file to
// the list at Close instead of renaming it. Commit then renames every temporary into place in
// the order they were handed in; Discard (and the destructor) removes them and leaves every
// destination as it was. A destination handed in again (a file written twice in one run, as
// `wma` appends to a file another `wma` wrote) keeps its latest temporary.
//
// Each rename is atomic, the group is not: Commit is meant to come last, after every file of the
// run has been written, flushed and closed, so that only a rename that fails (a directory made
// read-only under the run) can leave some destinations replaced and others not. Commit stops
// at the first failure, removes the temporaries not yet renamed and names the file that failed.
class PendingReplacements {
 public:
  PendingReplacements() = default;
  ~PendingReplacements() { Discard(); }
  PendingReplacements(const PendingReplacements&) = delete;
  PendingReplacements& operator=(const PendingReplacements&) = delete;

  // temporary replaces target (its destination, links followed) at Commit; name is the
  // destination as the run named it, for the message of a failed rename.
  void Add(const std::string& temporary, const std::string& target, const std::string& name);
  // The temporary file waiting to replace target (the same file however spelled); empty when
  // there is none.
  std::string TemporaryFor(const std::string& target) const;
  // Renames every temporary into place; false when a rename failed, with the name of its file
  // in failed_name (the temporaries after it are removed).
  bool Commit(std::string& failed_name);
  // Removes every temporary; no destination changes.
  void Discard();
  bool empty() const { return entries_.empty(); }

 private:
  struct Entry {
    std::string temporary;
    std::string target;
    std::string name;
  };
  std::vector<Entry> entries_;
};

// An open text file, read a byte at a time or written a line at a time. Closes itself.
// Bytes are handed out as values 0 to 255, so that non-ASCII bytes never look like
// separators, and kEnd marks the end of the file.
//
// Writing is checked: a write, flush or close that fails marks the file failed, and Close
// reports it. A file opened with kReplaceWhenComplete is written to a temporary file beside
// its destination and renamed into place only by a Close that succeeds, so that an
// interrupted or failed run leaves the earlier file as it was; with a PendingReplacements list
// that Close hands the temporary to the list instead, which puts it in place once the whole
// run has succeeded. A destination that exists and is not a regular file (a device, a FIFO) is
// written directly.
class TextFile {
 public:
  static constexpr int kEnd = -1;

  enum class Destination { kDirect, kReplaceWhenComplete };

  TextFile() = default;
  ~TextFile() { Discard(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // mode is "r", "w" or "a"; returns false when the file cannot be opened. With "a" and
  // kReplaceWhenComplete the temporary file starts as a copy of the destination (of the
  // temporary waiting in pending for it, when there is one). A file read starts after its
  // UTF-8 byte-order mark, when it has one.
  bool Open(const std::string& path, const char* mode,
            Destination destination = Destination::kDirect, WriteFaults* faults = nullptr,
            PendingReplacements* pending = nullptr);
  // Closes the file; true unless a write, the flush, the close or the final rename failed.
  // A temporary file that is not renamed into place (or handed to the pending list) is
  // removed.
  bool Close();
  // Closes the file without putting a temporary file in place (it is removed).
  void Discard();
  bool IsOpen() const { return file_ != nullptr; }
  std::FILE* handle() const { return file_; }
  // The name the file was opened under (its destination).
  const std::string& path() const { return path_; }
  // A write or flush has failed since the file was opened.
  bool failed() const { return failed_; }
  // Called every kPollLines lines written and every block read (a run's cancel check, which
  // may throw); empty for none. It stays with the object from one Open to the next.
  void SetPoll(std::function<void()> poll) { poll_ = std::move(poll); }
  static constexpr unsigned kPollLines = 1024;

  // Reading, from a block of the file held here. Lines are not counted while reading: the
  // reader marks where each word begins, and only WordLine counts the lines up to there.
  int Get() {
    if (next_ == end_ && !Fill()) return last_ = kEnd;
    return last_ = static_cast<unsigned char>(block_[next_++]);
  }
  int Peek() {
    if (next_ == end_ && !Fill()) return kEnd;
    return static_cast<unsigned char>(block_[next_]);
  }
  bool AtEnd() { return Peek() == kEnd; }
  // The bytes of the block held that Get has not handed out yet, for a reader that scans them
  // in place; empty before the first Get or Peek and once the block is used up (Peek then
  // reads the next one).
  std::string_view Held() const {
    return block_ ? std::string_view(block_.get() + next_, end_ - next_) : std::string_view();
  }
  // Hands out the next n bytes held (0 < n <= Held().size()) as n calls of Get would: the last
  // of them becomes LastRead().
  void Advance(std::size_t n) {
    next_ += n;
    last_ = static_cast<unsigned char>(block_[next_ - 1]);
  }
  // The bytes read at once from the file, from the next block on (at least 1); kBlockSize
  // unless a test sets a smaller one to put block ends inside numbers and line ends.
  void SetBlockSize(std::size_t bytes) { block_size_ = bytes > 0 ? bytes : 1; }
  // Hands every byte read from now on to tap, those of the block held first (after a
  // byte-order mark), then each block as it is read; an empty tap stops that.
  void TapReads(std::function<void(std::string_view)> tap);
  // The last byte that Get returned (kEnd before the first and at the end of the file).
  int LastRead() const { return last_; }
  // Skips the rest of the current line, its line end included (LF, CR LF or a lone CR).
  void SkipLine();
  // The reader marks where each word or number begins (MarkWord, right after Get has returned
  // its first byte) and where it found the end of the file instead (MarkEnd).
  void MarkWord() { word_start_ = block_offset_ + static_cast<std::int64_t>(next_) - 1; }
  void MarkEnd() { word_start_ = -1; }
  // The line (from 1) of the last word marked: 1 plus the line ends (LF, CR LF, a lone CR)
  // before it, counted by reading the file again from its start. 0 before the first mark,
  // after MarkEnd, and when the file cannot be read again.
  std::int64_t WordLine() const;

  // Writing.
  void WriteLine(std::string_view text);
  void Write(std::string_view text);
  void Flush();
  // Empties a file opened for writing and writes on from its start; false when that fails.
  bool Truncate();

 private:
  // Reads the next block of a file opened for reading; false at its end.
  bool Fill();
  // Nothing more is handed out (the file is closed).
  void StopReading();

  static constexpr std::size_t kBlockSize = 1 << 16;
  std::size_t block_size_ = kBlockSize;
  std::size_t block_capacity_ = 0;  // the bytes block_ has room for

  std::FILE* file_ = nullptr;
  int last_ = kEnd;
  std::unique_ptr<char[]> block_;  // the bytes read, from block_offset_ in the file
  std::size_t next_ = 0;           // the next byte of block_ to hand out
  std::size_t end_ = 0;            // the bytes held in block_
  std::int64_t block_offset_ = 0;
  std::int64_t word_start_ = -1;  // where the last word marked begins in the file
  bool reading_ = false;
  std::string path_;
  std::string target_;     // the file that a temporary file replaces (path_, links followed)
  std::string temporary_;  // the file written, when it replaces target_ at Close
  bool failed_ = false;
  WriteFaults* faults_ = nullptr;
  std::function<void(std::string_view)> tap_;
  PendingReplacements* pending_ = nullptr;
  std::function<void()> poll_;
  unsigned lines_ = 0;  // lines written, for the poll
};

// True when the two names lead to the same file, however spelled: the same existing file (device
// and inode), or, when one does not exist yet, the same absolute path once links, "." and ".."
// are resolved (regardless of case on Windows).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_TEXT_FILE_H_
