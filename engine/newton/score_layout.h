#ifndef TAV_ENGINE_NEWTON_SCORE_LAYOUT_H_
#define TAV_ENGINE_NEWTON_SCORE_LAYOUT_H_

#include <cstdint>
#include <vector>

#include "estimation/margins.h"
#include "estimation/model_family.h"
#include "newton/run_state.h"

namespace tav {

// How the free parameters act on the fitted tables, for the score (newton/score.h) and the
// information forms built on it (newton/observed_information.h).

// How a parameter moves the fitted cells of its table.
struct Direction {
  int table = -1;         // -1: left out (a marginally restricted submodel's parameter)
  int group = -1;         // a model term's parameter: its effect group
  std::vector<double> x;  // any other: the direction per cell of the table
};

// The model-term parameters of one effect of one table, which share the effect's margin.
struct EffectGroup {
  int table = 0;
  Membership effect{};
  const MarginShape* shape = nullptr;  // the table's cells onto the effect's cells
  std::vector<int> parameters;
};

struct ScoreLayout {
  std::vector<Direction> directions;
  std::vector<EffectGroup> groups;
  std::vector<int> tables;       // the tables that parameters act on, ascending
  std::vector<TableForm> forms;  // per table of the model: its form (kUncovered when not used)
  bool complete = true;          // every parameter that counts has a direction
  bool linked = false;           // some of the tables are of form kLinked
  TableForm FormOf(int t) const {
    return t >= 0 && t < static_cast<int>(forms.size()) ? forms[t] : TableForm::kUncovered;
  }
};

struct TableSpan {
  std::int64_t first = 0;
  std::int64_t cells = 0;
};

// The layout of the run's free parameters (the list built, its effects prepared), each table
// with the form its family gives it (estimation/model_family.h); not complete when one of them
// has no direction or acts on a table whose form does not cover it.
ScoreLayout ScoreLayoutOf(const RunState& run);

// The cells of table t in FittedTable.
TableSpan TableSpanOf(const RunState& run, int t);

// The sums of values (cells of table t) over its blocks: the cells of its conditioning margin,
// the whole table for the first submodel.
std::vector<double> TableBlockSums(const RunState& run, int t, const double* values);

// w(c) = f(c) E_b / F_b over the cells of table t (0 in blocks without fitted mass).
void BlockFittedCounts(const RunState& run, int t, const double* fitted, const double* expected,
                       double* w);

// Every data pattern has a single completion (no latent variables, nothing missing): the
// expected tables do not move with the parameters.
bool SingleCompletions(const RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_SCORE_LAYOUT_H_
