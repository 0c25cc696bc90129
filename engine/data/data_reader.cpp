// The data reader: turns a frequency table or a file of individual records into the store of
// (subgroup, cell, count) entries. Records are aggregated into sorted table entries whenever
// the full table can be numbered and no per-record information must be kept.

#include "data/data_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/stop_run.h"
#include "data/record_columns.h"
#include "input/command_table.h"
#include "input/reader.h"

namespace tav {
namespace {

// Full manifest tables with more cells than this are not numbered.
constexpr long double kLargestNumberedTable = 1e18L;
constexpr std::int64_t kMaxSubgroupCells = 2147483647;
// The largest sum of the counts: the fit adds counts into margins and totals, squares them in
// the fit statistics (X-squared's (n - m)^2 / m) and multiplies them by design values and cell
// numbers in the derivative sums. With N at most 1e100, N^2 stays below 1e200, far from the
// largest double (1.8e308), and so does every sum over the at most 2^31 cells of a table, so
// no sum of the fit overflows; a count or total beyond it is refused ("number too large").
constexpr double kLargestTotalCount = 1e100;

const char* const kMissingBracket = "  Error: a \"]\" expected in command \"dat\"";

// The pattern of subgroup g (1 = observed); nothing observed for a subgroup without one.
const Membership& Pattern(const ModelState& model, int g) {
  static const Membership kNone{};
  if (g < 0 || g >= static_cast<int>(model.SubgroupPattern.size())) return kNone;
  return model.SubgroupPattern[g];
}

// The number of cells of subgroup g's observed table: the product of the numbers of
// categories of the manifest variables it observes, at most 2,147,483,647.
std::int64_t SubgroupCells(const ModelState& model, int g) {
  if (g < static_cast<int>(model.subgroup_cell_count.size()) &&
      static_cast<int>(model.subgroup_cell_count.size()) == model.SubgroupCount) {
    return model.subgroup_cell_count[g];
  }
  const Membership& pattern = Pattern(model, g);
  std::int64_t cells = 1;
  for (int k = 0; k < model.ManifestCount && k < kVectorSize; ++k) {
    const int v = model.FirstManifest() + k;
    if (pattern[k] != 1 || v >= kVectorSize) continue;
    cells = std::min<std::int64_t>(cells * std::max(model.Dimension[v], 0), kMaxSubgroupCells);
  }
  return cells;
}

// An exit time of a record (the time unit, from 1, in which the episode ended) on the grid of
// the hazard model.
double GridTime(const EventHistoryState& history, double time) {
  return time - 1 + history.TimeOffset;
}

// The event of an episode that ends without a transition: in discrete time the stay in its
// state (the episode's last unit is survived), in continuous time none (censored).
std::int32_t CensoredEvent(const EventHistoryState& history, std::int32_t origin) {
  return history.TimeKind == TimeModel::kDiscrete ? history.RiskOf(origin, origin) : 0;
}

// Adds one entry in input order, with its categories (`categories`, or decoded from its cell in
// the subgroup's table when nullptr, the last variable running fastest).
void AppendEntry(const ModelState& model, DataStore& data, double count, int subgroup, double cell,
                 const int* categories = nullptr) {
  data.entry_count.push_back(count);
  data.entry_subgroup.push_back(subgroup);
  data.entry_cell.push_back(cell);
  if (categories != nullptr) {
    data.AppendCategories(categories);
    return;
  }
  std::array<int, kVectorSize> decoded{};
  const Membership& pattern = Pattern(model, subgroup);
  auto rest = static_cast<std::uint64_t>(std::max(0.0, cell));
  for (int k = data.category_items - 1; k >= 0; --k) {
    if (pattern[k] != 1) continue;
    const auto dim =
        static_cast<std::uint64_t>(std::max(model.Dimension[model.FirstManifest() + k], 1));
    decoded[k] = static_cast<int>(rest % dim);
    rest /= dim;
  }
  data.AppendCategories(decoded.data());
}

// True when the last number read ended its line (or the file); a line end as the number's
// terminator and the line end of a comment after it both count.
bool LineEnded(TextFile& source) {
  const int last = source.LastRead();
  if (last == '\r') {
    if (source.Peek() == '\n') source.Get();
    return true;
  }
  return last == '\n' || last == TextFile::kEnd;
}

// After the last number of inline data: the closing "]", directly after the number or as the
// next word. With rest_of_record the rest of the last record's line is skipped first (a record
// may hold more numbers than it needs, up to its line end or the "]"); anything else before
// the "]" (a further record, a surplus number) stops the run.
void CloseInlineData(Reader& reader, TextFile& source, bool rest_of_record) {
  if (reader.word == "]") return;
  if (rest_of_record && !LineEnded(source)) {
    for (int c = source.Get(); c != '\n' && c != '\r' && c != TextFile::kEnd; c = source.Get()) {
      if (c == '*') {
        source.SkipLine();
        break;
      }
      if (c == ']') {
        reader.word = "]";
        return;
      }
    }
  }
  if (ReadWord(source) != "]") StopRun(kMissingBracket);
  reader.word = "]";
}

// After the data read from a data file: only blanks and comments may follow; what does not
// stops the run, as a surplus in inline data does.
void ExpectDataFileEnd(TextFile& source, const char* what) {
  const std::string word = ReadWord(source);
  if (word.empty()) return;
  StopRun("  Error in data: " + std::string(what) + ": \"" + word + "\", at line " +
          std::to_string(source.WordLine()) + " of " + source.path());
}

// ---------------------------------------------------------------------------------------------
// Table format.

class TableReader {
 public:
  TableReader(Reader& reader, DataRun& run, TextFile& source)
      : reader_(reader), run_(run), source_(source) {}

