#ifndef TAV_ENGINE_DATA_DATA_STORE_H_
#define TAV_ENGINE_DATA_DATA_STORE_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tav {

// The memory an entry of the observed-data store takes besides its categories (its count, cell
// and subgroup, with room for the E-step's use of it), and an entry while records are being
// aggregated (a node of the hash table besides); the store holds as many as the run's memory
// budget allows.
inline constexpr std::int64_t kEntryBytes = 64;
inline constexpr std::int64_t kAggregatedEntryBytes = 128;

// An entry with `items` categories of `width` bytes each.
constexpr std::int64_t EntryBytes(int items, int width) {
  return kEntryBytes + static_cast<std::int64_t>(items) * width;
}

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

// Where a manifest variable came from when the data were read from a file of named columns:
// the column, its label in the file, and its categories in code order (the code from 1, the
// value as the file holds it, and its value label, empty where the file gives none).
struct VariableSource {
  struct Category {
    int code = 0;
    std::string value;
    std::string label;
  };
  int variable = 0;  // the variable, in the model's numbering
  std::string column;
  std::string column_label;
  std::vector<Category> categories;
};

// The observed data: entries of (subgroup, cell, count). In table format (table input, or
// records that were aggregated) the entries are the non-zero cells, sorted by subgroup and
// cell; otherwise there is one entry per record, in input order.
struct DataStore {
  std::vector<double> entry_count;           // 1 for every record when counts are not given
  std::vector<std::int32_t> entry_subgroup;  // subgroup of the entry (0 with one subgroup)
  std::vector<double> entry_cell;            // cell in the subgroup's observed table
  // The categories (from 0) of every entry's manifest variables, category_items per entry, 0
  // for those its subgroup does not observe; each in category_width bytes (1 where every
  // variable has at most 256 categories, else 2 or 4), in the machine's byte order. Tables
  // too large to number (more than 1E18 cells) have only these: their cells are 0.
  std::vector<std::uint8_t> entry_categories;
  int category_items = 0;
  int category_width = 1;
  bool entry_count_given = false;       // the entries carry real counts
  std::vector<Episode> episodes;        // EpisodeCount slots per entry (hazard models)
  std::vector<double> covariate_value;  // covariate w of record r at w * records + r
  std::vector<double> subgroup_total;
  double total_count = 0;
  bool data_given = false;  // a `fre` or `dat` command was read
  // Read from a file of named columns: the file as named in the input, and the source of each
  // manifest variable read from it (empty otherwise).
  std::string source_file;
  std::vector<VariableSource> sources;
  // Subgroups found from the data so far (several subgroups without `sub`).
  int found_subgroup_count = 0;
  // The scratch file "latent.lat" holds the subgroup and cell of every record that was
  // aggregated.
  bool latent_scratch_written = false;

  std::int64_t EntryCount() const { return static_cast<std::int64_t>(entry_count.size()); }
  // The bytes the entries, their episodes and the covariate values take.
  double Bytes() const {
    return static_cast<double>(
        entry_count.size() * sizeof(double) + entry_cell.size() * sizeof(double) +
        entry_subgroup.size() * sizeof(std::int32_t) + entry_categories.size() +
        episodes.size() * sizeof(Episode) + covariate_value.size() * sizeof(double));
  }
  // Empties the entries and their episodes, which then have no scratch file of latent classes.
  void ClearEntries() {
    entry_count.clear();
    entry_subgroup.clear();
    entry_cell.clear();
    episodes.clear();
    latent_scratch_written = false;
  }

  // Category of manifest variable k (from 0) of entry e.
  int EntryCategory(std::int64_t e, int k) const {
    const std::size_t at = (static_cast<std::size_t>(e) * category_items + k) * category_width;
    if (category_width == 1) return entry_categories[at];
    if (category_width == 2) {
      std::uint16_t value;
      std::memcpy(&value, entry_categories.data() + at, sizeof value);
      return value;
    }
    std::int32_t value;
    std::memcpy(&value, entry_categories.data() + at, sizeof value);
    return value;
  }

  // Appends an entry's category_items categories.
  void AppendCategories(const int* categories) {
    const std::size_t at = entry_categories.size();
    entry_categories.resize(at + static_cast<std::size_t>(category_items) * category_width);
    std::uint8_t* to = entry_categories.data() + at;
    for (int k = 0; k < category_items; ++k, to += category_width) {
      if (category_width == 1) {
        *to = static_cast<std::uint8_t>(categories[k]);
      } else if (category_width == 2) {
        const auto value = static_cast<std::uint16_t>(categories[k]);
        std::memcpy(to, &value, sizeof value);
      } else {
        const std::int32_t value = categories[k];
        std::memcpy(to, &value, sizeof value);
      }
    }
  }
};

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DATA_STORE_H_
