#include "tav95/log_lock.h"

#include <chrono>
#include <thread>

#include "core/windows_api.h"
#if defined(_WIN32)
#include <io.h>
#else
#include <sys/file.h>

#include <cerrno>
#endif

namespace tav {
namespace {

// One try at the lock: kTaken, kHeld (another process has it) or kNone (the file system has no
// locks, which serves no front end's test either).
enum class Attempt { kTaken, kHeld, kNone };

#if defined(_WIN32)
// Windows locks byte ranges, and a locked range cannot be read by other processes: the front
// end shows the log while the run writes it. So the lock covers one byte far past the end of
// any log, which no one reads.
constexpr DWORD kLockOffsetHigh = 0x40000000;

Attempt TryLock(std::FILE* file) {
  const intptr_t os_handle = _get_osfhandle(_fileno(file));
  if (os_handle == -1) return Attempt::kNone;
  OVERLAPPED where{};
  where.Offset = 0;
  where.OffsetHigh = kLockOffsetHigh;
  if (LockFileEx(reinterpret_cast<HANDLE>(os_handle),
                 LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
    return Attempt::kTaken;
  }
  const DWORD error = GetLastError();
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? Attempt::kHeld
                                                                    : Attempt::kNone;
}
#else
Attempt TryLock(std::FILE* file) {
  const int descriptor = fileno(file);
  if (descriptor < 0) return Attempt::kNone;
  if (flock(descriptor, LOCK_EX | LOCK_NB) == 0) return Attempt::kTaken;
  return errno == EWOULDBLOCK || errno == EINTR ? Attempt::kHeld : Attempt::kNone;
}
#endif

}  // namespace

bool LockLogFile(std::FILE* file) {
  if (file == nullptr) return true;
  // The front end takes the lock for a moment when it tests for a running engine; wait a
  // little for such a test to finish. A lock held longer is another run's.
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (TryLock(file) != Attempt::kHeld) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace tav
