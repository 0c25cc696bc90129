#ifndef TAV_ENGINE_CORE_LOG_H_
#define TAV_ENGINE_CORE_LOG_H_

#include <string>

#include "core/run_context.h"
#include "core/text_file.h"

namespace tav {

// The release, from the build (the project's version in CMakeLists.txt).
inline constexpr const char* kVersionText = TAV_VERSION;

// Opens file under run.FilePrefix + name; mode is "r", "w" or "a". An empty name or a failed open
// stops the run with "  Error: cannot open file " and the full name. A file written with
// kReplaceWhenComplete that CloseTextFile finds complete waits in run.replacements, and takes
// its destination's place only when the whole run has gone through.
void OpenTextFile(RunContext& run, TextFile& file, const std::string& name, const char* mode,
                  TextFile::Destination destination = TextFile::Destination::kDirect);

// Opens the run's scratch file name (in its private scratch directory) with mode "r" or "w"; a
// failure stops the run with "  Error: cannot open a scratch file".
void OpenScratchFile(RunContext& run, TextFile& file, const std::string& name, const char* mode);

// Closes a file that was written; a write, flush or close that failed stops the run with
// "  Error: cannot write file " and the file's name.
void CloseTextFile(TextFile& file);

// Writes one line to the log channel. The first two characters of line are a margin and are
// dropped; at most 80 characters follow. A run with background_progress drops the line and only
// reports its progress there (a true answer stops it as a cancel does). Pending window events are
// served first, and a cancel request ends the run there. In log-file mode a line that begins with
// four blanks advances the progress bar by 5 (wrapping to 0 past 100).
void WriteLogLine(RunContext& run, const std::string& line);

// WriteLogLine for the line of an iteration, which advances the progress bar in log-file mode
// whatever its first characters: from iteration 10000 on the number fills the four blanks.
void WriteIterationLogLine(RunContext& run, const std::string& line);

// The cancel check of long computations, which acts between two log lines as WriteLogLine does:
// at most every 100 ms (a steady clock decides) the window's pending events are served, or a
// run with background_progress reports there, and a cancel request (the window's "Cancel", a
// stop signal) ends the run with StopRun(StopReason::kCancel). A call costs a clock reading;
// loops whose steps take well under a microsecond call it every few thousand steps.
//
// Only the run's own thread serves the window: a task of ParallelFor passes its worker number,
// and on the other threads (worker > 0) the check only looks whether the run's thread has seen
// a cancel, ending the task the same way. Nothing a cancelled computation leaves half done is
// used again, so the checks never change the numbers of a run that goes through.
void CheckCancel(const RunContext& run, int worker = 0);

// Empties the log file and writes the lines held back since it was opened; from then on log
// lines reach it as they are written. A failed write stops the run.
void StartLogFile(RunContext& run);

// The banner: two lines that name the product and its makers, the version line and an empty
// line; on the log channel with the two-blank margin, in a file without it.
void WriteBanner(RunContext& run);
void WriteBanner(TextFile& file);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_LOG_H_
