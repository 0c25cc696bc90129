#include "core/run_context.h"

#include <chrono>
#include <ctime>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/stop_run.h"

namespace tav {

ClockReading LocalClock() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return ClockReading{local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms)};
}

void RunContext::CloseAllFiles() {
  InputFile.Discard();
  ReportFile.Discard();
  LogFile.Discard();
  ResultFile.Discard();
  DataFile.Discard();
  DataFile2.Discard();
}

void RunContext::CheckMemory(double bytes, const char* message) const {
  if (!(bytes >= 0) || bytes > static_cast<double>(memory_budget)) StopRun(message);
}

std::int64_t DefaultMemoryBudget() {
  constexpr std::int64_t kUnknown = std::int64_t{4} << 30;
#ifdef _SC_PHYS_PAGES
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && page_size > 0) {
    return static_cast<std::int64_t>(pages) / 4 * 3 * static_cast<std::int64_t>(page_size);
  }
#endif
  return kUnknown;
}

std::vector<double> AllocRealArray(const RunContext& run, std::int64_t count) {
  run.CheckMemory(static_cast<double>(count) * sizeof(double));
  return std::vector<double>(static_cast<std::size_t>(count));
}

std::vector<std::int32_t> AllocIntArray(const RunContext& run, std::int64_t count) {
  if (count < 0 || count > kMaxIntArrayCount) StopRun("  Error: array too big to fit in memory");
  run.CheckMemory(static_cast<double>(count) * sizeof(std::int32_t));
  return std::vector<std::int32_t>(static_cast<std::size_t>(count));
}

}  // namespace tav
