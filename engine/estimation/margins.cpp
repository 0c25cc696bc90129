#include "estimation/margins.h"

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "core/parallel.h"

namespace tav {
namespace {

// Tables of fewer cells are walked on one thread: starting threads would cost more.
constexpr std::int64_t kParallelCells = std::int64_t{1} << 20;
// The cells scaled and then added while they are in the cache: tiles of about kTileCells when
// the margin's inner run is in it, groups of whole runs otherwise; runs longer than kLongRun
// are added a slice of kSliceCells at a time and not scaled on the way (the separate passes
// read the table in fewer streams).
constexpr std::int64_t kTileCells = 4096;
constexpr std::int64_t kLongRun = 8192;
constexpr std::int64_t kSliceCells = 512;
// The cells of a thread's share of a stretch of the table: at least kShareCells; lanes shared by
// the threads: at least kShareLanes each.
constexpr std::int64_t kShareCells = 512;
constexpr std::int64_t kShareLanes = 64;
// Margin cells summed side by side. Each sum adds its cells in order, one after the other, so
// a single sum waits for every addition to finish; several sums keep the adder busy.
constexpr int kMaxSums = 16;
constexpr int kSumGroup = 8;

// sums[g] += the first len values of v + g * stride, in order, for g < kSums.
template <int kSums>
void AddRuns(const double* v, std::int64_t stride, std::int64_t len, double* sums) {
  std::array<double, kSums> s;
  for (int g = 0; g < kSums; ++g) s[g] = sums[g];
  for (std::int64_t k = 0; k < len; ++k) {
    for (int g = 0; g < kSums; ++g) s[g] += v[g * stride + k];
  }
  for (int g = 0; g < kSums; ++g) sums[g] = s[g];
}

// sums[k] += v[step * stride + k] for every step < steps, in step order, for k < kLanes.
template <int kLanes>
void AddLanes(const double* v, std::int64_t stride, std::int64_t steps, double* sums) {
  std::array<double, kLanes> s;
  for (int k = 0; k < kLanes; ++k) s[k] = sums[k];
  for (std::int64_t step = 0; step < steps; ++step, v += stride) {
    for (int k = 0; k < kLanes; ++k) s[k] += v[k];
  }
  for (int k = 0; k < kLanes; ++k) sums[k] = s[k];
}

using AddFunction = void (*)(const double*, std::int64_t, std::int64_t, double*);

template <std::size_t... kI>
constexpr std::array<AddFunction, sizeof...(kI)> RunAdders(std::index_sequence<kI...>) {
  return {&AddRuns<static_cast<int>(kI) + 1>...};
}
template <std::size_t... kI>
constexpr std::array<AddFunction, sizeof...(kI)> LaneAdders(std::index_sequence<kI...>) {
  return {&AddLanes<static_cast<int>(kI) + 1>...};
}
constexpr auto kRunAdders = RunAdders(std::make_index_sequence<kMaxSums>());
constexpr auto kLaneAdders = LaneAdders(std::make_index_sequence<kMaxSums>());

// The lanes of a run wider than kMaxSums.
void AddWideLanes(const double* v, std::int64_t stride, std::int64_t steps, std::int64_t lanes,
                  double* sums) {
  for (std::int64_t step = 0; step < steps; ++step, v += stride) {
    for (std::int64_t k = 0; k < lanes; ++k) sums[k] += v[k];
  }
}

// The sums side by side of middle steps first .. last - 1: groups of kSumGroup, the last group
// taking what is left (at most kMaxSums).
std::int64_t GroupSize(std::int64_t m, std::int64_t last) {
  return last - m <= kMaxSums ? last - m : kSumGroup;
}

}  // namespace

class MarginShape::Cursor {
 public:
  Cursor(const MarginShape& shape, const double* source, const double* factor, double* target)
      : s_(shape),
        source_(source),
        factor_(factor),
        target_(target),
        category_(shape.outer_count_, 0) {}

  // Scales cells at .. at + n - 1.
  void Scale(std::int64_t at, std::int64_t n) {
    if (at != at_) Seek(at);
    const std::int64_t inner = s_.inner_;
    while (n > 0) {
      const double* source = source_ + at;
      double* target = target_ + at;
      std::int64_t len = 0;
      if (k_ == 0 && n >= inner) {
        // Whole runs of the block.
        const std::int64_t runs = std::min(n / inner, s_.middle_ - m_);
        for (std::int64_t r = 0; r < runs; ++r, source += inner, target += inner) {
          if (s_.inner_in_margin_) {
            const double* factor = factor_ + first_;
            for (std::int64_t j = 0; j < inner; ++j) target[j] = source[j] * factor[j];
          } else {
            const double factor = factor_[first_ + m_ + r];
            for (std::int64_t j = 0; j < inner; ++j) target[j] = source[j] * factor;
          }
        }
        len = runs * inner;
        m_ += runs;
      } else {
        len = std::min(n, inner - k_);
        if (s_.inner_in_margin_) {
          const double* factor = factor_ + first_ + k_;
          for (std::int64_t j = 0; j < len; ++j) target[j] = source[j] * factor[j];
        } else {
          const double factor = factor_[first_ + m_];
          for (std::int64_t j = 0; j < len; ++j) target[j] = source[j] * factor;
        }
        k_ += len;
        if (k_ == inner) {
          k_ = 0;
          ++m_;
        }
      }
      if (m_ == s_.middle_) {
        m_ = 0;
        NextBlock();
      }
      at += len;
      n -= len;
    }
    at_ = at;
  }