  void Read() {
    const ModelState& model = run_.model;
    const EventHistoryState& history = run_.history;
    const bool hazard = history.HazardModel;
    const int time_points = hazard ? std::max(history.TimePointCount, 1) : 1;
    // With a hazard model the table of events is followed by the table of those without one.
    for (int table = 0; table < (hazard ? 2 : 1); ++table) {
      const bool events = table == 0;
      for (int g = 0; g < model.SubgroupCount; ++g) {
        const std::int64_t cells = SubgroupCells(model, g);
        for (std::int64_t c = 0; c < cells; ++c) {
          for (int t = 0; t < time_points; ++t) {
            double value = ReadReal(reader_, run_, source_);
            // Digits beyond the range of a double: the count itself cannot be kept.
            if (!std::isfinite(value)) {
              StopRun("  Error: number too large when reading " + reader_.command);
            }
            if (events) {
              value += run_.settings.added_constant;
              if (value < 0) StopRun("  Error: negative observed frequency");
            }
            if (value > 0) Store(value, g, static_cast<double>(c), hazard, t, events);
          }
        }
      }
    }
    run_.data.entry_count_given = true;
  }

 private:
  void Store(double value, int g, double cell, bool hazard, int t, bool event) {
    DataStore& data = run_.data;
    run_.CheckMemory(static_cast<double>(data.EntryCount() + 1) *
                         EntryBytes(data.category_items, data.category_width),
                     "  Error: array with observed frequencies too big to fit in memory");
    AppendEntry(run_.model, data, value, g, cell);
    if (!hazard) return;
    const EventHistoryState& history = run_.history;
    const int slots = std::max(history.EpisodeCount, 1);
    Episode episode;
    episode.start_time = history.TimeValues.empty() ? 0 : history.TimeValues.front();
    episode.end_time = episode.start_time + t + history.TimeOffset;
    if (!(episode.end_time > episode.start_time)) {
      StopRun("  Error: with exposure time 0 the cases of the first time point have no exposure");
    }
    episode.origin = 0;
    // The cases of the first table leave state 0; those of the second stay in it (censored).
    episode.event = event ? history.RiskOf(0, 1) : CensoredEvent(history, 0);
    episode.destination = event ? 1 : 0;
    data.episodes.push_back(episode);
    for (int slot = 1; slot < slots; ++slot) data.episodes.push_back(Episode{});
  }

  Reader& reader_;
  DataRun& run_;
  TextFile& source_;
};

// ---------------------------------------------------------------------------------------------
// Record format.

class RecordReader {
 public:
  RecordReader(Reader& reader, DataRun& run, TextFile& source, bool inline_data,
               const RecordColumns* table = nullptr)
      : reader_(reader),
        run_(run),
        model_(run.model),
        history_(run.history),
        data_(run.data),
        source_(source),
        inline_data_(inline_data),
        table_(table) {}

