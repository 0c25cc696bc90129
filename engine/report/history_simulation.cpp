#include "report/history_simulation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/stop_run.h"
#include "estimation/hazard_model.h"
#include "report/record_fields.h"
#include "report/report_computations.h"

namespace tav {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
// Counts of events (rsu) are drawn event by event, up to this mean per spell.
constexpr double kLargestMeanCount = 100000;
// The shortest episode written, as a share of the time grid's length.
constexpr double kShortestEpisode = 1e-9;

// The cells of the complete table with a positive probability, and their cumulative
// distribution (the last cell 1).
struct CompleteCells {
  std::vector<double> cumulative;
  std::vector<std::int64_t> cell;
};

// The bytes the table takes at most (the caller reserves them).
double PositiveCellsBytes(const RunState& run) {
  return static_cast<double>(CompleteTableCells(run.model)) * 2 * sizeof(double);
}

CompleteCells PositiveCells(const RunState& run) {
  CompleteCells table;
  double total = 0;
  std::int64_t index = 0;
  VisitCompleteTable(run, [&](const std::vector<int>&, double frequency) {
    if (!std::isfinite(frequency) || frequency < 0) total = NAN;
    if (frequency > 0) {
      total += frequency;
      table.cumulative.push_back(total);
      table.cell.push_back(index);
    }
    ++index;
  });
  if (!(total > 0) || !std::isfinite(total)) {
    StopRun("  Error: the model gives no probabilities to simulate data from");
  }
  for (double& value : table.cumulative) value /= total;
  table.cumulative.back() = 1;
  return table;
}

// The category (from 0) of every variable in complete cell `cell`, the last variable fastest.
std::vector<int> CellCategories(const ModelState& model, std::int64_t cell) {
  std::vector<int> category(model.VariableCount, 0);
  for (int v = model.VariableCount - 1; v >= 0; --v) {
    const int d = std::max(model.Dimension[v], 1);
    category[v] = static_cast<int>(cell % d);
    cell /= d;
  }
  return category;
}

// The subgroup of a complete cell: its `res` categories, the first most significant.
int SubgroupOf(const ModelState& model, const std::vector<int>& category) {
  int subgroup = 0;
  for (int v = 0; v < model.ResCount; ++v) subgroup = subgroup * model.Dimension[v] + category[v];
  return model.ResCount > 0 ? subgroup : 0;
}

// The cell of subgroup s's observed table, the first observed variable most significant.
std::int64_t ObservedCellOf(const ModelState& model, int s, const std::vector<int>& category) {
  const Membership& pattern = model.SubgroupPattern[s];
  std::int64_t cell = 0;
  for (int k = 0; k < model.ManifestCount; ++k) {
    const int v = model.FirstManifest() + k;
    if (pattern[k] == 1) cell = cell * model.Dimension[v] + category[v];
  }
  return cell;
}

// One record's history: its episodes in the order of the record.
struct DrawnEpisode {
  double entry = 0;  // on the record's time scale (calendar time with zer)
  double exit = 0;
  int origin = 0;
  int destination = 0;  // the origin when censored
  bool event = false;
  double events = 0;  // rsu: the number of events of the spell
};

// Where histories are censored: the last boundary t_T; in continuous time in table form, where
// that form places those censored in the last interval, its start plus the exposure time.
double CensoringTime(const EventHistoryState& history) {
  const std::vector<double>& grid = history.TimeValues;
  if (history.RecordFormat || history.TimeKind == TimeModel::kDiscrete) return grid.back();
  return std::min(grid.back(), grid.front() + (history.TimePointCount - 1) + history.TimeOffset);
}

class HistoryDraw {
 public:
  HistoryDraw(const RunState& run, ShuffledRandom& random)
      : run_(run),
        history_(run.history),
        hazard_(HazardWorkOf(run)),
        random_(random),
        grid_(run.history.TimeValues),
        start_(grid_.front()),
        end_(grid_.back()),
        censor_(CensoringTime(run.history)),
        shortest_(kShortestEpisode * std::max(1.0, end_ - start_)) {}

  // The histories of covariate cell c in the record's form.
  std::vector<DrawnEpisode> Draw(std::int64_t c) {
    rates_ = run_.estimation.FittedTable.data() + run_.model.submodels[hazard_.table].first_cell +
             c * hazard_.time_points * hazard_.risks;
    if (history_.SingleSpell) return Spells();
    if (history_.MultipleRisks) return Processes();
    return Episodes();
  }

