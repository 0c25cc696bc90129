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

// The event-history (hazard) set-up and the record format of the data.
struct EventHistoryState {
  bool HazardModel = false;
  int TimeKind = 0;  // 0 continuous time, 1 discrete time (dis), 3 set by _we
  int TimePointCount = 1;
  std::vector<double> TimeValues{0.0, 1.0};  // TimePointCount + 1 interval boundaries
  bool EquidistantTimes = true;
  // Record times count time points from 1: a time t lies at t - 1 + TimeOffset on the grid
  // of TimeValues, so that time point 1 ends at the first inner boundary.
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
  bool ZeroOption = false;
  double ExposureTime = 0.5;

  bool RecordFormat = false;
  std::int32_t RecordCount = 0;
  int EpisodeCount = 1;
  std::int32_t MissingCode = 0;
  bool EntryTimeGiven = false;
  bool RecordCountGiven = false;  // rco: every record begins with its count
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
};

}  // namespace tav

#endif  // TAV_ENGINE_CORE_EVENT_HISTORY_H_
