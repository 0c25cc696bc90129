#include "tav95/log_lock.h"

#if !defined(_WIN32)
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <thread>
#endif

namespace tav {

void LockLogFile(std::FILE* file) {
#if defined(_WIN32)
  (void)file;
#else
  if (file == nullptr) return;
  const int descriptor = fileno(file);
  if (descriptor < 0) return;
  // The front end takes the lock for a moment when it tests for a running engine; wait a
  // little for such a test to finish instead of blocking the run for good.
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (flock(descriptor, LOCK_EX | LOCK_NB) == 0) return;
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
#endif
}

}  // namespace tav
