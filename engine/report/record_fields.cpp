#include "report/record_fields.h"

#include <algorithm>
#include <charconv>

#include "core/event_history.h"
#include "core/format_real.h"

namespace tav {
RecordFields::RecordFields(const RunState& run)
    : run_(run), subgroup_numbers_(run.history.MissingCode == kNoMissingCode) {}

std::string RecordFields::Text(int subgroup, const std::vector<int>& categories) const {
  const ModelState& model = run_.model;
  const EventHistoryState& history = run_.history;
  const Membership& pattern = model.SubgroupPattern[subgroup];
  const int covariates = model.CovariateCount;
  const int fields = covariates > 0 ? model.ManifestCount - 1 : model.ManifestCount;
  std::string line;
  int column = 1;
  // The skipped columns in front of the next field, as the reader passes over them.
  auto skipped = [&] {
    for (; column <= kRecordColumns && history.ColumnUsed[column] == 0; ++column) line += "  0";
  };
  auto field = [&](double value) {
    line += IntegerField(value);
    ++column;
    skipped();
  };
  skipped();
  if (subgroup_numbers_) field(subgroup + 1);
  for (int k = 0; k < fields; ++k) {
    const bool observed = pattern[k] == 1;
    if (observed) {
      field(categories[k] + 1);
    } else if (!subgroup_numbers_) {
      field(history.MissingCode);
    }
  }
  if (covariates > 0) {
    const std::int64_t records = std::max<std::int64_t>(history.RecordCount, 1);
    const std::int64_t record = categories[model.ManifestCount - 1];
    for (int w = 0; w < covariates; ++w) {
      const auto at = static_cast<std::size_t>(w * records + record);
      const std::vector<double>& values = run_.data.covariate_value;
      line += NumberField(at < values.size() ? values[at] : 0.0);
    }
  }
  return line;
}

std::string IntegerField(double value) {
  const std::string text = FormatReal(0, 0, value);
  return std::string(text.size() < 2 ? 3 - text.size() : 1, ' ') + text;
}

std::string NumberField(double value) {
  char buffer[400];
  const std::to_chars_result end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return " " + std::string(buffer, end.ptr);
}

}  // namespace tav
