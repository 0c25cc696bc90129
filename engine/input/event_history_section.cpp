// The event-history section of an input file: discrete time (dis), the time variable and its
// interval boundaries (tim), the states and risks (ris, mul), the hazard submodel (haz), the
// shape form (_we), the zero option (zer) and the exposure time (exp).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/model_state.h"
#include "core/stop_run.h"
#include "input/command_table.h"
#include "input/effect_terms.h"
#include "input/reader.h"
#include "input/sections.h"

namespace tav {
namespace {

bool KeyIs(const std::string& word, const char* key) { return CommandKey(word) == key; }

void NextCommand(Reader& reader, InputRun& run) { reader.command = ReadWord(reader.input); }

// After a number: true when the bracket followed it directly, else reads the next word into
// reader.command and tells whether it is the bracket.
bool BracketFollows(Reader& reader, InputRun& run, const char* bracket) {
  if (reader.word == bracket) return true;
  NextCommand(reader, run);
  return reader.command == bracket;
}

// After the last number of a bracketed list: the closing "]" directly after it, or as the
// next word.
void ExpectClosingBracket(Reader& reader, InputRun& run, const std::string& message) {
  if (reader.word == "]") return;
  if (ReadWord(reader.input) != "]") StopRun(message);
}

// A transition table of states x states risk numbers, all 0.
void NewTransitionTable(InputRun& run, std::int64_t states) {
  EventHistoryState& history = run.history;
  history.TransitionRisk = AllocIntArray(run, states * states);
  history.StateCount = static_cast<int>(states);
  history.RiskCount = 0;
  history.NonSelfTransitions = 0;
}

void SetRisk(EventHistoryState& history, int origin, int destination, int risk) {
  history.TransitionRisk[static_cast<std::size_t>(origin) * history.StateCount + destination] =
      risk;
}

// tim n [b0 ... bn]: the number of time points and, in brackets, the interval boundaries.
void ReadTimePoints(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  EventHistoryState& history = run.history;
  for (int v = 0; v < model.VariableCount; ++v) {
    if (model.VariableLabel[v] == "T") {
      StopRun("  Error: label \"T\" reserved for the time variable");
    }
  }
  history.HazardModel = true;
  const std::int32_t points = ReadInteger(reader, run, reader.input);
  if (points < 1) StopRun("  Error: number of time points must be >= 1");
  run.KeepMemory(MemoryUse::kTimeGrid, 0);
  history.TimeValues = AllocRealArray(run, static_cast<std::int64_t>(points) + 1);
  run.KeepMemory(MemoryUse::kTimeGrid, (static_cast<double>(points) + 1) * sizeof(double));
  history.TimePointCount = points;
  history.TrackMaximumTime = false;
  model.Dimension[model.VariableCount] = points;
  if (BracketFollows(reader, run, "[")) {
    history.RecordFormat = true;
    history.EquidistantTimes = false;
    const std::string command = reader.command;
    reader.command = "time intervals";
    for (double& boundary : history.TimeValues) boundary = ReadReal(reader, run, reader.input);
    reader.command = command;
    ExpectClosingBracket(reader, run, "  Error: a \"]\" expected in command tim");
    for (int t = 0; t < points; ++t) {
      if (!(history.TimeValues[t] < history.TimeValues[t + 1])) {
        StopRun("  Error: the time boundaries must increase in command tim");
      }
    }
    NextCommand(reader, run);
  } else {
    for (int t = 0; t <= points; ++t) history.TimeValues[t] = t;
    history.EquidistantTimes = true;
  }
}

// ris s [i j] ...: s states and the transitions that are modelled, one risk each.
void ReadRisks(Reader& reader, InputRun& run) {
  EventHistoryState& history = run.history;
  history.HazardModel = true;
  history.RecordFormat = true;
  const std::int32_t states = ReadInteger(reader, run, reader.input);
  if (states < 1) StopRun("  Error: number of states must be >= 1 in command ris");
  NewTransitionTable(run, states);
  bool open = BracketFollows(reader, run, "[");
  while (open) {
    ++history.RiskCount;
    const std::string command = reader.command;
    reader.command = "risks";
    const std::int32_t origin = ReadInteger(reader, run, reader.input);
    const std::int32_t destination = ReadInteger(reader, run, reader.input);
    reader.command = command;
    if (origin > states - 1 || destination > states - 1) {
      StopRun("  Error: state specified in command ris greater than number of states-1");
    }
    if (origin < 0 || destination < 0) {
      StopRun("  Error: negative state specified in command ris");
    }
    if (history.RiskOf(origin, destination) != 0) {
      StopRun("  Error: the same risk specified twice");
    }
    SetRisk(history, origin, destination, history.RiskCount);
    if (history.TimeKind == TimeModel::kDiscrete && origin != destination)
      ++history.NonSelfTransitions;
    ExpectClosingBracket(reader, run, "  Error: a \"]\" expected in command ris");
    NextCommand(reader, run);
    open = reader.command == "[";
  }
}

// mul r: r risks in a row, state i leading to state i + 1; in discrete time each state also
// has its stay risk, numbered first.
void ReadMultipleRisks(Reader& reader, InputRun& run) {
  EventHistoryState& history = run.history;
  history.HazardModel = true;
  history.RecordFormat = true;
  history.MultipleRisks = true;
  const std::int32_t risks = ReadInteger(reader, run, reader.input);
  if (risks < 1) StopRun("  Error: number of risks must be >= 1 in command mul");
  NewTransitionTable(run, static_cast<std::int64_t>(risks) + 1);
  const bool discrete = history.TimeKind == TimeModel::kDiscrete;
  int risk = 0;
  for (int state = 0; state < risks; ++state) {
    if (discrete) SetRisk(history, state, state, ++risk);
    SetRisk(history, state, state + 1, ++risk);
  }
  history.RiskCount = risk;
  history.NonSelfTransitions = discrete ? risks : 0;
  NextCommand(reader, run);
}

// Without ris and mul: two states and the transition from the first to the second; discrete
// time also numbers the stay in the first state, as risk 1.
void DefaultRisks(InputRun& run) {
  EventHistoryState& history = run.history;
  NewTransitionTable(run, 2);
  if (history.TimeKind == TimeModel::kDiscrete) {
    SetRisk(history, 0, 0, 1);
    SetRisk(history, 0, 1, 2);
    history.RiskCount = 2;
    history.NonSelfTransitions = 1;
  } else {
    SetRisk(history, 0, 1, 1);
    history.RiskCount = 1;
  }
}

// Discrete-time logit models need the stay risk of every state that can be left.
void CheckSelfTransitions(const EventHistoryState& history) {
  for (int origin = 0; origin < history.StateCount; ++origin) {
    bool any = false;
    for (int destination = 0; destination < history.StateCount; ++destination) {
      if (history.RiskOf(origin, destination) != 0) any = true;
    }
    if (any && history.RiskOf(origin, origin) == 0) {
      StopRun("  Error: self-transitions are required in discrete-time logit models");
    }
  }
}

// The labels of the hazard submodel's variables, as a term.
std::string HazardTerm(const ModelState& model, int variable_count) {
  std::string text;
  for (int v = 0; v < variable_count; ++v) {
    if (v > 0 && model.LongLabels) text += '.';
    text += model.VariableLabel[v];
  }
  if (text.size() > 80) text.resize(80);
  return text;
}

// Every variable that vector marks becomes a conditioning variable (a covariate) of the
// hazard submodel.
void MakeConditioning(Submodel& hazard, const Membership& vector, int variable_count) {
  for (int v = 0; v < variable_count; ++v) {
    if (vector[v] != 0) hazard.SubmodelVariables[v] = 2;
  }
}

bool IsRestrictedEffectKey(const std::string& key) {
  return key == "cov" || key == "eff" || key == "fac" || key == "fix" || key == "wei" ||
         key == "spe";
}

// One item of the hazard submodel's braces, in reader.word.
void ReadHazardItem(Reader& reader, InputRun& run, int index, const std::string& term) {
  ModelState& model = run.model;
  const int variable_count = run.history.HazardVarCount;
  const std::string key = CommandKey(reader.word);
  if (IsRestrictedEffectKey(key)) {
    const std::size_t before = model.submodels[index].designs.size();
    ParseRestrictedEffect(reader, run, index, variable_count, term);
    Submodel& hazard = model.submodels[index];
    for (std::size_t d = before; d < hazard.designs.size(); ++d) {
      MakeConditioning(hazard, hazard.designs[d].DesignVariables, variable_count);
    }
  } else if (key == "ass") {
    const std::size_t before = model.submodels[index].assoc.size();
    ParseAssociation(reader, run, index, variable_count, term);
    Submodel& hazard = model.submodels[index];
    for (std::size_t a = before; a < hazard.assoc.size(); ++a) {
      MakeConditioning(hazard, hazard.assoc[a].AssocVariables, variable_count);
    }
  } else {
    Membership effect{};
    ParseTerm(reader, run.model, reader.word, effect, variable_count, false);
    for (int v = 0; v < variable_count; ++v) effect[v] = effect[v] != 0 ? 1 : 0;
    Submodel& hazard = model.submodels[index];
    NewEffect(hazard, hazard.MarginCount()) = effect;
    MakeConditioning(hazard, effect, variable_count);
  }
}

// haz [covariates] { effects } [ran | nra] [nin]: the hazard submodel.
void ReadHazardSubmodel(Reader& reader, InputRun& run, int index) {
  ModelState& model = run.model;
  EventHistoryState& history = run.history;
  const int n = model.VariableCount;
  history.HazardModel = true;
  history.HazardVarCount = n + (history.RiskCount > 1 ? 2 : 1);
  if (history.RiskCount > 1) {
    for (int v = 0; v < n; ++v) {
      if (model.VariableLabel[v] == "R") {
        StopRun("  Error: label \"R\" reserved for the risk variable");
      }
    }
  }
  const int variable_count = history.HazardVarCount;
  {
    Submodel& hazard = model.submodels[index];
    for (int v = 0; v < n; ++v) hazard.SubmodelVariables[v] = 1;
    for (int v = n; v < variable_count; ++v) hazard.SubmodelVariables[v] = 2;
    hazard.SubmodelVarCount = variable_count;
    hazard.term = HazardTerm(model, variable_count);
  }
  const std::string term = model.submodels[index].term;
  const std::string expected_open = "  Error: a \"{\" expected in command haz";

  // The braces follow the command word, or a term of covariates comes first.
  if (!WordEndsWith(reader.command, '{')) {
    reader.word = ReadWord(reader.input);
    if (reader.word != "{") {
      if (EndsList(reader.word)) StopRun(expected_open);
      Membership covariates{};
      ParseTerm(reader, run.model, reader.word, covariates, variable_count, false);
      MakeConditioning(model.submodels[index], covariates, variable_count);
      if (!WordEndsWith(reader.word, '{') && ReadWord(reader.input) != "{") {
        StopRun(expected_open);
      }
    }
  }

  for (;;) {
    reader.word = ReadWord(reader.input);
    if (reader.word == "}") break;
    if (EndsList(reader.word)) StopRun("  Error: a \"}\" expected in command haz");
    ReadHazardItem(reader, run, index, term);
    if (WordEndsWith(reader.word, '}')) break;
  }

  Submodel& hazard = model.submodels[index];
  NextCommand(reader, run);
  if (KeyIs(reader.command, "ran")) {
    hazard.random_start = true;
    NextCommand(reader, run);
  } else if (KeyIs(reader.command, "nra")) {
    hazard.random_start = false;
    NextCommand(reader, run);
  }
  if (KeyIs(reader.command, "nin")) {
    hazard.no_initial = true;
    NextCommand(reader, run);
  } else if (hazard.MarginCount() == 0) {
    NewEffect(hazard, 0);
  }
}

// _we [shape | [shape ...]]: hazard rates with a shape parameter per risk, the rate of risk k
// at time x being alpha_k x^(alpha_k - 1) times its log-linear part. Alone the shapes are
// estimated; one number fixes every risk's shape, a bracketed list one per risk.
void ReadShapes(Reader& reader, InputRun& run) {
  EventHistoryState& history = run.history;
  history.TimeKind = TimeModel::kEstimatedShapes;
  // Given boundaries stay; the equidistant grid ends at the number of time points already.
  if (history.EquidistantTimes) history.TimeValues[history.TimePointCount] = history.TimePointCount;
  history.EquidistantTimes = false;
  NextCommand(reader, run);
  const bool list = reader.command == "[";
  if (!list && !IsNumberText(reader.command)) return;
  history.TimeKind = TimeModel::kFixedShapes;
  const int risks = std::max(history.RiskCount, 1);
  if (list) {
    const std::string command = reader.command;
    reader.command = "shape parameters";
    for (int k = 0; k < risks; ++k)
      history.ShapeValues.push_back(ReadReal(reader, run, reader.input));
    reader.command = command;
    ExpectClosingBracket(reader, run, "  Error: a \"]\" expected in command _we");
  } else {
    history.ShapeValues.assign(risks, std::strtod(reader.command.c_str(), nullptr));
  }
  for (double shape : history.ShapeValues) {
    if (!(shape > 0 && shape <= 100)) StopRun("  Error: a shape parameter must be >0 and <=100");
  }
  NextCommand(reader, run);
}

}  // namespace

void ParseEventHistorySection(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  run.history = EventHistoryState{};
  EventHistoryState& history = run.history;
  const int n = model.VariableCount;
  const int index = model.SubmodelCount;
  NewSubmodel(model, index);
  // The time variable follows the declared variables; one category until tim says otherwise.
  model.VariableLabel[n] = "T";
  model.Dimension[n] = 1;
  history.TrackMaximumTime = true;

  if (KeyIs(reader.command, "dis")) {
    history.TimeKind = TimeModel::kDiscrete;
    history.HazardModel = true;
    NextCommand(reader, run);
  }
  if (KeyIs(reader.command, "tim")) ReadTimePoints(reader, run);

  if (KeyIs(reader.command, "ris")) {
    ReadRisks(reader, run);
  } else if (KeyIs(reader.command, "mul")) {
    ReadMultipleRisks(reader, run);
  } else {
    DefaultRisks(run);
  }
  if (history.RiskCount > 1) {
    model.Dimension[n + 1] = history.RiskCount;
    model.VariableLabel[n + 1] = "R";
  }
  if (history.TimeKind == TimeModel::kDiscrete) CheckSelfTransitions(history);

  if (KeyIs(reader.command, "haz")) {
    ReadHazardSubmodel(reader, run, index);
  } else if (history.HazardModel) {
    StopRun("  Error: command haz required");
  }

  if (KeyIs(reader.command, "_we")) ReadShapes(reader, run);
  if (KeyIs(reader.command, "zer")) {
    history.ZeroOption = true;
    NextCommand(reader, run);
  }
  history.ExposureTime = history.TimeKind == TimeModel::kDiscrete ? 1.0 : 0.5;
  if (KeyIs(reader.command, "exp")) {
    const double exposure = ReadReal(reader, run, reader.input);
    if (!(exposure >= 0 && exposure <= 1)) {
      StopRun("  Error: the exposure time must be >=0 and <=1");
    }
    history.ExposureTime = exposure;
    NextCommand(reader, run);
  }
  // Discrete time counts whole units: an exit in unit t ends it.
  history.TimeOffset = history.TimeKind == TimeModel::kDiscrete ? 1.0 : history.ExposureTime;
}

}  // namespace tav