 private:
  void Seek(std::int64_t at) {
    const std::int64_t run = at / s_.inner_;
    k_ = at % s_.inner_;
    m_ = run % s_.middle_;
    std::int64_t block = run / s_.middle_;
    first_ = 0;
    for (int i = s_.outer_count_ - 1; i >= 0; --i) {
      category_[i] = static_cast<int>(block % s_.dims_[i]);
      block /= s_.dims_[i];
      first_ += category_[i] * s_.strides_[i];
    }
    at_ = at;
  }

  void NextBlock() {
    for (int i = s_.outer_count_ - 1; i >= 0; --i) {
      if (++category_[i] < s_.dims_[i]) {
        first_ += s_.strides_[i];
        return;
      }
      category_[i] = 0;
      first_ -= s_.strides_[i] * (s_.dims_[i] - 1);
    }
  }

  const MarginShape& s_;
  const double* source_;
  const double* factor_;
  double* target_;
  std::vector<int> category_;  // of the outer variables, in the block of the next cell
  std::int64_t at_ = -1;       // the next cell, where the cursor stands
  std::int64_t k_ = 0;         // its place in its inner run
  std::int64_t m_ = 0;         // its middle step
  std::int64_t first_ = 0;     // its block's first margin cell
};

MarginShape::MarginShape(const ModelState& model, const Submodel& submodel,
                         const Membership& margin) {
  std::vector<int> in_margin;
  for (int v = 0; v < kVectorSize; ++v) {
    if (submodel.SubmodelVariables[v] == 0) continue;
    dims_.push_back(std::max(model.Dimension[v], 1));
    in_margin.push_back(margin[v] != 0 ? 1 : 0);
  }
  const int m = static_cast<int>(dims_.size());
  strides_.assign(m, 0);
  std::int64_t stride = 1;
  for (int i = m - 1; i >= 0; --i) {
    cells_ *= dims_[i];
    if (in_margin[i] != 0) {
      strides_[i] = stride;
      stride *= dims_[i];
    }
  }
  margin_cells_ = stride;

  // The inner run, then the middle run of the other membership.
  int i = m - 1;
  if (m > 0) inner_in_margin_ = in_margin[m - 1] != 0;
  for (; i >= 0 && (in_margin[i] != 0) == inner_in_margin_; --i) inner_ *= dims_[i];
  for (; i >= 0 && (in_margin[i] != 0) != inner_in_margin_; --i) middle_ *= dims_[i];
  outer_count_ = i + 1;
  for (int j = 0; j < outer_count_; ++j) {
    if (split_ < 0 && in_margin[j] != 0 && dims_[j] > 1) {
      split_ = j;
    } else if (split_ < 0) {
      split_prefixes_ *= dims_[j];
    } else {
      split_blocks_ *= dims_[j];
    }
  }
}

void MarginShape::AddBlocks(Cursor* scaler, const double* values, double* margin, std::int64_t from,
                            std::int64_t to, std::int64_t first, std::int64_t last) const {
  const std::int64_t inner = inner_;
  const std::int64_t block = middle_ * inner;
  // The odometer of the outer variables, at block `from`.
  std::vector<int> category(outer_count_, 0);
  std::int64_t margin_first = 0;
  std::int64_t b = from;
  for (int i = outer_count_ - 1; i >= 0; --i) {
    category[i] = static_cast<int>(b % dims_[i]);
    b /= dims_[i];
    margin_first += category[i] * strides_[i];
  }
  for (std::int64_t blk = from; blk < to; ++blk) {
    const std::int64_t cell = blk * block;
    if (inner_in_margin_) {
      // Lanes first .. last - 1 of every middle step; tiles of whole steps where the lanes are
      // the whole run, else a slice of lanes at a time.
      const std::int64_t lanes = last - first;
      const std::int64_t slice = std::min(lanes, kTileCells);
      const std::int64_t steps = lanes == inner ? std::max<std::int64_t>(1, kTileCells / inner) : 1;
      for (std::int64_t m = 0; m < middle_; m += steps) {
        const std::int64_t n = std::min(steps, middle_ - m);
        for (std::int64_t k = first; k < last; k += slice) {
          const std::int64_t len = std::min(slice, last - k);
          const std::int64_t at = cell + m * inner + k;
          if (scaler != nullptr) {
            if (len == inner) {
              scaler->Scale(at, n * inner);
            } else {
              for (std::int64_t j = 0; j < n; ++j) scaler->Scale(at + j * inner, len);
            }
          }
          double* sums = margin + margin_first + k;
          if (len <= kMaxSums) {
            kLaneAdders[len - 1](values + at, inner, n, sums);
          } else {
            AddWideLanes(values + at, inner, n, len, sums);
          }
        }
      }
    } else {
      // Middle steps first .. last - 1, each summing its inner run into one margin cell: whole
      // runs where they are short, else a slice of every run of the group at a time.
      for (std::int64_t m = first; m < last;) {
        const std::int64_t g = GroupSize(m, last);
        const std::int64_t at = cell + m * inner;
        double* sums = margin + margin_first + m;
        if (inner <= kLongRun) {
          if (scaler != nullptr) scaler->Scale(at, g * inner);
          kRunAdders[g - 1](values + at, inner, inner, sums);
        } else {
          for (std::int64_t k = 0; k < inner; k += kSliceCells) {
            kRunAdders[g - 1](values + at + k, inner, std::min(kSliceCells, inner - k), sums);
          }
        }
        m += g;
      }
    }
    for (int i = outer_count_ - 1; i >= 0; --i) {
      if (++category[i] < dims_[i]) {
        margin_first += strides_[i];
        break;
      }
      category[i] = 0;
      margin_first -= strides_[i] * (dims_[i] - 1);
    }
  }
}

void MarginShape::Pass(const MarginShape* scaler, const double* source, const double* factor,
                       double* target, const double* values, double* margin, int threads) const {
  std::fill(margin, margin + margin_cells_, 0.0);
  const std::int64_t blocks = cells_ / (middle_ * inner_);
  const std::int64_t lanes = inner_in_margin_ ? inner_ : middle_;
  const int workers = cells_ >= kParallelCells ? std::max(1, threads) : 1;
  if (scaler != nullptr && !inner_in_margin_ && inner_ > kLongRun) {
    scaler->Scale(source, factor, target, workers);
    scaler = nullptr;
  }
  // The ways to share the work whose numbers do not depend on the threads: the categories of
  // the split variable (each thread reads its own stretches of the table), or the middle steps
  // of every block, or the lanes of every block, each where a thread's share of a block is long
  // enough that the threads do not read the same cache lines much. Else one thread.
  std::int64_t parts = 1;
  enum class Share { kCategories, kSteps } share = Share::kSteps;
  const std::int64_t block = middle_ * inner_;
  if (workers == 1) {
    // One thread walks the whole table.
  } else if (split_ >= 0 && split_blocks_ * block * dims_[split_] / workers >= kShareCells) {
    parts = std::min<std::int64_t>(workers, dims_[split_]);
    share = Share::kCategories;
  } else if (inner_in_margin_ ? inner_ / workers >= kShareLanes : block / workers >= kShareCells) {
    parts = std::min<std::int64_t>(workers, lanes);
    if (scaler != nullptr && inner_in_margin_) {
      // A thread's lanes are not one stretch of cells.
      scaler->Scale(source, factor, target, workers);
      scaler = nullptr;
    }
  }
  ParallelFor(static_cast<int>(parts), static_cast<int>(parts), [&](int t, int) {
    std::unique_ptr<Cursor> cursor;
    if (scaler != nullptr) cursor = std::make_unique<Cursor>(*scaler, source, factor, target);
    if (share == Share::kSteps) {
      AddBlocks(cursor.get(), values, margin, 0, blocks, lanes * t / parts,
                lanes * (t + 1) / parts);
      return;
    }
    const std::int64_t categories = dims_[split_];
    const std::int64_t first = categories * t / parts;
    const std::int64_t last = categories * (t + 1) / parts;
    for (std::int64_t p = 0; p < split_prefixes_; ++p) {
      const std::int64_t from = (p * categories + first) * split_blocks_;
      AddBlocks(cursor.get(), values, margin, from, from + (last - first) * split_blocks_, 0,
                lanes);
    }
  });
}

void MarginShape::MarginOf(const double* table, double* margin, int threads) const {
  Pass(nullptr, nullptr, nullptr, nullptr, table, margin, threads);
}

void MarginShape::ScaleThenMarginOf(const double* source, const double* factor, double* target,
                                    const MarginShape& next, double* next_margin,
                                    int threads) const {
  next.Pass(this, source, factor, target, target, next_margin, threads);
}

void MarginShape::Scale(const double* source, const double* factor, double* target,
                        int threads) const {
  const int workers =
      cells_ >= kParallelCells ? static_cast<int>(std::min<std::int64_t>(threads, 64)) : 1;
  if (workers <= 1) {
    Cursor(*this, source, factor, target).Scale(0, cells_);
    return;
  }
  ParallelFor(workers, workers, [&](int t, int) {
    const std::int64_t from = cells_ * t / workers;
    const std::int64_t to = cells_ * (t + 1) / workers;
    Cursor(*this, source, factor, target).Scale(from, to - from);
  });
}

std::int64_t CellIndex(const ModelState& model, const Membership& vars, const int* category) {
  std::int64_t index = 0;
  for (int v = 0; v < kVectorSize; ++v) {
    if (vars[v] != 0) index = index * model.Dimension[v] + category[v];
  }
  return index;
}

}  // namespace tav
