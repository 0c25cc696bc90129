#include "tav95/usage.h"

#include "core/log.h"

namespace tav {

std::string HelpText() {
  return "Usage: tav95 input report [directory [log]] [-log]\n"
         "       tav95 --help\n"
         "       tav95 --version\n"
         "\n"
         "Reads the input file, estimates its model and writes the report.\n"
         "\n"
         "  input      the input file\n"
         "  report     the report file to write\n"
         "  directory  put verbatim in front of the name of every file that the input\n"
         "             file names (data, designs, result files); normally ends in a\n"
         "             path separator, which is not added\n"
         "  log        the log file\n"
         "  -log       as the last argument: the log goes to the log file alone and a\n"
         "             small progress dialog shows instead of the log window\n"
         "\n"
         "Arguments                   Log channel           Log file  Prefix\n"
         "none or one                 the run stops: \"No input and output file specified\"\n"
         "input report                window                none      none\n"
         "input report -log           log file              tav.log   none\n"
         "input report dir            window                none      dir\n"
         "input report dir log        window and log file   log       dir\n"
         "input report dir log -log   log file              log       dir\n"
         "six or more, the last -log  log file              tav.log   the third argument\n"
         "\n"
         "tav.log is written in the current directory. Without a display the log lines\n"
         "go to standard output and errors to standard error.\n"
         "\n"
         "When the environment variable TAV_RESULTS_JSON names a path, the JSON results\n"
         "document (see wjs) is also written there.\n"
         "\n"
         "Exit status: 0 after a normal end, 1 after an error (a write that fails\n"
         "included), 2 when the run was cancelled.\n";
}

std::string VersionText() { return std::string("tav95 (TAV) ") + kVersionText + "\n"; }

std::optional<std::string> InformationRequest(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1) return std::nullopt;
  if (arguments[0] == "--help") return HelpText();
  if (arguments[0] == "--version") return VersionText();
  return std::nullopt;
}

}  // namespace tav
