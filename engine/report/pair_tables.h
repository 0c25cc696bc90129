#ifndef TAV_ENGINE_REPORT_PAIR_TABLES_H_
#define TAV_ENGINE_REPORT_PAIR_TABLES_H_

#include <vector>

#include "newton/run_state.h"

namespace tav {

// The observed and expected two-way tables of pairs of manifest variables, many pairs at once.
//
// For a pair (a, b) (variable numbers; I and J the categories of a and b, at least 1) and the
// subgroups that observe both variables (SubgroupPattern marks both 1; an entry's subgroup
// number clamped to the subgroups there are):
//   observed n_ij  the counts of the data entries of those subgroups with a = i and b = j (0
//                  for every cell when a or b has no stored categories), each cell added up in
//                  entry order;
//   expected m_ij  per such subgroup, EstimatedPatternTable of the pair's margin pattern
//                  (MarginPattern of a and b), added up in subgroup order.
//
// The observed counts are found one of two ways, which give the same numbers to the bit:
// - When every count is a whole number >= 0 and their total is at most 2^53, each partial sum
//   of a cell is a whole number that a double holds exactly, so the order of the additions does
//   not matter. Then every variable gets one bit set over the entries per category but its
//   first (the entries of the subgroups that observe it with that category), and per subgroup
//   and category the total of the counts; for counts other than 1 a bit set per binary digit
//   of the counts. A pair's cells of categories i, j >= 1 are
//     n_ij = sum over digits d of 2^d * |B(a, i) & B(b, j) & D(d)|
//   (with all counts 1, the size of the intersection), and the first row and column follow
//   from the subgroups' totals R_i of a and C_j of b:
//     n_i0 = R_i - sum_{j>=1} n_ij,  n_0j = C_j - sum_{i>=1} n_ij,  n_00 = R_0 - sum_{j>=1} n_0j,
//   all in 64-bit integers. A pair takes this way when (I - 1)(J - 1) times the digits is at
//   most kLargestBitSetCells, and when the bit sets fit in the memory budget.
// - Else one pass over the entries in their order per block of pairs, adding every entry's
//   count into the cells of its block's pairs.
// Both ways run on the run's threads (bit sets by variable, intersections and blocks by pair);
// every number is the same whatever their number. A stored category beyond a variable's
// categories (not in any cell) sends every pair the second way.
struct PairTable {
  int first = 0;
  int second = 0;
  int rows = 0;
  int columns = 0;
  // Rows the categories of first, the categories of second fastest.
  std::vector<double> observed;
  std::vector<double> expected;
  int subgroups = 0;  // the subgroups that observe both variables
};

struct VariablePair {
  int first = 0;
  int second = 0;
};

inline constexpr int kLargestBitSetCells = 64;

// The tables of the pairs, in their order.
std::vector<PairTable> PairTables(const RunState& run, const std::vector<VariablePair>& pairs);

// The tables of one pair.
PairTable BivariateTable(const RunState& run, int first, int second);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_PAIR_TABLES_H_
