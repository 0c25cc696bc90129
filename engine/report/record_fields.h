#ifndef TAV_ENGINE_REPORT_RECORD_FIELDS_H_
#define TAV_ENGINE_REPORT_RECORD_FIELDS_H_

#include <string>
#include <vector>

#include "newton/run_state.h"

namespace tav {

// The leading fields of a data record that the engine writes (simulated data), laid out as the
// input's record-format section has the data reader read them, so that the same input reads the
// file back:
//   - every column that `ski` lists, where it stands among the fields before the covariate
//     values, as the field 0;
//   - with rsu (subgroup numbers) the subgroup's number (from 1) and the category (from 1) of
//     every manifest variable the subgroup observes; otherwise the category of every manifest
//     variable, those the subgroup does not observe written as the missing code (0, or that of
//     `mis`);
//   - with continuous covariates (con) the record number is no field; the covariate values of
//     the record follow the categories.
// What follows (a count, a history) is the caller's. Every field begins with a blank; a
// category or code of one or two characters takes three characters, as "  1" and " 12".
class RecordFields {
 public:
  explicit RecordFields(const RunState& run);
  // The fields of a record of subgroup s whose manifest variables have the categories (from 0,
  // one per manifest variable; that of the covariate variable is the record, from 0).
  std::string Text(int subgroup, const std::vector<int>& categories) const;

 private:
  const RunState& run_;
  bool subgroup_numbers_;
};

// A whole number as a field: a blank in front, three characters at least.
std::string IntegerField(double value);

// A number as a field: a blank, then its shortest decimal text without an exponent that reads
// back as the same number.
std::string NumberField(double value);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_RECORD_FIELDS_H_
