// Stands in for the engine in the front end's tests. Run as
//   tav95 input report directory log [-log]
// it writes its arguments to "args.txt" beside itself, opens and locks the log file as the
// engine does, copies the input file to the report, and holds the log open until a file
// "release" appears beside itself (or half a minute has passed).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tav95/log_lock.h"

int main(int argc, char** argv) {
  const std::filesystem::path home = std::filesystem::path(argv[0]).parent_path();
  {
    std::ofstream args(home / "args.txt");
    args << argc - 1 << '\n';
    for (int i = 1; i < argc; ++i) args << argv[i] << '\n';
  }
  if (argc < 5) return 0;
  std::FILE* log = std::fopen(argv[4], "w");
  if (log == nullptr) return 1;
  tav::LockLogFile(log);
  std::fputs("fake engine\n", log);
  std::fflush(log);

  std::ifstream input(argv[1]);
  std::stringstream text;
  text << input.rdbuf();
  std::ofstream(argv[2]) << text.str();
  std::fputs("report written\n", log);
  std::fflush(log);

  const auto release = home / "release";
  for (int i = 0; i < 3000 && !std::filesystem::exists(release); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::fclose(log);
  return 0;
}