 private:
  double Rate(int j, int q) const {
    return rates_[static_cast<std::int64_t>(j) * hazard_.risks + q - 1];
  }

  double Uniform() { return random_.Next(); }
  double Exponential() { return -Log(Uniform()); }

  // t^alpha, 0 at t <= 0.
  static double Powered(double t, double alpha) {
    if (!(t > 0)) return 0;
    return alpha == 1.0 ? t : Pow(t, alpha);
  }

  // The time at which the cumulative hazard of risk q from time s reaches an exponential draw;
  // kNever when it does not before t_T.
  double RiskTime(int q, double s) {
    double target = Exponential();
    const double alpha = HazardShape(run_, q);
    for (int j = EntryInterval(history_, s); j < hazard_.time_points; ++j) {
      const double lambda = Rate(j, q);
      const double lo = std::max(s, grid_[j]);
      const double hi = grid_[j + 1];
      if (!(lambda > 0) || !(hi > lo)) continue;
      const double available = lambda * (Powered(hi, alpha) - Powered(lo, alpha));
      if (target <= available) {
        const double t = alpha == 1.0 ? lo + target / lambda
                                      : Pow(Powered(lo, alpha) + target / lambda, 1 / alpha);
        return std::clamp(t, lo, hi);
      }
      target -= available;
    }
    return kNever;
  }

  // The exit of an episode in state a from clock time s on: its time and destination (a when
  // censored at t_T). Only the risks of the destinations that `allowed` admits count.
  template <typename Allowed>
  std::pair<double, int> Exit(int a, double s, Allowed allowed) {
    if (hazard_.kind == TimeModel::kDiscrete) {
      // Interval by interval: the units stayed before a move are geometric in the interval's
      // stay probability p (the move in its k-th unit with probability p^(k-1) (1 - p)), and
      // the move goes to each destination in proportion to its probability.
      for (int j = EntryInterval(history_, s); j < hazard_.time_points; ++j) {
        const double lo = std::max(s, grid_[j]);
        const double units = grid_[j + 1] - lo;
        double stay = 0;
        double moves = 0;
        for (int b = 0; b < history_.StateCount; ++b) {
          const int q = history_.RiskOf(a, b);
          if (q <= 0 || !(b == a || allowed(b))) continue;
          (b == a ? stay : moves) += Rate(j, q);
        }
        if (!(units > 0) || !(moves > 0)) continue;
        const double p = stay / (stay + moves);
        if (!(p < 1)) continue;
        const double stayed = p > 0 ? std::floor(Log(Uniform()) / Log(p)) : 0;
        if (!(stayed < units)) continue;
        const double u = Uniform() * moves;
        double cumulative = 0;
        int chosen = a;
        for (int b = 0; b < history_.StateCount; ++b) {
          const int q = history_.RiskOf(a, b);
          if (q <= 0 || b == a || !allowed(b)) continue;
          cumulative += Rate(j, q);
          chosen = b;
          if (u < cumulative) break;
        }
        return {lo + stayed + 1, chosen};
      }
      return {end_, a};
    }
    double first = kNever;
    int destination = a;
    for (int b = 0; b < history_.StateCount; ++b) {
      const int q = history_.RiskOf(a, b);
      if (q <= 0 || b == a || !allowed(b)) continue;
      const double t = RiskTime(q, s);
      if (t < first) {
        first = t;
        destination = b;
      }
    }
    // An event in the last bits of the grid (a record could not show it before its end) is
    // censored there.
    if (!(first <= censor_ - shortest_)) return {censor_, a};
    return {std::max(first, s + shortest_), destination};
  }

  // The default form: one episode after another.
  std::vector<DrawnEpisode> Episodes() {
    std::vector<DrawnEpisode> episodes;
    const int slots = std::max(history_.EpisodeCount, 1);
    int state = 0;
    double calendar = start_;
    auto any = [](int) { return true; };
    while (static_cast<int>(episodes.size()) < slots && history_.CanBeLeft(state)) {
      // With zer the clock starts again at t_0 in every episode.
      const double clock = history_.ZeroOption ? start_ : calendar;
      const auto [exit, destination] = Exit(state, clock, any);
      DrawnEpisode episode;
      episode.entry = calendar;
      episode.exit = calendar + (exit - clock);
      episode.origin = state;
      episode.destination = destination;
      episode.event = destination != state;
      episodes.push_back(episode);
      if (!episode.event) break;
      calendar = episode.exit;
      state = destination;
      // A transition at the end of the grid leaves the new state no time: the record ends.
      if (!history_.ZeroOption && calendar >= end_) break;
    }
    return episodes;
  }

