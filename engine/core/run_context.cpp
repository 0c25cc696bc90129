#include "core/run_context.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>

#include "core/model_state.h"
#include "core/windows_api.h"
#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "core/log.h"
#include "core/stop_run.h"

namespace tav {
namespace {

// Arrays from kLargePageBytes on are asked to be backed by large pages (before they are first
// touched: the pages are given then). Elsewhere, or where the system says no, nothing changes.
constexpr std::size_t kLargePageBytes = std::size_t{32} << 20;

void AdviseLargePages(void* data, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (bytes < kLargePageBytes) return;
  constexpr std::uintptr_t kPage = 4096;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  static_cast<void>(data);
  static_cast<void>(bytes);
#endif
}

}  // namespace

ClockReading LocalClock() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return ClockReading{local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms)};
}

void RunContext::CloseAllFiles() {
  ReportFile.Discard();
  LogFile.Discard();
  ResultFile.Discard();
  DataFile.Discard();
  DataFile2.Discard();
  replacements.Discard();
}

double RunContext::MemoryAvailable() const {
  double taken = memory_reserved;
  for (double bytes : memory_kept) taken += bytes;
  return std::max(static_cast<double>(memory_budget) - taken, 0.0);
}

void RunContext::CheckMemory(double bytes, const char* message) const {
  if (!(bytes >= 0) || bytes > MemoryAvailable()) StopRun(message);
}

void RunContext::KeepMemory(MemoryUse use, double bytes) {
  double& kept = memory_kept[static_cast<int>(use)];
  kept = 0;
  CheckMemory(bytes);
  kept = bytes;
}

MemoryReservation::MemoryReservation(const RunContext& run, double bytes)
    : run_(run), bytes_(bytes) {
  run.CheckMemory(bytes);
  run.memory_reserved += bytes_;
}

MemoryReservation::~MemoryReservation() { run_.memory_reserved -= bytes_; }

std::int64_t DefaultMemoryBudget() {
  constexpr std::int64_t kUnknown = std::int64_t{4} << 30;
#if defined(_WIN32)
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) && status.ullTotalPhys > 0) {
    return static_cast<std::int64_t>(status.ullTotalPhys / 4 * 3);
  }
#elif defined(_SC_PHYS_PAGES)
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && page_size > 0) {
    return static_cast<std::int64_t>(pages) / 4 * 3 * static_cast<std::int64_t>(page_size);
  }
#endif
  return kUnknown;
}

std::vector<double> AllocRealArray(const RunContext& run, std::int64_t count, double value) {
  run.CheckMemory(static_cast<double>(count) * sizeof(double));
  std::vector<double> array;
  array.reserve(static_cast<std::size_t>(count));
  AdviseLargePages(array.data(), static_cast<std::size_t>(count) * sizeof(double));
  // The first touch of a large array takes long: it is filled a stretch at a time, with the
  // cancel check between.
  constexpr std::size_t kStretch = std::size_t{1} << 22;
  for (std::size_t done = 0; done < static_cast<std::size_t>(count); done += kStretch) {
    CheckCancel(run);
    array.insert(array.end(), std::min(kStretch, static_cast<std::size_t>(count) - done), value);
  }
  return array;
}

std::vector<std::int32_t> AllocIntArray(const RunContext& run, std::int64_t count) {
  if (count < 0 || count > kMaxIntArrayCount) StopRun("  Error: array too big to fit in memory");
  run.CheckMemory(static_cast<double>(count) * sizeof(std::int32_t));
  return std::vector<std::int32_t>(static_cast<std::size_t>(count));
}

}  // namespace tav