  void Read() {
    const std::int64_t records =
        table_ != nullptr ? table_->records : std::max<std::int32_t>(history_.RecordCount, 0);
    numbered_ = model_.ManifestCellCount <= kLargestNumberedTable;
    aggregate_ = numbered_ && history_.PerRecordOutput && !history_.HazardModel;
    covariates_ = std::max(model_.CovariateCount, 0);
    slots_ = history_.HazardModel ? std::max(history_.EpisodeCount, 1) : 0;
    if (!aggregate_) {
      // One entry per record, with its episodes, within the memory budget.
      run_.CheckMemory(static_cast<double>(records) *
                       static_cast<double>(EntryBytes(data_.category_items, data_.category_width) +
                                           sizeof(Episode) * slots_));
      const std::size_t first = static_cast<std::size_t>(std::min<std::int64_t>(records, 4096));
      data_.entry_count.reserve(first);
      data_.entry_subgroup.reserve(first);
      data_.entry_cell.reserve(first);
    }
    if (covariates_ > 0) data_.covariate_value = AllocRealArray(run_, covariates_ * records);
    if (aggregate_ && table_ != nullptr) {
      run_.CheckMemory(static_cast<double>(records) * sizeof(Pending),
                       "  Error: array with data too big to fit in memory");
      pending_.reserve(static_cast<std::size_t>(records));
    }
    if (aggregate_ && table_ == nullptr) ChooseDenseCounts(records);
    while (leading_columns_used_ < kRecordColumns &&
           history_.ColumnUsed[leading_columns_used_ + 1] != 0) {
      ++leading_columns_used_;
    }
    // Inline data come before the settings that follow them, so the subgroups and cells of
    // aggregated records are always kept for the latent and posterior files.
    const Settings& settings = run_.settings;
    if (aggregate_ &&
        (inline_data_ || !settings.file_latent.empty() || !settings.file_posterior.empty())) {
      OpenScratchFile(run_, latent_scratch_, "latent.lat", "w");
      data_.latent_scratch_written = true;
    }

    for (std::int64_t r = 1; r <= records; ++r) {
      if (table_ != nullptr) {
        ReadTableRecord(r, records);
      } else {
        ReadRecord(r, records, r == records);
      }
    }
    if (records == 0 && inline_data_) CloseInlineData(reader_, source_, true);

    if (aggregate_ && table_ != nullptr) {
      // Records from columns come all at once: sorted by subgroup and cell (keeping the order
      // of the records among equals, so that the counts add up as they do in the hash table),
      // then added up.
      std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
        return a.subgroup != b.subgroup ? a.subgroup < b.subgroup : a.cell < b.cell;
      });
      for (std::size_t i = 0; i < pending_.size();) {
        double count = pending_[i].count;
        std::size_t j = i + 1;
        for (; j < pending_.size() && pending_[j].subgroup == pending_[i].subgroup &&
               pending_[j].cell == pending_[i].cell;
             ++j) {
          count += pending_[j].count;
        }
        AppendEntry(model_, data_, count, pending_[i].subgroup, pending_[i].cell);
        i = j;
      }
      std::vector<Pending>().swap(pending_);
      history_.RecordFormat = false;
      data_.entry_count_given = true;
      history_.RecordCount = static_cast<std::int32_t>(data_.EntryCount());
    } else if (aggregate_ && dense_) {
      AddWaitingCounts();
      const auto patterns = static_cast<std::size_t>(dense_patterns_);
      data_.entry_count.reserve(patterns);
      data_.entry_subgroup.reserve(patterns);
      data_.entry_cell.reserve(patterns);
      data_.entry_categories.reserve(patterns * static_cast<std::size_t>(data_.category_items) *
                                     static_cast<std::size_t>(data_.category_width));
      // The cells that received records, in the order of subgroup and cell.
      for (std::size_t g = 0; g < dense_counts_.size(); ++g) {
        const std::vector<double>& counts = dense_counts_[g];
        // The categories of each cell in turn, as a counter whose last variable runs fastest.
        const Membership& pattern = Pattern(model_, static_cast<int>(g));
        std::array<int, kVectorSize> categories{};
        for (std::size_t cell = 0; cell < counts.size(); ++cell) {
          if (counts[cell] > 0) {
            AppendEntry(model_, data_, counts[cell], static_cast<int>(g), static_cast<double>(cell),
                        categories.data());
          }
          for (int k = data_.category_items - 1; k >= 0; --k) {
            if (pattern[k] != 1) continue;
            if (++categories[k] < std::max(model_.Dimension[model_.FirstManifest() + k], 1)) break;
            categories[k] = 0;
          }
        }
      }
      std::vector<std::vector<double>>().swap(dense_counts_);
      history_.RecordFormat = false;
      data_.entry_count_given = true;
      history_.RecordCount = static_cast<std::int32_t>(data_.EntryCount());
    } else if (aggregate_) {
      // The patterns in the order of subgroup and cell, as they always were.
      std::vector<std::pair<std::pair<int, double>, double>> sorted(aggregated_.begin(),
                                                                    aggregated_.end());
      aggregated_.clear();
      std::sort(sorted.begin(), sorted.end());
      for (const auto& [key, count] : sorted) {
        AppendEntry(model_, data_, count, key.first, key.second);
      }
      history_.RecordFormat = false;
      data_.entry_count_given = true;
      history_.RecordCount = static_cast<std::int32_t>(data_.EntryCount());
    }
    if (latent_scratch_.IsOpen()) CloseTextFile(latent_scratch_);
    // One line each (a log line holds 80 characters), naming the first record.
    if (entries_before_grid_ > 0) {
      WriteLogLine(run_, "  Warning: " + std::to_string(entries_before_grid_) +
                             " entries moved to the first time boundary (first: record " +
                             RecordText(first_entry_before_grid_) + ")");
    }
    if (exits_after_grid_ > 0) {
      WriteLogLine(run_, "  Warning: " + std::to_string(exits_after_grid_) +
                             " episodes cut at the last time boundary (first: record " +
                             RecordText(first_exit_after_grid_) + ")");
    }
  }

 private:
  std::string RecordText(std::int64_t r) const { return std::to_string(r); }

  // Reads the skipped columns in front of the next field.
  void SkipColumns() {
    while (column_ <= kRecordColumns && history_.ColumnUsed[column_] == 0) {
      std::int32_t skipped = 0;
      if (!ReadSmallWhole(reader_, source_, skipped)) ReadReal(reader_, run_, source_);
      ++column_;
      ++fields_;
    }
  }

  std::int32_t ReadField() {
    std::int32_t value = 0;
    if (!ReadSmallWhole(reader_, source_, value)) value = ReadInteger(reader_, run_, source_);
    ++column_;
    ++fields_;
    SkipColumns();
    return value;
  }

