#include "report/pair_tables.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "core/log.h"
#include "core/parallel.h"
#include "report/report_computations.h"

namespace tav {
namespace {

// Counts up to this total are whole numbers a double holds exactly, and so are their partial
// sums.
constexpr double kLargestExactTotal = 9007199254740992.0;  // 2^53
// Entries between two looks at a request to stop.
constexpr std::int64_t kCancelInterval = 4096;

int SubgroupOf(const ModelState& model, const DataStore& data, std::int64_t e) {
  const int s = data.entry_subgroup.empty() ? 0 : data.entry_subgroup[e];
  return std::clamp(s, 0, std::max(static_cast<int>(model.SubgroupPattern.size()) - 1, 0));
}

double EntryWeight(const DataStore& data, std::int64_t e) {
  return data.entry_count_given ? data.entry_count[e] : 1.0;
}

int Categories(const ModelState& model, int v) { return std::max(model.Dimension[v], 1); }

// What every pair needs to know of the subgroups: which manifest variables each observes.
class Subgroups {
 public:
  explicit Subgroups(const ModelState& model)
      : count_(static_cast<int>(model.SubgroupPattern.size())),
        first_(model.FirstManifest()),
        manifest_(std::max(model.VariableCount - first_, 0)),
        observes_(static_cast<std::size_t>(count_) * manifest_, 0) {
    for (int s = 0; s < count_; ++s) {
      for (int k = 0; k < manifest_; ++k) {
        observes_[static_cast<std::size_t>(s) * manifest_ + k] = model.SubgroupPattern[s][k] == 1;
      }
    }
  }
  int Count() const { return count_; }
  // Subgroup s observes variable v (a variable number).
  bool Observes(int s, int v) const {
    return s < count_ && observes_[static_cast<std::size_t>(s) * manifest_ + (v - first_)] != 0;
  }
  bool ObservesBoth(int s, int a, int b) const { return Observes(s, a) && Observes(s, b); }
  // Per manifest variable (from the first, 0 .. ), whether subgroup s observes it.
  const char* Row(int s) const {
    return observes_.data() + static_cast<std::size_t>(s) * manifest_;
  }

 private:
  int count_;
  int first_;
  int manifest_;
  std::vector<char> observes_;
};

// The counts of the entries: whether they are whole numbers >= 0 of an exact total, and the
// binary digits they need (0 when every count is 1).
struct CountDigits {
  bool exact = true;
  int digits = 0;
};

CountDigits DigitsOfCounts(const DataStore& data) {
  CountDigits result;
  if (!data.entry_count_given) return result;
  double total = 0;
  double largest = 0;
  bool all_one = true;
  for (std::int64_t e = 0; e < data.EntryCount(); ++e) {
    const double w = EntryWeight(data, e);
    total += w;
    if (!(w >= 0) || !(total <= kLargestExactTotal) ||
        w != static_cast<double>(static_cast<std::uint64_t>(w))) {
      result.exact = false;
      return result;
    }
    largest = std::max(largest, w);
    all_one = all_one && w == 1;
  }
  if (!all_one) result.digits = std::bit_width(static_cast<std::uint64_t>(largest));
  return result;
}

// The set bits that a and b (and mask, when given) have in common over `words` words.
// Bits are counted in parallel within each word (two, four, then eight bits at a time), and the
// bytes' counts added over up to 31 words before they are added up.
template <bool kMasked>
std::uint64_t CommonBits(const std::uint64_t* a, const std::uint64_t* b, const std::uint64_t* mask,
                         std::size_t words) {
  constexpr std::uint64_t k1 = 0x5555555555555555ULL;
  constexpr std::uint64_t k2 = 0x3333333333333333ULL;
  constexpr std::uint64_t k4 = 0x0f0f0f0f0f0f0f0fULL;
  constexpr std::uint64_t k8 = 0x00ff00ff00ff00ffULL;
  constexpr std::size_t kWordsPerRound = 31;  // a byte's count stays below 256
  std::uint64_t total = 0;
  for (std::size_t at = 0; at < words; at += kWordsPerRound) {
    const std::size_t end = std::min(words, at + kWordsPerRound);
    std::uint64_t bytes = 0;
    for (std::size_t w = at; w < end; ++w) {
      std::uint64_t x = a[w] & b[w];
      if constexpr (kMasked) x &= mask[w];
      x -= (x >> 1) & k1;
      x = (x & k2) + ((x >> 2) & k2);
      x = (x + (x >> 4)) & k4;
      bytes += x;
    }
    const std::uint64_t halves = (bytes & k8) + ((bytes >> 8) & k8);
    total += (halves * 0x0001000100010001ULL) >> 48;
  }
  return total;
}

// The bit sets of the counting by bit sets (see the header).
class EntryBitSets {
 public:
  EntryBitSets(const RunState& run, const Subgroups& subgroups, const std::vector<int>& variables,
               int digits)
      : run_(run),
        subgroups_(subgroups),
        variables_(variables),
        digits_(digits),
        words_(static_cast<std::size_t>((run.data.EntryCount() + 63) / 64)) {
    const ModelState& model = run.model;
    slot_.assign(static_cast<std::size_t>(model.VariableCount), -1);
    std::size_t sets = 0;
    for (std::size_t k = 0; k < variables_.size(); ++k) {
      const int v = variables_[k];
      slot_[v] = static_cast<int>(k);
      set_start_.push_back(sets);
      category_start_.push_back(categories_);
      sets += static_cast<std::size_t>(Categories(model, v) - 1);
      categories_ += static_cast<std::size_t>(Categories(model, v));
    }
    sets_ = sets;
  }

