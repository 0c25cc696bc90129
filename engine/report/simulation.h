#ifndef TAV_ENGINE_REPORT_SIMULATION_H_
#define TAV_ENGINE_REPORT_SIMULATION_H_

#include "newton/run_state.h"

namespace tav {

// Data drawn from the model (sim). The run evaluates the model at its start values, with a
// total of 1 and without data; then the file simulate_file receives data whose records the same
// input reads back (with `rec` the number of records, and `rco` for weights): their leading
// fields are laid out as the record-format section says (RecordFields).
//
// Without an event-history part, from the model's probability P of every cell of every
// subgroup's observed table (its estimated frequency over the sum of them all; with continuous
// covariates the cells include the record, whose covariate values the record then carries):
//   count < 1: expected data, one record per cell with the weight P * -count (width 15, 8
//              decimals, a blank in front; no weight for count 0 unless rco asks for counts);
//   count >= 1: count records, each the cell where the cumulative distribution over the cells
//              (subgroup 0's first) first reaches a uniform draw of the engine's generator,
//              which continues the stream of the start values; found by binary search. With rco
//              every record has the count 1.
// With an event-history part: the records' histories (report/history_simulation.h).
// The total count goes to run.simulated_total for the report; the model's total stays 1. The
// file is put in place when complete. A model whose probabilities are not numbers, or are all 0,
// stops the run.
void SimulateData(RunState& run);

// Stops the run, before estimation, when the data cannot be simulated so that the input reads
// them back: records of several subgroups without `sub` (the data reader would make the
// subgroups from the patterns in the order they appear), and the event-history constructs of
// CheckHistorySimulation.
void CheckSimulationAvailable(const RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_SIMULATION_H_
