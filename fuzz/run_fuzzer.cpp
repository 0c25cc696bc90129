// Feeds arbitrary bytes to whole engine runs in the run driver's own order (RunMain with a
// command line, as the program runs): parsing, estimation and the report. Every run must end
// normally or with an error message. Some runs get an injected write failure.
//
// In CI the runs are kept short: "ite 3" and "mit 3" are appended to the input, "nse" for all
// but small models; models of more than 20,000 cells get a single iteration of one cycle, and
// simulations of more than 100,000 records are left out. TAV_FUZZ_LONG=1 runs the inputs as
// given. The memory budget is the fuzzers' (an input's `mem` may lower it).

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "core/presentation.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "fuzz_input.h"
#include "newton/run_state.h"
#include "tav95/run_driver.h"

namespace {

// Shows nothing; remembers whether an error box came without a text.
class QuietPresentation : public tav::Presentation {
 public:
  void Begin(bool) override {}
  bool PumpEvents(const tav::RunProgress&) override { return false; }
  void LogLine(const std::string&) override {}
  void ProgressStep(int) override {}
  bool AskClose() override { return true; }
  void ErrorBox(const std::string& text) override { empty_error = empty_error || text.empty(); }
  void StayOpen() override {}
  bool empty_error = false;
};

// The size of the model's tables, or -1 when the input does not parse; infinity for a
// simulation of more than 100,000 records, which writes them all (and is left out).
double ModelCells(const std::string& input, const std::filesystem::path& directory) {
  tav::DataRun probe;
  tav::fuzz::LimitMemory(probe);
  probe.arguments = {input, (directory / "probe.out").string(), directory.string() + "/"};
  probe.InputFileName = input;
  probe.OutputFileName = probe.arguments[1];
  tav::ParsedRun parsed;
  try {
    parsed = tav::ParseInput(probe);
  } catch (const tav::StopRunError&) {
    return -1;
  }
  if (!parsed.settings.simulate_file.empty() && std::abs(parsed.settings.simulate_count) > 100000) {
    return std::numeric_limits<double>::infinity();
  }
  return static_cast<double>(parsed.model.submodel_cell_total);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tav::fuzz::ScratchDirectory scratch("tav_run_fuzz");
  const std::filesystem::path& directory = scratch.path();
  static const bool long_run = std::getenv("TAV_FUZZ_LONG") != nullptr;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string input =
      tav::fuzz::WriteInput(directory, reinterpret_cast<const std::uint8_t*>(text.data()), size);
  if (input.empty()) return 0;
  if (!long_run) {
    const double cells = ModelCells(input, directory);
    if (std::isinf(cells)) return 0;
    // Three iterations of at most three cycles each (an input's mit can ask for hundreds); one
    // of one for a large model.
    text += cells > 20000 ? "\nite 1\nmit 1\n" : "\nite 3\nmit 3\n";
    if (cells >= 200) text += "nse\n";
    input = tav::fuzz::WriteInput(directory, reinterpret_cast<const std::uint8_t*>(text.data()),
                                  text.size());
  }
  QuietPresentation window;
  tav::ProgramRun run;
  tav::fuzz::LimitMemory(run.context);
  run.context.presentation = &window;
  run.context.arguments = {input, (directory / "output.out").string(), directory.string() + "/",
                           (directory / "log.txt").string(), "-log"};
  // Every fifth input fails one of its writes, chosen by its first byte.
  if (size > 0 && size % 5 == 0) run.context.write_faults.fail_at = 1 + data[0] % 300;
  const int status = tav::RunMain(run);
  if (status != tav::kExitNormal && status != tav::kExitError) __builtin_trap();
  if (window.empty_error) __builtin_trap();
  return 0;
}