  // The memory the sets and the subgroups' totals take.
  double Bytes() const {
    return (static_cast<double>(sets_ + digits_) * static_cast<double>(words_) +
            static_cast<double>(categories_) * std::max(subgroups_.Count(), 1)) *
           sizeof(std::uint64_t);
  }

  // Fills the sets and totals in one pass over the entries per block of variables; false when
  // an entry holds a category beyond its variable's.
  bool Fill(int threads) {
    const RunState& run = run_;
    const ModelState& model = run.model;
    const DataStore& data = run.data;
    const std::int64_t entries = data.EntryCount();
    bits_.assign((sets_ + digits_) * words_, 0);
    totals_.assign(categories_ * std::max(subgroups_.Count(), 1), 0);
    for (int d = 0; d < digits_; ++d) {
      std::uint64_t* digit = DigitSet(d);
      for (std::int64_t e = 0; e < entries; ++e) {
        const auto w = static_cast<std::uint64_t>(EntryWeight(data, e));
        digit[e >> 6] |= (w >> d & 1) << (e & 63);
      }
    }
    const int count = static_cast<int>(variables_.size());
    if (count == 0) return true;
    const int blocks = std::max(1, std::min(threads, count));
    std::vector<char> beyond(static_cast<std::size_t>(blocks), 0);
    const int first = model.FirstManifest();
    // Per variable: its place among the stored categories, its categories, and where the sets
    // of its categories from the second on begin (one set earlier: category c's is c - 1).
    std::vector<int> column(static_cast<std::size_t>(count));
    std::vector<int> size(static_cast<std::size_t>(count));
    std::vector<std::size_t> sets(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
      column[k] = variables_[k] - first;
      size[k] = Categories(model, variables_[k]);
      sets[k] = set_start_[k] - 1;
    }
    const std::size_t stride = static_cast<std::size_t>(data.category_items) * data.category_width;
    ParallelFor(blocks, threads, [&](int block, int worker) {
      const int begin = static_cast<int>(static_cast<std::int64_t>(count) * block / blocks);
      const int end = static_cast<int>(static_cast<std::int64_t>(count) * (block + 1) / blocks);
      // The block's sets are consecutive; the word of 64 entries under way is set in a copy of
      // its own (the sets' words lie a page or more apart) and stored when complete.
      const std::size_t first_set = set_start_[begin];
      const std::size_t last_set = end < count ? set_start_[end] : sets_;
      std::vector<std::uint64_t> local(last_set - first_set + 1, 0);
      for (std::int64_t e = 0; e < entries; ++e) {
        if (e % kCancelInterval == 0) CheckCancel(run.context, worker);
        const int s = SubgroupOf(model, data, e);
        const auto w = static_cast<std::uint64_t>(EntryWeight(data, e));
        const std::uint64_t bit = std::uint64_t{1} << (e & 63);
        const std::uint8_t* row =
            data.entry_categories.data() + static_cast<std::size_t>(e) * stride;
        std::uint64_t* totals = totals_.data() + static_cast<std::size_t>(s) * categories_;
        for (int k = begin; k < end; ++k) {
          if (!subgroups_.Observes(s, variables_[k])) continue;
          int c = 0;
          if (data.category_width == 1) {
            c = row[column[k]];
          } else {
            c = data.EntryCategory(e, column[k]);
          }
          if (c >= size[k]) {
            beyond[block] = 1;
            continue;
          }
          totals[category_start_[k] + c] += w;
          // Without a branch on the category, which follows no pattern: the first category sets
          // no bit (in the second's set, or one past the block's last set).
          local[sets[k] + static_cast<std::size_t>(std::max(c, 1)) - first_set] |=
              bit & (0 - static_cast<std::uint64_t>(c > 0));
        }
        if ((e & 63) == 63 || e + 1 == entries) {
          const std::size_t word = static_cast<std::size_t>(e >> 6);
          for (std::size_t set = first_set; set < last_set; ++set) {
            bits_[set * words_ + word] = local[set - first_set];
            local[set - first_set] = 0;
          }
        }
      }
    });
    return std::find(beyond.begin(), beyond.end(), 1) == beyond.end();
  }

