#ifndef TAV_ENGINE_DATA_DATA_STORE_H_
#define TAV_ENGINE_DATA_DATA_STORE_H_

#include <cstdint>
#include <vector>

namespace tav {

// The most entries the observed-data store holds (the 163,800th stops the run).
inline constexpr std::int64_t kMaxEntries = 163800;

// One episode of an event history record.
struct Episode {
  double start_time = 0;
  double end_time = 0;
  std::int32_t origin = 0;
  std::int32_t event = -1;  // event type; -1 an unused episode slot
  std::int32_t destination = 0;
};

// The observed data: entries of (subgroup, cell, count), sorted by subgroup and cell in
// table format.
struct DataStore {
  std::vector<double> entry_count;
  std::vector<std::int32_t> entry_subgroup;  // only when there are several subgroups
  std::vector<double> entry_cell;
  bool entry_count_given = false;  // the entries carry real counts
  std::vector<Episode> episodes;   // EpisodeCount slots per entry (hazard records)
  std::vector<double> covariate_value;  // covariate w of record r at w * records + r
  std::vector<double> subgroup_total;
  double total_count = 0;
  bool data_given = false;  // a `fre` or `dat` command was read
  std::int64_t EntryCount() const { return static_cast<std::int64_t>(entry_count.size()); }
};

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DATA_STORE_H_
