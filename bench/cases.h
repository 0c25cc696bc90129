#ifndef TAV_BENCH_CASES_H_
#define TAV_BENCH_CASES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tav::bench {

// One benchmark case: an input file in the command language, generated from a fixed seed.
struct BenchCase {
  std::string name;
  std::string description;
  bool latent = false;  // latent class model (no loglin comparison)
  int iterations = 0;   // ite k, cri 0
  // The manifest variables' numbers of categories, in variable order.
  std::vector<int> dims;
  // Hierarchical models: the margins of the model, as 0-based variable numbers.
  std::vector<std::vector<int>> margins;
  // Hierarchical models: the table, in cell order (last variable fastest).
  std::vector<double> table;
  // The whole input file.
  std::string input;
  // Distinct response patterns in the data (non-zero cells of the table).
  std::int64_t patterns = 0;
  // Number of observations.
  std::int64_t observations = 0;
};

// The names of all cases, smallest first.
std::vector<std::string> CaseNames();

// The case of that name. The same seed gives the same input on every machine.
BenchCase MakeCase(const std::string& name);

// The table and model of a hierarchical case in the form bench/loglin.R reads: a line with
// the iteration count, a line with the numbers of categories, one line per margin (1-based
// variable numbers), a line "table" and the counts, one per line, last variable fastest.
std::string LoglinFile(const BenchCase& c);

}  // namespace tav::bench

#endif  // TAV_BENCH_CASES_H_