  // The observed table of the pair (a, b), both among the variables of the sets.
  void Count(int a, int b, std::vector<double>& observed) const {
    const ModelState& model = run_.model;
    const int rows = Categories(model, a);
    const int columns = Categories(model, b);
    const auto cells = static_cast<std::size_t>(rows) * columns;
    std::vector<std::uint64_t> n(cells, 0);
    for (int i = 1; i < rows; ++i) {
      const std::uint64_t* in_a = CategorySet(a, i);
      for (int j = 1; j < columns; ++j) {
        const std::uint64_t* in_b = CategorySet(b, j);
        std::uint64_t sum = 0;
        if (digits_ == 0) {
          sum = CommonBits<false>(in_a, in_b, nullptr, words_);
        } else {
          for (int d = 0; d < digits_; ++d) {
            sum += CommonBits<true>(in_a, in_b, DigitSet(d), words_) << d;
          }
        }
        n[static_cast<std::size_t>(i) * columns + j] = sum;
      }
    }
    // The first row and column from the totals of the subgroups that observe both.
    std::vector<std::uint64_t> row_totals(static_cast<std::size_t>(rows), 0);
    std::vector<std::uint64_t> column_totals(static_cast<std::size_t>(columns), 0);
    for (int s = 0; s < subgroups_.Count(); ++s) {
      if (!subgroups_.ObservesBoth(s, a, b)) continue;
      const std::uint64_t* of_a = Totals(s, a);
      const std::uint64_t* of_b = Totals(s, b);
      for (int i = 0; i < rows; ++i) row_totals[i] += of_a[i];
      for (int j = 0; j < columns; ++j) column_totals[j] += of_b[j];
    }
    for (int i = 1; i < rows; ++i) {
      std::uint64_t rest = row_totals[i];
      for (int j = 1; j < columns; ++j) rest -= n[static_cast<std::size_t>(i) * columns + j];
      n[static_cast<std::size_t>(i) * columns] = rest;
    }
    std::uint64_t first_row = row_totals[0];
    for (int j = 1; j < columns; ++j) {
      std::uint64_t rest = column_totals[j];
      for (int i = 1; i < rows; ++i) rest -= n[static_cast<std::size_t>(i) * columns + j];
      n[j] = rest;
      first_row -= rest;
    }
    n[0] = first_row;
    observed.resize(cells);
    for (std::size_t c = 0; c < cells; ++c) observed[c] = static_cast<double>(n[c]);
  }

 private:
  const std::uint64_t* CategorySet(int v, int category) const {
    return bits_.data() + (set_start_[slot_[v]] + category - 1) * words_;
  }
  std::uint64_t* DigitSet(int d) { return bits_.data() + (sets_ + d) * words_; }
  const std::uint64_t* DigitSet(int d) const { return bits_.data() + (sets_ + d) * words_; }
  const std::uint64_t* Totals(int s, int v) const {
    return totals_.data() + static_cast<std::size_t>(s) * categories_ + category_start_[slot_[v]];
  }

  const RunState& run_;
  const Subgroups& subgroups_;
  std::vector<int> variables_;
  int digits_;
  std::size_t words_;
  std::vector<int> slot_;                    // per variable number, its place in variables_
  std::vector<std::size_t> set_start_;       // per variable, its first set
  std::vector<std::size_t> category_start_;  // per variable, its first total of a subgroup
  std::size_t sets_ = 0;
  std::size_t categories_ = 0;
  std::vector<std::uint64_t> bits_;    // the category sets, then the digit sets
  std::vector<std::uint64_t> totals_;  // per subgroup, per variable and category
};

// The observed tables of the listed pairs by passes over the entries in their order.
void CountInOrder(const RunState& run, const Subgroups& subgroups, const std::vector<int>& listed,
                  std::vector<PairTable>& tables, int threads) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  const int count = static_cast<int>(listed.size());
  if (count == 0) return;
  const int first = model.FirstManifest();
  const std::int64_t entries = data.EntryCount();
  // Per pair: the places of its variables among the stored categories, and its table.
  struct Place {
    int a;
    int b;
    int rows;
    int columns;
    double* cells;
  };
  std::vector<Place> places;
  for (int p : listed) {
    PairTable& table = tables[p];
    places.push_back({table.first - first, table.second - first, table.rows, table.columns,
                      table.observed.data()});
  }
  const int blocks = std::max(1, std::min(threads, count));
  ParallelFor(blocks, threads, [&](int block, int worker) {
    const int begin = static_cast<int>(static_cast<std::int64_t>(count) * block / blocks);
    const int end = static_cast<int>(static_cast<std::int64_t>(count) * (block + 1) / blocks);
    std::vector<int> category(static_cast<std::size_t>(data.category_items));
    for (std::int64_t e = 0; e < entries; ++e) {
      if (e % kCancelInterval == 0) CheckCancel(run.context, worker);
      const char* seen = subgroups.Row(SubgroupOf(model, data, e));
      const double w = EntryWeight(data, e);
      for (int k = 0; k < data.category_items; ++k) category[k] = data.EntryCategory(e, k);
      for (int p = begin; p < end; ++p) {
        const Place& pair = places[p];
        if (!seen[pair.a] || !seen[pair.b]) continue;
        const int i = category[pair.a];
        const int j = category[pair.b];
        if (i < pair.rows && j < pair.columns) {
          pair.cells[static_cast<std::size_t>(i) * pair.columns + j] += w;
        }
      }
    }
  });
}

// The observed tables of every pair.
void CountObserved(const RunState& run, const Subgroups& subgroups, std::vector<PairTable>& tables,
                   int threads) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  const int first = model.FirstManifest();
  // The pairs whose variables have stored categories.
  std::vector<int> counted;
  for (int p = 0; p < static_cast<int>(tables.size()); ++p) {
    const int a = tables[p].first - first;
    const int b = tables[p].second - first;
    if (a >= 0 && b >= 0 && a < data.category_items && b < data.category_items)
      counted.push_back(p);
  }
  if (counted.empty() || data.EntryCount() == 0 || subgroups.Count() == 0) return;

