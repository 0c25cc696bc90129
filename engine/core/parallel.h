#ifndef TAV_ENGINE_CORE_PARALLEL_H_
#define TAV_ENGINE_CORE_PARALLEL_H_

#include <thread>

namespace tav {

// The number of threads for a run's parallel work: `requested` when it is positive, else the
// hardware concurrency (1 when that is unknown), asked of the system once per process (the C
// library reads it from files each time).
inline int ThreadCount(int requested) {
  if (requested > 0) return requested;
  static const unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : static_cast<int>(hardware);
}

// A task of ParallelFor seen through a plain function pointer, so that the pool needs no
// template: call(context, k, worker) runs task k on worker `worker`.
struct ParallelTask {
  void (*call)(void* context, int k, int worker);
  void* context;
};

// ParallelFor's work, on the process's pool of helper threads (see ParallelFor).
void RunParallel(int count, int threads, ParallelTask task);

// The number of helper threads the pool has started so far (it never stops them).
int ParallelPoolSize();

// Runs task(k, worker) for every k in 0 .. count - 1 on at most `threads` threads (the calling
// thread included), worker (0 .. threads - 1) naming the thread so that it can keep buffers of
// its own; worker 0 is always the calling thread. Tasks are handed out in order as threads come
// free; a task must write only to places of its own (its slot k, its worker's buffers), so that
// what the tasks produce does not depend on the number of threads or on which thread ran which
// task. The first exception a task throws is thrown again here once every thread has stopped;
// no task starts after it.
//
// The threads beyond the calling one come from one pool for the whole process, started on
// first use and grown to the largest number of helpers any call has asked for; between calls
// they wait on a condition variable. One call at a time has the pool. A call made while the
// pool is taken (a nested call from inside a task, on whichever thread, or a call from another
// thread of the process at the same time) runs all its tasks on its calling thread, in order,
// as worker 0; so nested calls neither wait for threads that are busy with the outer call nor
// deadlock, and, the tasks writing only their own places, give the same numbers.
template <typename Task>
void ParallelFor(int count, int threads, Task task) {
  RunParallel(count, threads,
              ParallelTask{[](void* context, int k, int worker) {
                             (*static_cast<Task*>(context))(k, worker);
                           },
                           &task});
}

}  // namespace tav

#endif  // TAV_ENGINE_CORE_PARALLEL_H_
