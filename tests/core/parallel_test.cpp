#include "core/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tav {
namespace {

TEST(ParallelFor, RunsEveryTaskOnceOnWorkersInRange) {
  for (int threads : {1, 2, 3, 5}) {
    for (int count : {0, 1, 2, 7, 200}) {
      std::vector<std::atomic<int>> runs(count);
      std::vector<int> workers(count, -1);
      std::vector<std::thread::id> ids(count);
      ParallelFor(count, threads, [&](int k, int worker) {
        ++runs[k];
        workers[k] = worker;
        ids[k] = std::this_thread::get_id();
      });
      for (int k = 0; k < count; ++k) {
        ASSERT_EQ(runs[k].load(), 1) << "threads " << threads << ", task " << k;
        ASSERT_GE(workers[k], 0);
        ASSERT_LT(workers[k], std::min(threads, count));
        // Worker 0 is the calling thread, and no other worker is.
        ASSERT_EQ(workers[k] == 0, ids[k] == std::this_thread::get_id());
      }
    }
  }
}

TEST(ParallelFor, ThrowsTheFirstFailureAfterEveryThreadStopped) {
  // One thread: the tasks after the failing one never start.
  std::vector<int> started;
  try {
    ParallelFor(10, 1, [&](int k, int) {
      started.push_back(k);
      if (k == 3) throw std::runtime_error("task 3");
    });
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "task 3");
  }
  EXPECT_EQ(started, (std::vector<int>{0, 1, 2, 3}));

  // Three threads: every task still running when the failure is thrown again has ended, and
  // few of the 1000 tasks started at all.
  std::atomic<int> running{0};
  std::atomic<int> begun{0};
  EXPECT_THROW(ParallelFor(1000, 3,
                           [&](int k, int) {
                             ++running;
                             ++begun;
                             std::this_thread::sleep_for(std::chrono::milliseconds(1));
                             --running;
                             if (k == 2) throw std::logic_error("task 2");
                           }),
               std::logic_error);
  EXPECT_EQ(running.load(), 0);
  EXPECT_LT(begun.load(), 20);

  // The pool serves the next call as before.
  std::atomic<int> sum{0};
  ParallelFor(100, 3, [&](int k, int) { sum += k; });
  EXPECT_EQ(sum.load(), 4950);
}

// A nested call runs on its calling thread as worker 0 and gives the outer call's numbers.
TEST(ParallelFor, NestedCallsRunOnTheirCallingThread) {
  constexpr int kOuter = 6;
  constexpr int kInner = 50;
  std::vector<long> sums(kOuter, 0);
  std::atomic<int> foreign{0};
  ParallelFor(kOuter, 3, [&](int i, int) {
    const std::thread::id outer = std::this_thread::get_id();
    std::vector<long> parts(kInner);
    ParallelFor(kInner, 3, [&](int k, int worker) {
      if (worker != 0 || std::this_thread::get_id() != outer) ++foreign;
      parts[k] = static_cast<long>(i + 1) * k;
    });
    for (long part : parts) sums[i] += part;
  });
  EXPECT_EQ(foreign.load(), 0);
  // (i + 1) (0 + 1 + ... + 49) = 1225 (i + 1).
  for (int i = 0; i < kOuter; ++i) EXPECT_EQ(sums[i], 1225L * (i + 1));

  // Two threads of the process calling at once: one has the pool, the other runs alone.
  std::vector<long> a(400), b(400);
  std::thread other([&] { ParallelFor(400, 2, [&](int k, int) { a[k] = 2L * k; }); });
  ParallelFor(400, 2, [&](int k, int) { b[k] = 3L * k; });
  other.join();
  for (int k = 0; k < 400; ++k) ASSERT_EQ(a[k] * 3, b[k] * 2);
}

TEST(ParallelFor, SuccessiveCallsReuseTheSameThreads) {
  ParallelFor(4, 3, [](int, int) {});
  const int pool = ParallelPoolSize();
  EXPECT_GE(pool, 2);
  std::mutex mutex;
  std::set<std::thread::id> ids;
  long total = 0;
  for (int call = 0; call < 1000; ++call) {
    std::vector<int> slots(8);
    ParallelFor(8, 3, [&](int k, int) {
      slots[k] = k;
      const std::lock_guard<std::mutex> lock(mutex);
      ids.insert(std::this_thread::get_id());
    });
    for (int slot : slots) total += slot;
  }
  EXPECT_EQ(total, 1000L * 28);
  EXPECT_EQ(ParallelPoolSize(), pool);
  EXPECT_LE(static_cast<int>(ids.size()), pool + 1);
}

}  // namespace
}  // namespace tav