  // ReadField for the first n fields of a record at once, for the common record: fields of
  // small whole numbers (as ReadSmallWhole takes them) in columns that are all read, and all in
  // the block the file holds. Reads them as n calls of ReadField would, into value, and returns
  // true; otherwise reads nothing and returns false.
  bool ReadPlainCategories(int n, std::array<std::int64_t, kVectorSize>& value) {
    if (n <= 0 || column_ != 1 || std::min(n, kRecordColumns) > leading_columns_used_) {
      return false;
    }
    const std::string_view held = source_.Held();
    const char* const begin = held.data();
    const char* const end = begin + held.size();
    const char* p = begin;
    const char* last_first = p;  // the first digit of the last field
    for (int k = 0; k < n; ++k) {
      while (p != end && static_cast<unsigned char>(*p) <= ' ') ++p;
      // Most often a single digit.
      if (end - p >= 2 && static_cast<unsigned char>(p[0] - '0') <= 9 &&
          static_cast<unsigned char>(p[1]) <= ' ') {
        value[k] = p[0] - '0';
        last_first = p;
        p += 2;
        continue;
      }
      const char* const first = p;
      const char* const limit = end - p > 10 ? p + 10 : end;
      std::int64_t number = 0;
      for (; p != limit && static_cast<unsigned char>(*p - '0') <= 9; ++p) {
        number = number * 10 + (*p - '0');
      }
      if (p == first || p == limit || static_cast<unsigned char>(*p) > ' ') return false;
      value[k] = number;
      last_first = first;
      ++p;  // the byte that ended it
    }
    source_.Advance(static_cast<std::size_t>(last_first - begin) + 1);
    source_.MarkWord();
    source_.Advance(static_cast<std::size_t>(p - last_first) - 1);
    reader_.word.assign(1, p[-1]);
    column_ += n;
    fields_ += n;
    SkipColumns();
    return true;
  }

  // A count, covariate value, time or number of events; digits beyond the range of a double
  // stop the run, as they do in a table.
  double ReadNumber() {
    if (table_ != nullptr) return TableNumber();
    ++fields_;
    std::int32_t whole = 0;
    if (ReadSmallWhole(reader_, source_, whole)) return whole;
    const double value = ReadReal(reader_, run_, source_);
    if (!std::isfinite(value)) {
      StopRun("  Error: number too large when reading " + reader_.command);
    }
    return value;
  }

  std::int32_t ReadState(std::int64_t r) {
    std::int32_t state = 0;
    if (table_ != nullptr) {
      const double value = TableNumber();
      if (value != std::floor(value) || std::fabs(value) > 2147483647.0) {
        StopRun("  Error in data: a state that is not a whole number in column " +
                table_->fields[field_ - 1].name + " in record " + RecordText(r));
      }
      state = static_cast<std::int32_t>(value);
    } else {
      ++fields_;
      if (!ReadSmallWhole(reader_, source_, state)) state = ReadInteger(reader_, run_, source_);
    }
    if (state > history_.StateCount - 1) {
      StopRun("  Error in data: state greater than number of states in record " + RecordText(r));
    }
    if (state < 0) StopRun("  Error in data: negative state in record " + RecordText(r));
    return state;
  }

  void ReadRecord(std::int64_t r, std::int64_t records, bool last) {
    const int subgroups = model_.SubgroupCount;
    const int manifest = std::min(model_.ManifestCount, kVectorSize);
    const int first = model_.FirstManifest();
    const bool subgroup_numbers = history_.MissingCode == kNoMissingCode;
    const std::int32_t code = history_.MissingCode;

    reader_.word.clear();
    column_ = 1;
    fields_ = 0;
    if (source_.AtEnd()) {
      source_.MarkEnd();  // the records ran out: an error at the end, which names no line
      StopRun("  Error: too few numbers encountered when reading " + reader_.command);
    }
    SkipColumns();

    // The subgroup number says which variables the record holds.
    const Membership* holds = nullptr;
    if (subgroup_numbers) {
      const std::int32_t given = ReadField();
      if (given > subgroups) {
        StopRun("  Error in data: subgroup greater than number of subgroups");
      }
      if (given < 1) StopRun("  Error in data: subgroup less than 1 in record " + RecordText(r));
      holds = &Pattern(model_, given - 1);
    }

    // The categories; the covariate's variable is the record number.
    std::array<std::int64_t, kVectorSize> value;
    std::fill_n(value.begin(), manifest, kNoMissingCode);
    const int read_count = covariates_ > 0 ? manifest - 1 : manifest;
    if (holds != nullptr || !ReadPlainCategories(read_count, value)) {
      for (int k = 0; k < read_count; ++k) {
        if (holds != nullptr && (*holds)[k] != 1) continue;
        value[k] = ReadField();
      }
    }
    if (covariates_ > 0 && manifest > 0) value[manifest - 1] = r;

    Membership observed{};
    for (int k = 0; k < manifest; ++k) {
      const int v = first + k;
      if (value[k] == code) continue;
      if (value[k] < 1 || v >= kVectorSize || value[k] > model_.Dimension[v]) {
        StopRun("  Error in data: an impossible category for variable " +
                model_.VariableLabel[v < kVectorSize ? v : 0] + " in record " + RecordText(r));
      }
      observed[k] = 1;
    }
    const int g = FindSubgroup(observed, manifest, r);
    const std::uint64_t cell = RecordCell(g, value, manifest);
    const double count = ReadRecordRest(r, records);

    if (last && inline_data_) {
      CloseInlineData(reader_, source_, true);
    } else if (fields_ == 0 || !LineEnded(source_)) {
      source_.SkipLine();
    }

    Store(g, cell, count);
  }

  // The next field of a record read from columns, which must hold a number.
  double TableNumber() {
    if (field_ >= table_->fields.size()) {
      StopRun("  Error in data: too few columns for record " + RecordText(row_ + 1));
    }
    const double value = table_->Value(field_, row_);
    if (std::isnan(value)) {
      StopRun("  Error in data: a missing or non-numeric value in column " +
              table_->fields[field_].name + " in record " + RecordText(row_ + 1));
    }
    if (std::isinf(value)) StopRun("  Error: number too large when reading " + reader_.command);
    ++field_;
    return value;
  }

