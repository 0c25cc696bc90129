#ifndef TAV_BENCH_CASES_H_
#define TAV_BENCH_CASES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tav::bench {

// One benchmark case: an input file in the command language, generated from a fixed seed.
struct BenchCase {
  std::string name;
  std::string description;  // no commas: bench/run reads Google Benchmark's CSV
  // The kind of model, which decides the comparison with R: "loglinear" (hierarchical, R's
  // loglin with the same iterations), "latent" (latent class, none), "design" (a log-linear
  // model with a design effect, glm to convergence), "cumulative" (a cumulative logit model,
  // clm to convergence) or "correspondence" (a multiple correspondence analysis, ca's mjca on
  // the same records).
  std::string family;
  int iterations = 0;  // ite k, cri 0
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
  // The design and cumulative cases: the data in the form bench/fit.R reads. A line with the
  // family, then a table with a header line, one row per cell, columns separated by blanks;
  // design: A B x count, cumulative: A B C R sA sB sC count (sA, sB, sC: the scores of the
  // predictors' categories). All cells are listed, the empty ones too. The correspondence
  // case: a line "correspondence", then the records, one per line (bench/mca.R).
  std::string fit_data;
};

// The names of all cases: the hierarchical ones, the latent class ones, then the design and
// the cumulative case; within each kind the smallest first.
std::vector<std::string> CaseNames();

// The case of that name. The same seed gives the same input on every machine.
BenchCase MakeCase(const std::string& name);

// The table and model of a hierarchical case in the form bench/loglin.R reads: a line with
// the iteration count, a line with the numbers of categories, one line per margin (1-based
// variable numbers), a line "table" and the counts, one per line, last variable fastest.
std::string LoglinFile(const BenchCase& c);

// Whether the case is also timed to convergence and compared with R's fit (bench/fit.R).
bool FitsToConvergence(const BenchCase& c);

}  // namespace tav::bench

#endif  // TAV_BENCH_CASES_H_