  // mul: every process its own episode from t_0.
  std::vector<DrawnEpisode> Processes() {
    std::vector<DrawnEpisode> episodes;
    const int slots = std::max(history_.EpisodeCount, 1);
    for (int s = 0; s < slots; ++s) {
      const auto [exit, destination] = Exit(s, start_, [&](int b) { return b == s + 1; });
      DrawnEpisode episode;
      episode.entry = start_;
      episode.exit = exit;
      episode.origin = s;
      episode.destination = destination;
      episode.event = destination != s;
      episodes.push_back(episode);
    }
    return episodes;
  }

  // rsu: every slot a spell over the whole grid with its number of events.
  std::vector<DrawnEpisode> Spells() {
    std::vector<DrawnEpisode> episodes;
    const int slots = std::max(history_.EpisodeCount, 1);
    for (int s = 0; s < slots; ++s) {
      DrawnEpisode episode;
      episode.entry = start_;
      episode.exit = end_;
      episode.origin = s;
      const int q = history_.RiskOf(s, s + 1);
      if (q > 0) {
        const double alpha = HazardShape(run_, q);
        const double mean = Rate(0, q) * (Powered(end_, alpha) - Powered(start_, alpha));
        // The events of a Poisson process: exponential gaps until the mean is passed.
        for (double at = Exponential(); at <= mean; at += Exponential()) episode.events += 1;
      }
      episodes.push_back(episode);
    }
    return episodes;
  }

