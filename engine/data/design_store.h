#ifndef TAV_ENGINE_DATA_DESIGN_STORE_H_
#define TAV_ENGINE_DATA_DESIGN_STORE_H_

#include <cstdint>
#include <vector>

namespace tav {

// The value at index `at` of a store, 0 outside it.
template <typename T>
double StoreValue(const std::vector<T>& store, std::int64_t at) {
  return at >= 0 && at < static_cast<std::int64_t>(store.size()) ? static_cast<double>(store[at])
                                                                 : 0.0;
}

// Where the numbers of one design (special effect) start in each store; -1 when the design
// took nothing from that store.
struct DesignSlot {
  std::int64_t real_start = -1;    // design values, kind 5 blocks, skipped prespecified columns
  std::int64_t second_start = -1;  // real group multipliers, real margin blocks of kind 5
  std::int64_t int_start = -1;     // design entries of `eff`
  std::int64_t factor_start = -1;  // factor numbers of `fac`
  std::int64_t group_start = -1;   // group numbers, margin numbers of kind 5
};

// Where the user scores of one association row/column effect start.
struct AssocSlot {
  std::int64_t row_start = -1;     // in `factor` (equality numbers) or `real_design` (fixed)
  std::int64_t column_start = -1;  // in `group` (equality numbers) or `second_real` (fixed)
  std::int64_t group_start = -1;   // in `group` (layer groups) or `second_real` (layer design)
};

// The numbers of the user designs, in the stores the M-steps read. Positions are indexes into
// these vectors; the continuous-covariate values are kept by the data store, not here.
struct DesignStore {
  std::vector<double> real_design;       // design values, fixed row scores
  std::vector<double> second_real;       // real multiplier blocks, fixed column scores
  std::vector<std::int32_t> int_design;  // design entries of `eff`
  std::vector<std::int32_t> factor;      // factor numbers, row-score equality numbers
  std::vector<std::int32_t> group;       // group numbers, margin numbers, column-score numbers
  std::vector<std::int32_t> restriction_codes;  // per probability of the eq2/eq3 submodels

  // Per submodel (index as in the model): the slots of its designs and association effects,
  // and where its restriction codes start (-1 when it has none).
  std::vector<std::vector<DesignSlot>> design_slots;
  std::vector<std::vector<AssocSlot>> assoc_slots;
  std::vector<std::int64_t> restriction_start;

  int designs_given_inline = 0;  // designs already read from an inline `des`
  bool read = false;             // the design reader has run
};

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DESIGN_STORE_H_
