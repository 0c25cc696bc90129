// Stands in for the engine in the front end's tests. Run as
//   tav95 input report directory log [-log]
// it writes its arguments, its working directory and the results path of TAV_RESULTS_JSON to
// "args.txt" in its home (the directory
// FAKE_ENGINE_HOME names, else its own), opens and locks the log file as the engine does,
// copies the input file to the report, and holds the log open until a file "release" appears
// in its home (or half a minute has passed).
//
// An input line that begins with "error" stops it at once as an input error there does: the
// log ends with an error message and "  at line N of INPUT"; a line "data error" names the
// data file "data.dat" instead. A line "iterations N" writes an iteration log of N lines before
// the report. A stop signal (SIGTERM) while it waits ends it as the engine's Cancel does: the
// log ends with "The run was cancelled." and the exit status is 2.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tav95/log_lock.h"

namespace {

volatile std::sig_atomic_t cancelled = 0;

void OnStopSignal(int) { cancelled = 1; }

}  // namespace

int main(int argc, char** argv) {
  const char* home_variable = std::getenv("FAKE_ENGINE_HOME");
  const std::filesystem::path home = home_variable != nullptr
                                         ? std::filesystem::path(home_variable)
                                         : std::filesystem::path(argv[0]).parent_path();
  {
    std::ofstream args(home / "args.txt");
    args << argc - 1 << '\n';
    for (int i = 1; i < argc; ++i) args << argv[i] << '\n';
    args << "cwd " << std::filesystem::current_path().string() << '\n';
    const char* results = std::getenv("TAV_RESULTS_JSON");
    args << "results " << (results != nullptr ? results : "(none)") << '\n';
  }
  std::signal(SIGTERM, OnStopSignal);
  if (argc < 5) return 0;
  std::FILE* log = std::fopen(argv[4], "w");
  if (log == nullptr) return 1;
  tav::LockLogFile(log);
  std::fputs("fake engine\n", log);
  std::fflush(log);

  std::ifstream input(argv[1]);
  std::stringstream text;
  text << input.rdbuf();
  std::istringstream lines(text.str());
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    if (line.rfind("error", 0) == 0 || line.rfind("data error", 0) == 0) {
      const bool in_data = line[0] == 'd';
      std::fprintf(log, "Error: wrong word in command mod\n  at line %d of %s\n",
                   in_data ? 3 : number, in_data ? "data.dat" : argv[1]);
      std::fclose(log);
      return 1;
    }
    if (line.rfind("iterations ", 0) == 0) {
      const long count = std::stol(line.substr(11));
      std::fputs("iteration   log-likelihood      stop-criterion\n", log);
      for (long i = 1; i <= count; ++i) {
        std::fprintf(log, "%6ld %19.8f %19.8f\n", i, -1000.0 - 1.0 / i, 1.0 / (i * (i + 1.0)));
      }
      std::fflush(log);
    }
  }
  std::ofstream(argv[2]) << text.str();
  std::fputs("report written\n", log);
  std::fflush(log);

  const auto release = home / "release";
  for (int i = 0; i < 3000 && !std::filesystem::exists(release) && !cancelled; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (cancelled) {
    // The report is the engine's last step: a cancelled run leaves none.
    std::filesystem::remove(argv[2]);
    std::fputs("The run was cancelled.\n", log);
    std::fclose(log);
    return 2;
  }
  std::fclose(log);
  return 0;
}