  const RunState& run_;
  const EventHistoryState& history_;
  const HazardWork& hazard_;
  ShuffledRandom& random_;
  const std::vector<double>& grid_;
  const double start_;
  const double end_;
  const double censor_;
  const double shortest_;
  const double* rates_ = nullptr;
};

// The exit time written for an episode that the reader is to see from `entry` (as the reader
// has it) to entry + duration: t + 1 - x, x the exposure time, moved by the last bits it may
// take so that the reader's time, t - 1 + x in its arithmetic, keeps the episode longer than 0
// and within the grid (zer: its duration within the grid), where the written t would otherwise
// round beyond.
double WrittenExit(const EventHistoryState& history, double entry, double duration) {
  const double x = history.TimeOffset;
  const double first = history.TimeValues.front();
  const double last = history.TrackMaximumTime ? HUGE_VAL : history.TimeValues.back();
  auto read = [&](double t) { return t - 1 + x; };
  double t = entry + duration + 1 - x;
  for (int step = 0; step < 64; ++step) {
    const double exit = read(t);
    const double end = history.ZeroOption ? first + (exit - entry) : exit;
    if (!(exit > entry)) {
      t = std::nextafter(t, HUGE_VAL);
    } else if (end > last) {
      t = std::nextafter(t, -HUGE_VAL);
    } else {
      break;
    }
  }
  return t;
}

// The history part of a record; the episodes follow each other from the reader's time of the
// last exit.
std::string HistoryText(const EventHistoryState& history,
                        const std::vector<DrawnEpisode>& episodes) {
  std::string text;
  const double start = history.TimeValues.front();
  auto read = [&](double t) { return t - 1 + history.TimeOffset; };
  if (!history.MultipleRisks && !history.SingleSpell) {
    if (history.EntryTimeGiven) text += NumberField(start) + IntegerField(0);
    double entry = start;
    for (const DrawnEpisode& episode : episodes) {
      const double t = WrittenExit(history, entry, episode.exit - episode.entry);
      text += NumberField(t) + IntegerField(episode.destination);
      entry = read(t);
    }
    return text;
  }
  for (const DrawnEpisode& episode : episodes) {
    if (history.EntryTimeGiven) text += NumberField(start);
    text += NumberField(WrittenExit(history, start, episode.exit - start));
    text += history.SingleSpell ? NumberField(episode.events) : IntegerField(episode.event ? 1 : 0);
  }
  return text;
}

// The manifest categories of a complete cell, for RecordFields.
std::vector<int> ManifestCategories(const ModelState& model, const std::vector<int>& category) {
  return std::vector<int>(category.begin() + model.FirstManifest(),
                          category.begin() + model.VariableCount);
}

std::int64_t CovariateCell(const HazardWork& hazard, const std::vector<int>& category) {
  std::int64_t c = 0;
  for (const auto& [v, stride] : hazard.covariate_strides) c += category[v] * stride;
  return c;
}

// The table form: per subgroup and cell of its observed table one line of the values of the
// intervals; the events, then the censored.
void WriteTables(RunState& run, TextFile& file, const std::vector<double>& events,
                 const std::vector<double>& censored, bool expected) {
  const ModelState& model = run.model;
  const int intervals = HazardWorkOf(std::as_const(run)).time_points;
  for (const std::vector<double>* table : {&events, &censored}) {
    std::int64_t at = 0;
    for (int s = 0; s < model.SubgroupCount; ++s) {
      for (std::int64_t c = 0; c < model.subgroup_cell_count[s]; ++c) {
        std::string line;
        for (int j = 0; j < intervals; ++j, ++at) {
          const double value = (*table)[static_cast<std::size_t>(at)];
          line += expected ? " " + FormatReal(15, 8, value) : NumberField(value);
        }
        file.WriteLine(line);
      }
    }
  }
}

// The rates must be numbers, and counts of events (rsu) of a practical size.
void CheckSimulationRates(const RunState& run) {
  const ModelState& model = run.model;
  const EventHistoryState& history = run.history;
  const HazardWork& hazard = HazardWorkOf(run);
  const auto rates = run.estimation.FittedTable.begin() + model.submodels[hazard.table].first_cell;
  const std::int64_t hazard_cells = static_cast<std::int64_t>(hazard.exposure.size());
  for (std::int64_t i = 0; i < hazard_cells; ++i) {
    if (!std::isfinite(rates[i]) || rates[i] < 0) {
      StopRun("  Error: the model gives hazard rates that are not numbers to simulate from");
    }
  }
  if (!history.SingleSpell) return;
  const std::vector<double>& grid = history.TimeValues;
  for (std::int64_t i = 0; i < hazard_cells; ++i) {
    const double alpha = HazardShape(run, static_cast<int>(i % hazard.risks) + 1);
    auto powered = [&](double t) { return t > 0 ? Pow(t, alpha) : 0.0; };
    const double mean = rates[i] * (powered(grid.back()) - powered(grid.front()));
    if (mean > kLargestMeanCount) {
      StopRun("  Error: sim cannot simulate counts of events (rsu) of more than " +
              FormatReal(0, 0, kLargestMeanCount) + " events per spell on average");
    }
  }
}

// The draw of a cell of the complete table from its cumulative probabilities.
std::vector<int> DrawCell(const RunState& run, const CompleteCells& cells, ShuffledRandom& random) {
  const auto at = std::lower_bound(cells.cumulative.begin(), cells.cumulative.end(), random.Next());
  const std::size_t k = std::min<std::size_t>(at - cells.cumulative.begin(), cells.cell.size() - 1);
  return CellCategories(run.model, cells.cell[k]);
}

// The record form: a line per record drawn.
void DrawRecords(RunState& run, const CompleteCells& cells, TextFile& file,
                 ShuffledRandom& random) {
  const ModelState& model = run.model;
  const EventHistoryState& history = run.history;
  const RecordFields fields(run);
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  HistoryDraw draw(run, random);
  for (std::int32_t r = 0; r < run.settings.simulate_count; ++r) {
    const std::vector<int> category = DrawCell(run, cells, random);
    const std::vector<DrawnEpisode> episodes = draw.Draw(CovariateCell(hazard, category));
    std::string line =
        fields.Text(SubgroupOf(model, category), ManifestCategories(model, category));
    if (history.RecordCountGiven) line += IntegerField(1);
    file.WriteLine(line + HistoryText(history, episodes));
  }
}

// The table form's tables: per subgroup, cell of its observed table and interval the events,
// and the censored.
struct HistoryTables {
  HistoryTables(const ModelState& model, int intervals)
      : model(model),
        intervals(intervals),
        events(static_cast<std::size_t>(ObservedCells(model) * intervals), 0.0),
        censored(events.size(), 0.0) {}
  // The place of (subgroup, observed cell, interval) in the tables.
  std::size_t Index(const std::vector<int>& category, int j) const {
    const int s = SubgroupOf(model, category);
    return static_cast<std::size_t>(
        (model.subgroup_first_cell[s] + ObservedCellOf(model, s, category)) * intervals + j);
  }
  const ModelState& model;
  int intervals;
  std::vector<double> events;
  std::vector<double> censored;
};

// Expected tables: of total records, the events of every interval and the survivors.
void AddExpectedHistories(const RunState& run, const CompleteCells& cells, double total,
                          HistoryTables& tables) {
  const EventHistoryState& history = run.history;
  const HazardWork& hazard = HazardWorkOf(run);
  const std::vector<double>& grid = history.TimeValues;
  const double censor = CensoringTime(history);
  const int last = hazard.time_points - 1;
  double previous = 0;
  for (std::size_t k = 0; k < cells.cell.size(); ++k) {
    const double p = cells.cumulative[k] - previous;
    previous = cells.cumulative[k];
    const std::vector<int> category = CellCategories(run.model, cells.cell[k]);
    const std::int64_t c = CovariateCell(hazard, category);
    double survival = 1;
    for (int j = 0; j < hazard.time_points; ++j) {
      const double to = j == last ? censor : grid[j + 1];
      const double next = hazard.kind == TimeModel::kDiscrete
                              ? DiscreteEpisodeSurvival(run, c, 0, j, 0, to, grid[0])
                              : EpisodeSurvival(run, c, 0, j, 0, to, grid[0]);
      tables.events[tables.Index(category, j)] += total * p * (survival - next);
      survival = next;
    }
    tables.censored[tables.Index(category, last)] += total * p * survival;
  }
}

// Drawn tables: the first episode of each of count records, its event or its censoring.
void DrawIntoTables(RunState& run, const CompleteCells& cells, std::int32_t count,
                    ShuffledRandom& random, HistoryTables& tables) {
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  HistoryDraw draw(run, random);
  for (std::int32_t r = 0; r < count; ++r) {
    const std::vector<int> category = DrawCell(run, cells, random);
    const DrawnEpisode episode = draw.Draw(CovariateCell(hazard, category)).front();
    if (episode.event) {
      tables.events[tables.Index(category, ExitInterval(run.history, episode.exit))] += 1;
    } else {
      tables.censored[tables.Index(category, hazard.time_points - 1)] += 1;
    }
  }
}

}  // namespace

