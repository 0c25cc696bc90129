#ifndef TAV_ENGINE_CORE_EVENT_HISTORY_H_
#define TAV_ENGINE_CORE_EVENT_HISTORY_H_

#include <array>
#include <cstdint>
#include <vector>

namespace tav {

inline constexpr int kRecordColumns = 201;
inline constexpr std::int32_t kNoMissingCode = -9753;

// The event-history (hazard) set-up and the record format of the data.
struct EventHistoryState {
  bool HazardModel = false;
  int TimeKind = 0;  // 0 continuous time, 1 discrete time (dis), 3 set by _we
  int TimePointCount = 1;
  std::vector<double> TimeValues{0.0, 1.0};  // TimePointCount + 1 interval boundaries
  bool EquidistantTimes = true;
  int StateCount = 2;
  int RiskCount = 1;
  // TransitionRisk[i * StateCount + j]: the risk number (from 1) of origin i and destination j,
  // 0 when the transition is not possible.
  std::vector<std::int32_t> TransitionRisk;
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
  std::array<std::uint8_t, kRecordColumns + 1> ColumnUsed{};  // index 1 .. 201
  bool PerRecordOutput = false;
};

}  // namespace tav

#endif  // TAV_ENGINE_CORE_EVENT_HISTORY_H_
