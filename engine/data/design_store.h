#ifndef TAV_ENGINE_DATA_DESIGN_STORE_H_
#define TAV_ENGINE_DATA_DESIGN_STORE_H_

#include <cstdint>
#include <vector>

namespace tav {

// The numbers of the user designs, in the stores the M-steps read.
struct DesignStore {
  std::vector<double> real_design;       // design values, fixed row scores
  std::vector<double> second_real;       // real multiplier blocks, fixed column scores
  std::vector<std::int32_t> int_design;  // design entries of `eff`
  std::vector<std::int32_t> factor;      // factor numbers, row-score equality numbers
  std::vector<std::int32_t> group;       // group numbers, margin numbers, column-score numbers
  std::vector<std::int32_t> restriction_codes;  // per probability of the kind -3 submodels
  int designs_given_inline = 0;  // designs already read from an inline `des`
};

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DESIGN_STORE_H_
