// Runs a program and prints its peak resident memory in kilobytes and its exit status, "KB
// STATUS" on one line (STATUS -1 when it did not exit normally): for the tests of the memory
// budget, which read the peak of the real program on inputs made to need much memory.
//
//   peak_memory program [argument ...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: peak_memory program [argument ...]\n");
    return 2;
  }
  const pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return 2;
  std::printf("%ld %d\n", usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}
