#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tav {

namespace {

// One call of ParallelFor: its tasks, the next to hand out and the first failure.
struct Job {
  int count = 0;
  int workers = 1;
  ParallelTask task{};
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::mutex error_mutex;
  std::exception_ptr error;
};

// Takes tasks in order until none is left or one has failed.
void Work(Job& job, int worker) {
  for (;;) {
    if (job.failed.load()) return;
    const int k = job.next.fetch_add(1);
    if (k >= job.count) return;
    try {
      job.task.call(job.task.context, k, worker);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(job.error_mutex);
      if (!job.error) job.error = std::current_exception();
      job.failed = true;
      return;
    }
  }
}

// The helper threads. A call takes the pool, posts its job and works on it as worker 0; each
// helper that wakes while the job is posted takes the next worker number, 1 to workers - 1.
// When the calling thread runs out of tasks it withdraws the job (helpers that have not joined
// by then stay out) and waits until the helpers that joined have stopped.
class Pool {
 public:
  // Runs `job` on the pool; false, with nothing run, when another call has the pool.
  bool TryRun(Job& job) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (taken_) return false;
      taken_ = true;
      // A thread the system refuses leaves the job fewer workers, which the tasks allow.
      try {
        while (static_cast<int>(threads_.size()) < job.workers - 1) {
          threads_.emplace_back([this] { Serve(); });
        }
      } catch (const std::system_error&) {
        job.workers = static_cast<int>(threads_.size()) + 1;
      }
      job_ = &job;
      ++generation_;
      joined_ = 0;
    }
    for (int h = 1; h < job.workers; ++h) wake_.notify_one();
    Work(job, 0);
    std::unique_lock<std::mutex> lock(mutex_);
    job_ = nullptr;
    stopped_.wait(lock, [this] { return active_ == 0; });
    taken_ = false;
    return true;
  }

  int Size() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(threads_.size());
  }

 private:
  void Serve() {
    in_pool_thread = true;
    std::uint64_t seen = 0;  // the last job this thread joined
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] {
        return job_ != nullptr && generation_ != seen && joined_ < job_->workers - 1;
      });
      seen = generation_;
      Job& job = *job_;
      const int worker = ++joined_;
      ++active_;
      lock.unlock();
      Work(job, worker);
      lock.lock();
      if (--active_ == 0 && job_ == nullptr) stopped_.notify_one();
    }
  }

 public:
  static thread_local bool in_pool_thread;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;     // helpers wait here for a job
  std::condition_variable stopped_;  // the calling thread waits here for its helpers
  std::vector<std::thread> threads_;
  bool taken_ = false;
  Job* job_ = nullptr;  // the posted job, withdrawn once its calling thread ran out of tasks
  std::uint64_t generation_ = 0;
  int joined_ = 0;  // helpers that joined the posted job
  int active_ = 0;  // helpers working on a job
};

thread_local bool Pool::in_pool_thread = false;

// The pool is never destroyed, its threads never joined: they only wait between calls, hold
// nothing but their stacks, and end with the process. Joining them at exit would hang where
// exit is reached from inside a task (a helper would wait for itself) and would race with
// other static objects whose destructors still run parallel work.
Pool& ThePool() {
  static Pool* const pool = new Pool;
  return *pool;
}

}  // namespace

void RunParallel(int count, int threads, ParallelTask task) {
  Job job;
  job.count = count;
  job.workers = std::max(1, std::min(threads, count));
  job.task = task;
  if (job.workers == 1 || Pool::in_pool_thread || !ThePool().TryRun(job)) Work(job, 0);
  if (job.error) std::rethrow_exception(job.error);
}

int ParallelPoolSize() { return ThePool().Size(); }

}  // namespace tav
