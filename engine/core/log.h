#ifndef TAV_ENGINE_CORE_LOG_H_
#define TAV_ENGINE_CORE_LOG_H_

#include <string>

#include "core/run_context.h"
#include "core/text_file.h"

namespace tav {

// The release, from the build (the project's version in CMakeLists.txt).
inline constexpr const char* kVersionText = TAV_VERSION;

// Opens file under run.FilePrefix + name; mode is "r", "w" or "a". An empty name or a failed open
// stops the run with "  Error: cannot open file " and the full name. Files written with
// kReplaceWhenComplete replace their destination only when CloseTextFile finds them complete.
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

// Empties the log file and writes the lines held back since it was opened; from then on log
// lines reach it as they are written. A failed write stops the run.
void StartLogFile(RunContext& run);

// The banner: two lines that name the product and its makers, the version line and an empty
// line; on the log channel with the two-blank margin, in a file without it.
void WriteBanner(RunContext& run);
void WriteBanner(TextFile& file);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_LOG_H_