  // Record r from the columns of a data file: the categories of its manifest variables (a
  // missing value is missing whatever the missing code), then the fields as a line of numbers
  // has them. Its subgroup is the one that observes what it holds.
  void ReadTableRecord(std::int64_t r, std::int64_t records) {
    const int manifest = std::min(model_.ManifestCount, kVectorSize);
    row_ = r - 1;
    field_ = 0;
    std::array<std::int64_t, kVectorSize> value;  // only the first `manifest` are read
    std::fill_n(value.begin(), manifest, 0);
    Membership observed{};
    for (int k = 0; k < table_->category_fields && k < manifest; ++k) {
      const double code = table_->Value(field_++, row_);
      if (std::isnan(code)) continue;
      value[k] = static_cast<std::int64_t>(code);
      observed[k] = 1;
    }
    if (covariates_ > 0 && manifest > 0) {
      value[manifest - 1] = r;
      observed[manifest - 1] = 1;
    }
    const int g = FindSubgroup(observed, manifest, r);
    const std::uint64_t cell = RecordCell(g, value, manifest);
    Store(g, cell, ReadRecordRest(r, records));
  }

  // The cell of a record of subgroup g with the categories value (from 1) in the subgroup's
  // table, the last variable running fastest; tables too large to number keep the categories
  // alone (categories_) and get 0. Numbered tables have fewer than 1E18 cells: the number is
  // exact in 64 bits.
  std::uint64_t RecordCell(int g, const std::array<std::int64_t, kVectorSize>& value,
                           int manifest) {
    const Membership& pattern = Pattern(model_, g);
    for (int k = 0; k < manifest; ++k) {
      categories_[k] = pattern[k] == 1 ? static_cast<int>(value[k] - 1) : 0;
    }
    if (!numbered_) return 0;
    // The sum of category times place value, whose terms do not wait for one another.
    const std::array<std::uint64_t, kVectorSize>& place = PlaceValues(g, manifest);
    std::uint64_t cell = 0;
    for (int k = 0; k < manifest; ++k) {
      cell += static_cast<std::uint64_t>(categories_[k]) * place[k];
    }
    return cell;
  }

  // The place value of each variable in the cell numbers of subgroup g's table: the product of
  // the numbers of categories of the variables it observes after it; 0 for those it does not
  // observe. Kept per subgroup once its pattern is known.
  const std::array<std::uint64_t, kVectorSize>& PlaceValues(int g, int manifest) {
    const auto at = static_cast<std::size_t>(g);
    if (at >= place_values_.size()) {
      place_values_.resize(at + 1);
      place_values_known_.resize(at + 1, false);
    }
    std::array<std::uint64_t, kVectorSize>& place = place_values_[at];
    if (place_values_known_[at]) return place;
    const Membership& pattern = Pattern(model_, g);
    std::uint64_t product = 1;
    for (int k = manifest - 1; k >= 0; --k) {
      place[k] = pattern[k] == 1 ? product : 0;
      if (pattern[k] == 1) {
        product *= static_cast<std::uint64_t>(model_.Dimension[model_.FirstManifest() + k]);
      }
    }
    place_values_known_[at] = true;
    return place;
  }

  // What follows the categories of record r: its covariates, its count (1 unless the records
  // carry one), which it returns, and the episodes of a hazard model.
  double ReadRecordRest(std::int64_t r, std::int64_t records) {
    for (int w = 0; w < covariates_; ++w) {
      data_.covariate_value[static_cast<std::size_t>(w * records + (r - 1))] = ReadNumber();
    }
    double count = 1;
    if (data_.entry_count_given) {
      count = ReadNumber();
      if (count < 0) {
        StopRun("  Error in data: count less than zero in record number " + RecordText(r));
      }
    }
    current_record_ = r;
    if (history_.HazardModel) ReadEpisodes(r);
    return count;
  }

  // The first subgroup that observes exactly the record's variables; with subgroups found
  // from the data a new one is made for a new pattern.
  int FindSubgroup(const Membership& observed, int manifest, std::int64_t r) {
    const bool found_from_data = model_.SubgroupsWithoutSub;
    const int known = found_from_data ? data_.found_subgroup_count : model_.SubgroupCount;
    for (int g = 0; g < known; ++g) {
      const Membership& pattern = Pattern(model_, g);
      // observed holds 0 and 1 only: equal bytes are the same pattern.
      bool same = true;
      for (int k = 0; k < manifest; ++k) same &= observed[k] == pattern[k];
      if (!same) {
        same = true;
        for (int k = 0; k < manifest && same; ++k) same = (pattern[k] == 1) == (observed[k] == 1);
      }
      if (same) return g;
    }
    if (!found_from_data) {
      StopRun("  Error in data: impossible missing data pattern in record: " + RecordText(r));
    }
    if (known >= model_.SubgroupCount || known >= static_cast<int>(model_.SubgroupPattern.size())) {
      StopRun("  Error: more missing data patterns than the specified maximum");
    }
    Membership& pattern = model_.SubgroupPattern[known];
    pattern.fill(0);
    for (int k = 0; k < manifest; ++k) pattern[k] = observed[k];
    ++data_.found_subgroup_count;
    return known;
  }

