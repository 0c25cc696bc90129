#ifndef TAV_ENGINE_DATA_DATA_STORE_H_
#define TAV_ENGINE_DATA_DATA_STORE_H_

#include <cstdint>
#include <vector>

namespace tav {

// The memory an entry of the observed-data store takes (its count, cell and subgroup, with room
// for the E-step's use of it), and an entry while records are being aggregated (a node of the
// ordered map besides); the store holds as many as the run's memory budget allows.
inline constexpr std::int64_t kEntryBytes = 64;
inline constexpr std::int64_t kAggregatedEntryBytes = 128;

// One episode of an event history record, on the time grid of the hazard model.
struct Episode {
  double start_time = 0;
  double end_time = 0;
  std::int32_t origin = 0;
  std::int32_t event = -1;  // risk number of the transition; 0 censored; -1 an unused slot
  // The state at the end of the episode; with multiple risks (one episode per risk) the
  // number written for the risk in the record.
  std::int32_t destination = 0;
  // The power of the event's rate in the likelihood: 1, or in single-spell mode (rsu) the
  // number of events written for the spell.
  double weight = 1;
};

// The observed data: entries of (subgroup, cell, count). In table format (table input, or
// records that were aggregated) the entries are the non-zero cells, sorted by subgroup and
// cell; otherwise there is one entry per record, in input order.
struct DataStore {
  std::vector<double> entry_count;           // 1 for every record when counts are not given
  std::vector<std::int32_t> entry_subgroup;  // subgroup of the entry (0 with one subgroup)
  std::vector<double> entry_cell;            // cell in the subgroup's observed table
  bool entry_count_given = false;            // the entries carry real counts
  std::vector<Episode> episodes;             // EpisodeCount slots per entry (hazard models)
  std::vector<double> covariate_value;       // covariate w of record r at w * records + r
  std::vector<double> subgroup_total;
  double total_count = 0;
  bool data_given = false;  // a `fre` or `dat` command was read
  // Subgroups found from the data so far (several subgroups without `sub`).
  int found_subgroup_count = 0;
  // The scratch file "latent.lat" holds the subgroup and cell of every record that was
  // aggregated.
  bool latent_scratch_written = false;
  // The scratch file "records.dat" holds the observed categories of every record (tables too
  // large to number).
  bool record_scratch_written = false;

  std::int64_t EntryCount() const { return static_cast<std::int64_t>(entry_count.size()); }
};

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DATA_STORE_H_
