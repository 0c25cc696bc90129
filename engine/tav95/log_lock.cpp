#include "tav95/log_lock.h"

#if !defined(_WIN32)
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <thread>
#endif

namespace tav {

bool LockLogFile(std::FILE* file) {
#if defined(_WIN32)
  (void)file;
  return true;
#else
  if (file == nullptr) return true;
  const int descriptor = fileno(file);
  if (descriptor < 0) return true;
  // The front end takes the lock for a moment when it tests for a running engine; wait a
  // little for such a test to finish. A lock held longer is another run's.
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (flock(descriptor, LOCK_EX | LOCK_NB) == 0) return true;
    // A file system without locks serves no front end's test either.
    if (errno != EWOULDBLOCK && errno != EINTR) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
#endif
}

}  // namespace tav