  // True when the record's line ends before its next field: the last number read ended it, or
  // only blanks follow on it, then the closing bracket of inline data or a comment.
  bool RecordLineEnds() {
    if (table_ != nullptr) {
      return field_ >= table_->fields.size() || std::isnan(table_->Value(field_, row_));
    }
    if (LineEnded(source_)) return true;
    if (reader_.word == "]") return true;
    while (source_.Peek() == ' ' || source_.Peek() == '\t') source_.Get();
    const int next = source_.Peek();
    return next == '\n' || next == '\r' || next == TextFile::kEnd || next == ']' || next == '*';
  }

  // Stops the run when the record's line ended in the middle of an episode.
  void ExpectMore(std::int64_t r) {
    if (RecordLineEnds()) {
      StopRun("  Error in data: record " + RecordText(r) + " ends in the middle of an episode");
    }
  }

  // A state from which some transition is modelled.
  // The event history of a record. Without mul (the episode form): from the entry (or the start
  // of the grid) a time and a state per episode until the state stays the same, the episode
  // slots are used up, or the line ends in a state that cannot be left or (without zer) after a
  // transition at or after the last time boundary, which leaves the new state no time at risk
  // in the grid (as it stands while the records are read). With mul, and in
  // single-spell mode, one episode per slot: its start with rt0, its end and the number written
  // for it (with mul the state reached, 0 for none; in single-spell mode its count of events).
  void ReadEpisodes(std::int64_t r) {
    std::vector<Episode> record(static_cast<std::size_t>(slots_));
    const double grid_start = history_.TimeValues.empty() ? 0 : history_.TimeValues.front();
    int used = 0;
    if (!history_.MultipleRisks && !history_.SingleSpell) {
      double previous = grid_start;
      std::int32_t state = 0;
      if (history_.EntryTimeGiven) {
        ExpectMore(r);
        previous = ReadNumber();
        ExpectMore(r);
        state = ReadState(r);
      }
      while (used < slots_) {
        const bool grid_ended = used > 0 && !history_.ZeroOption && !history_.TimeValues.empty() &&
                                previous >= history_.TimeValues.back();
        if (RecordLineEnds() && (!history_.CanBeLeft(state) || grid_ended)) break;
        ExpectMore(r);
        const double time = GridTime(history_, ReadNumber());
        ExpectMore(r);
        const std::int32_t next = ReadState(r);
        if (next != state && history_.RiskOf(state, next) == 0) {
          StopRun("  Error in data: a transition from state " + std::to_string(state) +
                  " to state " + std::to_string(next) + " is not in the model in record " +
                  RecordText(r));
        }
        Episode& episode = record[used++];
        episode.start_time = previous;
        episode.end_time = time;
        episode.origin = state;
        episode.destination = next;
        episode.event =
            next == state ? CensoredEvent(history_, state) : history_.RiskOf(state, next);
        CheckEpisodeTimes(episode, r);
        previous = time;
        if (next == state) break;
        state = next;
      }
    } else {
      for (; used < slots_; ++used) {
        Episode& episode = record[used];
        episode.start_time = grid_start;
        if (history_.EntryTimeGiven) {
          ExpectMore(r);
          episode.start_time = ReadNumber();
        }
        ExpectMore(r);
        episode.end_time = GridTime(history_, ReadNumber());
        ExpectMore(r);
        episode.origin = used;
        const std::int32_t risk = history_.RiskOf(used, used + 1);
        if (history_.SingleSpell) {
          const double events = ReadNumber();
          if (!(events >= 0) || events != std::floor(events)) {
            StopRun("  Error in data: impossible number of events in record " + RecordText(r));
          }
          episode.destination = static_cast<std::int32_t>(std::min(events, 2147483647.0));
          episode.weight = events >= 1 ? events : 1;
          episode.event = events >= 1 ? risk : CensoredEvent(history_, used);
        } else {
          const std::int32_t state = ReadState(r);
          episode.destination = state;
          episode.event = state >= 1 ? risk : CensoredEvent(history_, used);
        }
        if (episode.event == 0 && episode.destination >= 1) {
          StopRun("  Error in data: a transition from state " + std::to_string(used) +
                  " is not in the model in record " + RecordText(r));
        }
        CheckEpisodeTimes(episode, r);
      }
    }
    FitToGrid(record, used);
    data_.episodes.insert(data_.episodes.end(), record.begin(), record.end());
  }

  // An episode must end after it began.
  void CheckEpisodeTimes(const Episode& episode, std::int64_t r) const {
    if (episode.end_time < episode.start_time) {
      StopRun("  Error in data: an episode ends before it begins in record " + RecordText(r));
    }
    if (!(episode.end_time > episode.start_time)) {
      StopRun("  Error in data: an episode without exposure time in record " + RecordText(r));
    }
  }