void CheckHistorySimulation(const RunState& run) {
  const EventHistoryState& history = run.history;
  if (!history.HazardModel || run.settings.simulate_file.empty()) return;
  const std::string cannot = "  Error: sim cannot simulate ";
  if (history.RecordFormat && run.settings.simulate_count < 1) {
    StopRun(cannot +
            "expected data (a count below 1) of event history records: histories have no "
            "finite table of cells; give the number of records to draw");
  }
  if (history.SingleSpell &&
      (history.TimePointCount > 1 || history.TimeKind == TimeModel::kDiscrete ||
       history.TimeKind == TimeModel::kEstimatedShapes)) {
    StopRun(cannot +
            "counts of events (rsu) over several time intervals, in discrete time or with "
            "estimated shapes: the model gives all events of a spell the rate of its last "
            "interval and the time of its end");
  }
  if (history.TimeKind == TimeModel::kDiscrete) {
    for (double boundary : history.TimeValues) {
      if (boundary != std::floor(boundary)) {
        StopRun(cannot +
                "discrete time on time boundaries that are not whole numbers: its units are "
                "of length 1");
      }
    }
  } else {
    for (int a = 0; a < history.StateCount; ++a) {
      if (history.RiskOf(a, a) != 0) {
        StopRun(cannot +
                "a risk from a state to itself in continuous time: a record cannot show its "
                "events");
      }
    }
  }
}

double SimulateHistories(RunState& run, TextFile& file, ShuffledRandom& random) {
  CheckSimulationRates(run);
  const MemoryReservation reserved(run.context, PositiveCellsBytes(run));
  const CompleteCells cells = PositiveCells(run);
  const std::int32_t count = run.settings.simulate_count;
  if (run.history.RecordFormat) {
    DrawRecords(run, cells, file, random);
    return count;
  }
  HistoryTables tables(run.model, HazardWorkOf(std::as_const(run)).time_points);
  if (count < 1) {
    const double total = -static_cast<double>(count);
    AddExpectedHistories(run, cells, total, tables);
    WriteTables(run, file, tables.events, tables.censored, true);
    return total;
  }
  DrawIntoTables(run, cells, count, random, tables);
  WriteTables(run, file, tables.events, tables.censored, false);
  return count;
}

}  // namespace tav
