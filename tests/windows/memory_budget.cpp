// Prints the engine's default memory budget in bytes, three quarters of the physical memory as
// Windows reports it (GlobalMemoryStatusEx): tests/windows/compare-examples runs it under Wine
// and compares it with the Linux engine's on the same machine.
#include <cstdio>

#include "core/run_context.h"

int main() {
  std::printf("%lld\n", static_cast<long long>(tav::DefaultMemoryBudget()));
  return 0;
}