  // Keeps the episodes inside the time grid: without given boundaries the grid grows to the
  // latest end; an episode that goes on after the end of the grid is cut there and loses its
  // event, and one that begins before the grid loses the time before it (both counted for a
  // warning). With zer every episode's clock starts at the beginning of the grid.
  void FitToGrid(std::vector<Episode>& record, int used) {
    std::vector<double>& grid = history_.TimeValues;
    if (grid.empty()) return;
    const double first = grid.front();
    if (history_.ZeroOption) {
      for (int e = 0; e < used; ++e) {
        record[e].end_time = first + (record[e].end_time - record[e].start_time);
        record[e].start_time = first;
      }
    }
    for (int e = 0; e < used; ++e) {
      // The end of the unit of the exit; never below the exit itself, whatever the rounding.
      const double end = std::max(record[e].end_time, record[e].end_time + 1 - history_.TimeOffset);
      if (history_.TrackMaximumTime && end > grid.back()) grid.back() = end;
    }
    const double last = grid.back();
    for (int e = 0; e < used; ++e) {
      Episode& episode = record[e];
      if (episode.end_time <= first) {
        StopRun("  Error in data: an episode ends before the first time boundary in record " +
                RecordText(current_record_));
      }
      if (episode.start_time < first) {
        episode.start_time = first;
        if (entries_before_grid_++ == 0) first_entry_before_grid_ = current_record_;
      }
      if (episode.start_time >= last) {
        StopRun("  Error in data: an episode begins after the last time boundary in record " +
                RecordText(current_record_));
      }
      if (episode.end_time > last) {
        episode.end_time = last;
        episode.event = CensoredEvent(history_, episode.origin);
        episode.weight = 1;
        if (exits_after_grid_++ == 0) first_exit_after_grid_ = current_record_;
      }
    }
  }

  void Store(int g, std::uint64_t cell, double count) {
    if (!aggregate_) {
      AppendEntry(model_, data_, count, g, static_cast<double>(cell), categories_.data());
      return;
    }
    if (latent_scratch_.IsOpen()) {
      char text[64];
      std::snprintf(text, sizeof text, "%d %llu", g, static_cast<unsigned long long>(cell));
      latent_scratch_.WriteLine(text);
    }
    if (!(count > 0)) return;
    if (table_ != nullptr) {
      pending_.push_back({g, static_cast<double>(cell), count});
      return;
    }
    if (dense_) {
      std::vector<double>& counts = dense_counts_[static_cast<std::size_t>(g)];
      if (counts.empty()) counts.assign(static_cast<std::size_t>(DenseCells(g)), 0.0);
      double* const sum = counts.data() + cell;
      __builtin_prefetch(sum, 1);
      waiting_sum_[waiting_] = sum;
      waiting_count_[waiting_] = count;
      if (++waiting_ == kWaiting) AddWaitingCounts();
      return;
    }
    const auto key = std::make_pair(g, static_cast<double>(cell));
    auto at = aggregated_.find(key);
    if (at != aggregated_.end()) {
      at->second += count;
      return;
    }
    run_.CheckMemory(static_cast<double>(aggregated_.size() + 1) * kAggregatedEntryBytes,
                     "  Error: array with data too big to fit in memory");
    aggregated_.emplace(key, count);
  }

  // Adds the waiting counts into their cells, in the order of their records.
  void AddWaitingCounts() {
    for (int i = 0; i < waiting_; ++i) {
      double& sum = *waiting_sum_[i];
      if (sum > 0) {
        sum += waiting_count_[i];
        continue;
      }
      // A cell's first record: counted against the budget as a hashed pattern is.
      run_.CheckMemory(static_cast<double>(dense_patterns_ + 1) * kAggregatedEntryBytes,
                       "  Error: array with data too big to fit in memory");
      ++dense_patterns_;
      sum = waiting_count_[i];
    }
    waiting_ = 0;
  }

  // The cells of subgroup g's table as records are numbered in it (RecordCell): the product
  // of the numbers of categories of the variables it observes; once no subgroup is known
  // (subgroups found from the data) the full table's.
  long double DenseCells(int g) const {
    const int manifest = std::min(model_.ManifestCount, kVectorSize);
    const bool known = !model_.SubgroupsWithoutSub || g < data_.found_subgroup_count;
    if (!known) return model_.ManifestCellCount;
    const Membership& pattern = Pattern(model_, g);
    long double cells = 1;
    for (int k = 0; k < manifest; ++k) {
      if (pattern[k] == 1) cells *= std::max(model_.Dimension[model_.FirstManifest() + k], 1);
    }
    return cells;
  }

  // Aggregated records are added up in a table of counts per subgroup (one double a cell, the
  // tables made as their subgroups' first records come) instead of a hash table of patterns,
  // when those tables have no more cells than a few per record, so that the pass over them at
  // the end is short, and fit in the memory budget together with a pattern entry for every
  // record. The per-pattern memory check stays as it is with hashing, and so, as both add
  // the counts of a cell in the order of the records, do the entries and their sums.
  void ChooseDenseCounts(std::int64_t records) {
    const int subgroups = std::max(model_.SubgroupCount, 1);
    long double cells = 0;
    for (int g = 0; g < subgroups; ++g) cells += DenseCells(g);
    const long double most = 4.0L * static_cast<long double>(records) + 65536.0L;
    const long double bytes =
        cells * sizeof(double) +
        std::min(cells, static_cast<long double>(records)) * kAggregatedEntryBytes;
    dense_ = cells <= most && bytes <= static_cast<long double>(run_.MemoryAvailable());
    if (dense_) dense_counts_.resize(static_cast<std::size_t>(subgroups));
  }