  std::vector<int> by_bits;
  std::vector<int> in_order;
  const CountDigits digits = DigitsOfCounts(data);
  for (int p : counted) {
    const double inner = static_cast<double>(tables[p].rows - 1) * (tables[p].columns - 1) *
                         std::max(digits.digits, 1);
    (digits.exact && inner <= kLargestBitSetCells ? by_bits : in_order).push_back(p);
  }
  if (!by_bits.empty()) {
    std::vector<char> used(static_cast<std::size_t>(model.VariableCount), 0);
    for (int p : by_bits) used[tables[p].first] = used[tables[p].second] = 1;
    std::vector<int> variables;
    for (int v = 0; v < model.VariableCount; ++v) {
      if (used[v]) variables.push_back(v);
    }
    EntryBitSets sets(run, subgroups, variables, digits.digits);
    bool filled = false;
    if (sets.Bytes() <= run.context.MemoryAvailable()) {
      const MemoryReservation reserved(run.context, sets.Bytes());
      filled = sets.Fill(threads);
      if (filled) {
        ParallelFor(static_cast<int>(by_bits.size()), threads, [&](int k, int worker) {
          if (k % 64 == 0) CheckCancel(run.context, worker);
          PairTable& table = tables[by_bits[k]];
          sets.Count(table.first, table.second, table.observed);
        });
      }
    }
    if (!filled) in_order.insert(in_order.end(), by_bits.begin(), by_bits.end());
  }
  std::sort(in_order.begin(), in_order.end());
  CountInOrder(run, subgroups, in_order, tables, threads);
}

}  // namespace

std::vector<PairTable> PairTables(const RunState& run, const std::vector<VariablePair>& pairs) {
  const ModelState& model = run.model;
  const Subgroups subgroups(model);
  std::vector<PairTable> tables(pairs.size());
  for (std::size_t p = 0; p < pairs.size(); ++p) {
    PairTable& table = tables[p];
    table.first = pairs[p].first;
    table.second = pairs[p].second;
    table.rows = Categories(model, table.first);
    table.columns = Categories(model, table.second);
    const auto size = static_cast<std::size_t>(table.rows) * table.columns;
    table.observed.assign(size, 0.0);
    table.expected.assign(size, 0.0);
  }
  const int threads = ThreadCount(run.Threads());
  CountObserved(run, subgroups, tables, threads);

  ParallelFor(static_cast<int>(tables.size()), threads, [&](int p, int worker) {
    CheckCancel(run.context, worker);
    PairTable& table = tables[p];
    Membership marks{};
    marks[table.first] = 1;
    marks[table.second] = 1;
    const Membership pattern = MarginPattern(model, marks);
    for (int s = 0; s < subgroups.Count(); ++s) {
      if (!subgroups.ObservesBoth(s, table.first, table.second)) continue;
      ++table.subgroups;
      const std::vector<double> expected = EstimatedPatternTable(run, s, pattern);
      for (std::size_t c = 0; c < table.expected.size() && c < expected.size(); ++c) {
        table.expected[c] += expected[c];
      }
    }
  });
  return tables;
}

PairTable BivariateTable(const RunState& run, int first, int second) {
  return PairTables(run, {{first, second}}).front();
}

}  // namespace tav
