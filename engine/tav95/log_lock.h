#ifndef TAV_ENGINE_TAV95_LOG_LOCK_H_
#define TAV_ENGINE_TAV95_LOG_LOCK_H_

#include <cstdio>

namespace tav {

// Marks the open log file as in use for as long as it stays open, so that the front end can
// tell that an engine is running: it treats a log file it cannot lock as a running engine.
//
// On POSIX systems an open file is not exclusive by itself, so the file gets an exclusive
// advisory lock (flock) that the system releases when the file is closed or the process ends.
// On Windows the open file already keeps the front end's exclusive open from succeeding; a
// second engine, which opens the log shared, is kept out by an exclusive byte-range lock
// (LockFileEx) on one byte past the end of any log, so that the log itself stays readable.
// Returns false when another process holds the lock for longer than a front end's test takes:
// another run writes that log.
bool LockLogFile(std::FILE* file);

}  // namespace tav

#endif  // TAV_ENGINE_TAV95_LOG_LOCK_H_