  Reader& reader_;
  DataRun& run_;
  ModelState& model_;
  EventHistoryState& history_;
  DataStore& data_;
  TextFile& source_;
  const bool inline_data_;
  // Records read from the columns of a data file: the table, the record (from 0) and the field
  // being read.
  const RecordColumns* table_ = nullptr;
  std::int64_t row_ = 0;
  std::size_t field_ = 0;
  bool numbered_ = true;
  bool aggregate_ = false;
  int covariates_ = 0;
  int slots_ = 0;
  int column_ = 1;
  int leading_columns_used_ = 0;  // columns 1 to this one are all read
  int fields_ = 0;
  std::int64_t current_record_ = 0;
  // Episodes moved into the time grid, for the warnings after the last record.
  std::int64_t entries_before_grid_ = 0;
  std::int64_t exits_after_grid_ = 0;
  std::int64_t first_entry_before_grid_ = 0;
  std::int64_t first_exit_after_grid_ = 0;
  // Aggregated records by (subgroup, cell): the store's order.
  // The records' counts per subgroup and cell, hashed; sorted once all are read.
  struct KeyHash {
    std::size_t operator()(const std::pair<int, double>& key) const {
      return std::hash<double>()(key.second) * 31 + static_cast<std::size_t>(key.first);
    }
  };
  std::unordered_map<std::pair<int, double>, double, KeyHash> aggregated_;
  // Or the counts per cell of each subgroup's table (0 for none), and the patterns among them.
  bool dense_ = false;
  std::vector<std::vector<double>> dense_counts_;
  std::int64_t dense_patterns_ = 0;
  // The counts of the latest records, waiting to be added while their cells are fetched (the
  // tables are larger than the caches, and the records' cells follow no order).
  static constexpr int kWaiting = 64;
  std::array<double*, kWaiting> waiting_sum_{};
  std::array<double, kWaiting> waiting_count_{};
  int waiting_ = 0;
  // Records from columns to aggregate, in record order.
  struct Pending {
    int subgroup;
    double cell;
    double count;
  };
  std::vector<Pending> pending_;
  std::array<int, kVectorSize> categories_{};                         // of the current record
  std::vector<std::array<std::uint64_t, kVectorSize>> place_values_;  // per subgroup
  std::vector<bool> place_values_known_;
  TextFile latent_scratch_;
};

// The totals of the counts; a total beyond kLargestTotalCount (or no number, after counts
// that overflowed as they were added up) stops the run.
void SetTotals(DataRun& run, const std::string& reading) {
  DataStore& data = run.data;
  data.subgroup_total.assign(static_cast<std::size_t>(std::max(run.model.SubgroupCount, 1)), 0);
  double all = 0;
  for (std::int64_t i = 0; i < data.EntryCount(); ++i) {
    const double count = data.entry_count_given ? data.entry_count[i] : 1;
    all += std::fabs(count);
    if (!(all <= kLargestTotalCount)) StopRun("  Error: number too large when reading " + reading);
    const std::int32_t g = data.entry_subgroup[i];
    if (g < 0 || g >= static_cast<std::int32_t>(data.subgroup_total.size())) continue;
    data.subgroup_total[g] += count;
  }
  data.total_count = 0;
  for (double total : data.subgroup_total) data.total_count += total;
}

// Empties the store and sets up the categories' layout for the data about to be read.
void StartData(DataRun& run) {
  DataStore& data = run.data;
  data.ClearEntries();
  data.covariate_value.clear();
  run.KeepMemory(MemoryUse::kData, 0);
  data.found_subgroup_count = 0;
  data.entry_categories.clear();
  data.category_items = std::clamp(run.model.ManifestCount, 0, kVectorSize);
  int largest = 1;
  for (int k = 0; k < data.category_items; ++k) {
    largest = std::max(largest, run.model.Dimension[run.model.FirstManifest() + k]);
  }
  data.category_width = largest <= 256 ? 1 : largest <= 65536 ? 2 : 4;
  data.entry_count_given = run.history.RecordCountGiven;
}

}  // namespace

void ReadRecordColumns(Reader& reader, DataRun& run, const RecordColumns& columns) {
  StartData(run);
  const std::string command = reader.command;
  reader.command = "data";
  TextFile none;
  RecordReader(reader, run, none, false, &columns).Read();
  reader.command = command;
  SetTotals(run, "data");
  run.KeepMemory(MemoryUse::kData, run.data.Bytes());
}

void ReadData(Reader& reader, DataRun& run, TextFile& source, bool inline_data) {
  DataStore& data = run.data;
  StartData(run);
  const std::string command = reader.command;
  if (run.history.RecordFormat) {
    reader.command = "data";
    RecordReader(reader, run, source, inline_data).Read();
    if (!inline_data) ExpectDataFileEnd(source, "more records than \"rec\" gives");
  } else {
    reader.command = "observed frequencies";
    TableReader(reader, run, source).Read();
    if (inline_data) {
      CloseInlineData(reader, source, false);
    } else {
      ExpectDataFileEnd(source, "more numbers than the table has cells");
    }
    run.history.RecordCount = static_cast<std::int32_t>(data.EntryCount());
  }
  const std::string reading = reader.command;
  reader.command = command;

  if (!run.history.RecordFormat) {
    // Table format: the entries are final; give back the room reserved beyond them.
    data.entry_count.shrink_to_fit();
    data.entry_subgroup.shrink_to_fit();
    data.entry_cell.shrink_to_fit();
    data.entry_categories.shrink_to_fit();
    data.episodes.shrink_to_fit();
  }
  SetTotals(run, reading);
  run.KeepMemory(MemoryUse::kData, data.Bytes());
}

}  // namespace tav
