#ifndef TAV_ENGINE_CORE_EVENT_HISTORY_H_
#define TAV_ENGINE_CORE_EVENT_HISTORY_H_

#include <array>
#include <cstdint>
#include <vector>

namespace tav {

inline constexpr int kRecordColumns = 201;
inline constexpr std::int32_t kNoMissingCode = -9753;

// Column flags of a record with every column read (index 0 is unused).
constexpr std::array<std::uint8_t, kRecordColumns + 1> AllColumnsUsed() {
  std::array<std::uint8_t, kRecordColumns + 1> used{};
  for (auto& flag : used) flag = 1;
  return used;
}

// How the hazard model treats time. The numbers are those of the results document.
enum class TimeModel {
  kPiecewiseConstant = 0,  // piecewise-constant rates in continuous time
  kDiscrete = 1,           // discrete time (dis)
  kFixedShapes = 2,        // rates with shape parameters fixed at ShapeValues (_we and shapes)
  kEstimatedShapes = 3,    // rates with shape parameters that are estimated (_we alone)
};

// The rates carry shape parameters (fixed or estimated).
constexpr bool HasShapes(TimeModel time) {
  return time == TimeModel::kFixedShapes || time == TimeModel::kEstimatedShapes;
}

// The number that the results document writes for the time model.
constexpr int TimeModelNumber(TimeModel time) { return static_cast<int>(time); }

// The event-history (hazard) set-up and the record format of the data.
struct EventHistoryState {
  bool HazardModel = false;
  TimeModel TimeKind = TimeModel::kPiecewiseConstant;
  int TimePointCount = 1;
  std::vector<double> TimeValues{0.0, 1.0};  // TimePointCount + 1 interval boundaries
  bool EquidistantTimes = true;
  // Exit times in records count time units from 1: an event or censoring recorded at t happened
  // in the t-th unit, and lies at t - 1 + TimeOffset on the grid of TimeValues. The offset is
  // the end of the unit in discrete time, and ExposureTime in continuous time: its middle by
  // default, `exp 1` for exact times. Entry times (rt0) are points on the grid and are not
  // moved.
  double TimeOffset = 1.0;
  // Without `tim` the single interval has no given end: the data reader raises the last
  // boundary to the largest end time it reads.
  bool TrackMaximumTime = false;
  int StateCount = 2;
  int RiskCount = 1;
  // TransitionRisk[i * StateCount + j]: the risk number (from 1) of origin i and destination j,
  // 0 when the transition is not possible.
  std::vector<std::int32_t> TransitionRisk{0, 1, 0, 0};
  int NonSelfTransitions = 0;
  bool MultipleRisks = false;
  int HazardVarCount = 0;
  // zer: the clock starts again at zero with every episode, so that time is the duration in the
  // current state; without it time runs on from the start of the history.
  bool ZeroOption = false;
  double ExposureTime = 0.5;
  // The shape of every risk for TimeModel::kFixedShapes (RiskCount values).
  std::vector<double> ShapeValues;

  bool RecordFormat = false;
  std::int32_t RecordCount = 0;
  int EpisodeCount = 1;
  std::int32_t MissingCode = 0;
  bool EntryTimeGiven = false;
  bool RecordCountGiven = false;  // rco: every record begins with its count
  // rsu: every episode slot s is one spell in state s, and the number written for it is the
  // number of events of the risk that leaves s during the spell (0 censored).
  bool SingleSpell = false;
  std::array<std::uint8_t, kRecordColumns + 1> ColumnUsed = AllColumnsUsed();  // index 1 .. 201
  bool PerRecordOutput = false;

  // The risk number of the transition from origin to destination; 0 when it is not possible
  // or either state lies outside the transition table.
  std::int32_t RiskOf(std::int64_t origin, std::int64_t destination) const {
    if (origin < 0 || destination < 0 || origin >= StateCount || destination >= StateCount) {
      return 0;
    }
    const std::size_t at = static_cast<std::size_t>(origin * StateCount + destination);
    return at < TransitionRisk.size() ? TransitionRisk[at] : 0;
  }

  // Some risk leads from state to another state.
  bool CanBeLeft(std::int64_t state) const {
    for (std::int64_t b = 0; b < StateCount; ++b) {
      if (b != state && RiskOf(state, b) != 0) return true;
    }
    return false;
  }
};

}  // namespace tav

#endif  // TAV_ENGINE_CORE_EVENT_HISTORY_H_
