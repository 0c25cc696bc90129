#ifndef TAV_ENGINE_TAV95_USAGE_H_
#define TAV_ENGINE_TAV95_USAGE_H_

#include <optional>
#include <string>
#include <vector>

namespace tav {

// What `tav95 --help` prints: how the engine is called, what its arguments mean, which log and
// prefix each form of the command line gives, and the exit status.
std::string HelpText();

// What `tav95 --version` prints: the program's name and version, "tav95 (TAV) 1.0".
std::string VersionText();

// The text to print instead of a run when the command line is "--help" or "--version" alone;
// nothing otherwise. One argument is never a run (it stops with "No input and output file
// specified"), so these options change no command line that runs.
std::optional<std::string> InformationRequest(const std::vector<std::string>& arguments);

}  // namespace tav

#endif  // TAV_ENGINE_TAV95_USAGE_H_
