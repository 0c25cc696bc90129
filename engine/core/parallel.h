#ifndef TAV_ENGINE_CORE_PARALLEL_H_
#define TAV_ENGINE_CORE_PARALLEL_H_

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tav {

// The number of threads for a run's parallel work: `requested` when it is positive, else the
// hardware concurrency (1 when that is unknown).
inline int ThreadCount(int requested) {
  if (requested > 0) return requested;
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : static_cast<int>(hardware);
}

// Runs task(k, worker) for every k in 0 .. count - 1 on at most `threads` threads (the calling
// thread included), worker (0 .. threads - 1) naming the thread so that it can keep buffers of
// its own. Tasks are handed out in order as threads come free; a task must write only to
// places of its own (its slot k, its worker's buffers), so that what the tasks produce does not
// depend on the number of threads or on which thread ran which task. The first exception a task
// throws is thrown again here once every thread has stopped; no task starts after it.
template <typename Task>
void ParallelFor(int count, int threads, Task task) {
  const int workers = std::max(1, std::min(threads, count));
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex error_mutex;
  auto work = [&](int worker) {
    for (;;) {
      if (failed.load()) return;
      const int k = next.fetch_add(1);
      if (k >= count) return;
      try {
        task(k, worker);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(error_mutex);
        if (!error) error = std::current_exception();
        failed = true;
        return;
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(workers - 1);
  for (int w = 1; w < workers; ++w) pool.emplace_back(work, w);
  work(0);
  for (std::thread& thread : pool) thread.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace tav

#endif  // TAV_ENGINE_CORE_PARALLEL_H_
