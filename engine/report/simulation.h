#ifndef TAV_ENGINE_REPORT_SIMULATION_H_
#define TAV_ENGINE_REPORT_SIMULATION_H_

#include "newton/run_state.h"

namespace tav {

// Data drawn from the model (sim): after the start iteration, the model's probability P of
// every cell of every subgroup's observed table (its estimated frequency over the sum of them
// all) gives the data written to simulate_file, one record per line in the layout of the data
// reader (the category of every manifest variable the subgroup observes, integer 3, and "  0"
// for the others):
//   count < 1: expected data, one record per cell with the weight P * -count (width 15, 8
//              decimals; no weight for count 0);
//   count >= 1: count records, each the cell where the cumulative distribution over the cells
//              (subgroup 0's first) first reaches a uniform draw of the engine's generator,
//              which continues the stream of the start values; found by binary search.
// The total count becomes |count| for the report. The file is put in place when complete.
// A model whose probabilities are not numbers, or are all 0, stops the run.
void SimulateData(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_SIMULATION_H_
