// The model section of an input file: the variables and their categories, labels, subgroups
// and indicators, then the model's submodels (mod/str), the measurement model (mea), the
// restrictions for all subgroups (all) and the correspondence analysis type (cor).

#include <cstdint>
#include <optional>
#include <string>

#include "core/model_state.h"
#include "core/stop_run.h"
#include "input/command_table.h"
#include "input/effect_terms.h"
#include "input/model_codes.h"
#include "input/reader.h"
#include "input/sections.h"

namespace tav {
namespace {

bool KeyIs(const std::string& word, const char* key) { return CommandKey(word) == key; }

// Marks of the term in reader.word over all variables.
Membership TermMarks(Reader& reader, InputRun& run) {
  Membership marks{};
  ParseTerm(reader, run.model, reader.word, marks, run.model.VariableCount, false);
  return marks;
}

// ---------------------------------------------------------------------------------------------
// Declarations: res, lat, man/var, con, dim, lab, sub, ind.

void ReadCounts(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  for (;;) {
    const std::string& word = reader.command;
    int* count = nullptr;
    if (KeyIs(word, "res")) {
      count = &model.ResCount;
    } else if (KeyIs(word, "lat")) {
      count = &model.LatentCount;
    } else if (KeyIs(word, "man") || KeyIs(word, "var")) {
      count = &model.ManifestCount;
    } else if (KeyIs(word, "con")) {
      count = &model.CovariateCount;
    } else {
      return;
    }
    const std::int32_t value = ReadInteger(reader, run, reader.input);
    if (value < 0) StopRun("  Error: negative number of variables in command " + word);
    *count = value;
    reader.command = ReadWord(reader.input);
  }
}

void ReadDimensions(Reader& reader, InputRun& run, int n) {
  ModelState& model = run.model;
  if (n > 0) {
    if (!KeyIs(reader.command, "dim")) StopRun("  Error: command dim required");
    for (int v = 0; v < n; ++v) {
      model.Dimension[v] = ReadInteger(reader, run, reader.input);
      if (model.Dimension[v] < 1) StopRun("  Error: dimensions must be >= 1");
    }
    reader.command = ReadWord(reader.input);
    if (!reader.command.empty() && IsDigitChar(reader.command[0])) {
      StopRun("  Error: more numbers in dim than variables");
    }
  }
  double subgroups = 1;
  for (int v = 0; v < model.ResCount; ++v) subgroups *= model.Dimension[v];
  // More than 256 subgroups stops the run when their patterns are made; keep the count finite.
  model.SubgroupCount = subgroups > kMaxSubgroups ? kMaxSubgroups + 1 : static_cast<int>(subgroups);
  model.LatentStateCount = 1;
  for (int v = model.ResCount; v < model.FirstManifest(); ++v) {
    model.LatentStateCount *= model.Dimension[v];
  }
  model.ManifestCellCount = 1;
  for (int v = model.FirstManifest(); v < n; ++v) model.ManifestCellCount *= model.Dimension[v];
}

void DefaultLabels(ModelState& model) {
  for (int v = 0; v < model.VariableCount; ++v) {
    char label;
    if (v < model.ResCount) {
      label = static_cast<char>('K' + v);
    } else if (v < model.FirstManifest()) {
      label = static_cast<char>('X' + (v - model.ResCount));
    } else {
      label = static_cast<char>('A' + (v - model.FirstManifest()));
    }
    model.VariableLabel[v] = std::string(1, label);
  }
  if (model.CovariateCount > 0) model.VariableLabel[model.VariableCount - 1] = "x";
}

void ReadLabels(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  model.LongLabels = false;
  if (!KeyIs(reader.command, "lab")) {
    DefaultLabels(model);
    return;
  }
  for (int v = 0; v < model.VariableCount; ++v) {
    const std::string word = ReadWord(reader.input);
    if (EndsList(word)) StopRun("  Error: too few variable labels");
    if (word.size() > 3) StopRun("  Error: variable label " + word + " is too long");
    if (word.size() > 1) model.LongLabels = true;
    for (int u = 0; u < v; ++u) {
      if (model.VariableLabel[u] == word) {
        StopRun("  Error: same label \"" + word + "\" for two variables");
      }
    }
    model.VariableLabel[v] = word;
  }
  reader.command = ReadWord(reader.input);
}

void ReadSubgroups(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  NewSubgroupPatterns(model);
  const int first = model.FirstManifest();
  if (KeyIs(reader.command, "sub")) {
    for (int g = 0; g < model.SubgroupCount; ++g) {
      if (EndsList(ReadCurrentWord(reader))) StopRun("  Error: too few subgroups");
      const Membership marks = TermMarks(reader, run);
      for (int v = first; v < model.VariableCount; ++v) {
        model.SubgroupPattern[g][v - first] = marks[v] != 0 ? 1 : 0;
      }
      if (model.CovariateCount > 0) model.SubgroupPattern[g][model.ManifestCount - 1] = 1;
    }
    reader.command = ReadWord(reader.input);
    return;
  }
  for (int g = 0; g < model.SubgroupCount; ++g) {
    const std::uint8_t observed = (model.SubgroupCount == 1 || g < 2) ? 1 : 0;
    for (int m = 0; m < model.ManifestCount; ++m) model.SubgroupPattern[g][m] = observed;
  }
  model.SubgroupsWithoutSub = model.SubgroupCount > 1;
}

void ReadIndicators(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  if (!KeyIs(reader.command, "ind")) return;
  if (model.LatentCount == 0) StopRun("  Error: indicators without a latent variable");
  Membership marks{};
  while (!EndsList(ReadCurrentWord(reader))) {
    ParseTerm(reader, run.model, reader.word, marks, model.VariableCount, true);
  }
  for (int v = 0; v < model.VariableCount; ++v) {
    if (marks[v] == 0) continue;
    if (!model.IsManifest(v)) StopRun("  Error: only manifest variables can be indicators");
    model.IsIndicator[v - model.FirstManifest()] = 1;
    ++model.IndicatorCount;
  }
  reader.command = reader.word;
}

bool IsIndicatorVariable(const ModelState& model, int v) {
  return model.IsManifest(v) && model.IsIndicator[v - model.FirstManifest()] != 0;
}

// ---------------------------------------------------------------------------------------------
// The model: submodels with their restrictions and effect lists.

void CountVariables(Submodel& submodel) {
  submodel.SubmodelVarCount = 0;
  for (std::uint8_t mark : submodel.SubmodelVariables) {
    if (mark != 0) ++submodel.SubmodelVarCount;
  }
}

// The submodel whose variables include variable v as a dependent (mark 1), before index.
int DependentIn(const ModelState& model, int v, int before) {
  for (int s = 0; s < before; ++s) {
    if (model.submodels[s].SubmodelVariables[v] == 1) return s;
  }
  return -1;
}

Membership AllVariablesOf(const Submodel& submodel) {
  Membership all{};
  for (int v = 0; v < kVectorSize; ++v) all[v] = submodel.SubmodelVariables[v] != 0 ? 1 : 0;
  return all;
}

void AddEffect(Submodel& submodel, const Membership& effect) {
  NewEffect(submodel, submodel.MarginCount()) = effect;
}

// Reads "(x)" after a word that may end in "(": the letter word, and the closing bracket glued
// to it or as the next word. Returns the letter word.
std::string ReadBracketedLetter(Reader& reader, InputRun& run, const std::string& opener,
                                const std::string& name, bool* closed) {
  if (!WordEndsWith(opener, '(')) {
    if (ReadCurrentWord(reader) != "(") {
      StopRun("  Error: a \"(\" expected in command " + name);
    }
  }
  std::string letter = ReadCurrentWord(reader);
  *closed = WordEndsWith(letter, ')');
  return letter;
}

void ExpectClosingBracket(Reader& reader, InputRun& run, bool closed, const std::string& name) {
  if (!closed && ReadCurrentWord(reader) != ")")
    StopRun("  Error: a \")\" expected in command " + name);
}

void ReadOrdinalType(Reader& reader, InputRun& run, Submodel& submodel) {
  const std::string word = reader.word;
  submodel.OrdinalType = OrdinalOrder::kCumulative;
  // The type may be glued, "or1(b)", or stand apart, "or1 ( b )".
  bool bracket = WordEndsWith(word, '(');
  if (!bracket) {
    ReadCurrentWord(reader);
    if (reader.word != "(") return;  // no type: the word after the restriction is current
    bracket = true;
  }
  const std::string letter = ReadCurrentWord(reader);
  const std::optional<OrdinalOrder> order =
      letter.empty() ? std::nullopt : OrdinalOrderOfLetter(letter[0]);
  if (!order) StopRun("  Error: unknown to of ordinal restriction");
  submodel.OrdinalType = *order;
  ExpectClosingBracket(reader, run, WordEndsWith(letter, ')'), reader.command);
  ReadCurrentWord(reader);
}

void ReadCorrespondence(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  const std::string word = reader.word;
  int type = model.VariableCount == 2 ? 1 : 2;
  model.CorrespondenceDim1 = 2;
  model.CorrespondenceDim2 = 2;
  if (WordEndsWith(word, '(')) {
    int* targets[] = {&type, &model.CorrespondenceDim1, &model.CorrespondenceDim2};
    bool closed = false;
    for (int k = 0; k < 3 && !closed; ++k) {
      const std::string number = ReadCurrentWord(reader);
      if (number == ")") {
        closed = true;
        break;
      }
      if (number.empty() || !(IsDigitChar(number[0]) || number[0] == '-')) {
        StopRun("  Error: a \")\" expected in command " + reader.command);
      }
      *targets[k] = WordToInteger(number);
      closed = WordEndsWith(number, ')');
      if (k == 0 && !CorrespondenceKindOfNumber(type)) {
        StopRun("  Error: impossible type of correspondence analysis");
      }
    }
    ExpectClosingBracket(reader, run, closed, reader.command);
  }
  model.CorrespondenceType = *CorrespondenceKindOfNumber(type);
  ReadCurrentWord(reader);
}

// A plain effect of a submodel's effect list.
void ReadPlainEffect(Reader& reader, InputRun& run, int index) {
  Submodel& submodel = run.model.submodels[index];
  if (submodel.IsCumulative()) {
    StopRun("  Error: unknown or impossible effect \"" + reader.word + "\" in table " +
            submodel.term);
  }
  const Membership marks = TermMarks(reader, run);
  Membership effect{};
  for (int v = 0; v < run.model.VariableCount; ++v) {
    if (marks[v] == 0) continue;
    if (submodel.SubmodelVariables[v] == 0) {
      StopRun("  Error: variable " + run.model.VariableLabel[v] + " not in table " + submodel.term);
    }
    effect[v] = 1;
  }
  AddEffect(submodel, effect);
}

// Reads the items of an effect list; reader.word is the word that opened it. On return
// the word after the closing "}" is current. message_command names the command in the
// missing-brace message.
void ReadEffectList(Reader& reader, InputRun& run, int index, const char* message_command) {
  ModelState& model = run.model;
  bool any_mar = false;
  for (;;) {
    const std::string& item = ReadCurrentWord(reader);
    if (item == "}") break;
    if (EndsList(item)) {
      StopRun(std::string("  Error: a \"}\" expected in command ") + message_command);
    }
    const std::string key = CommandKey(item);
    const std::string term = model.submodels[index].term;
    const int n = model.VariableCount;
    if (key == "ass") {
      ParseAssociation(reader, run, index, n, term);
    } else if (key == "cov" || key == "eff" || key == "fac" || key == "fix" || key == "wei" ||
               key == "spe") {
      ParseRestrictedEffect(reader, run, index, n, term);
    } else if (key == "lin" || key == "log") {
      model.submodels[index].LinLogSubmodel = true;
      model.AnyLinLog = true;
      ParseRestrictedEffect(reader, run, index, n, term);
    } else if (key == "mar") {
      any_mar = true;
      model.AnyMar = true;
      ParseRestrictedEffect(reader, run, index, n, term);
    } else {
      ReadPlainEffect(reader, run, index);
      if (WordEndsWith(item, '}')) break;
    }
  }
  if (any_mar) {
    Submodel& submodel = model.submodels[index];
    submodel.MarSubmodel = MarRestrictions::kOnly;
    for (const Design& design : submodel.designs) {
      if (design.family != DesignFamily::kMarginal)
        submodel.MarSubmodel = MarRestrictions::kWithOtherDesigns;
    }
  }
  ReadCurrentWord(reader);
}

void ReadCumulativeHeader(Reader& reader, InputRun& run, Submodel& submodel) {
  const std::string mod_name = reader.command;
  const std::string word = reader.word;
  reader.command = "cum";
  submodel.SubmodelKind = SubmodelKindCode::kCumulative;
  NewDesign(submodel, submodel.DesignTermCount());
  bool closed = false;
  const std::string letter = ReadBracketedLetter(reader, run, word, "cum", &closed);
  const std::optional<CumulativeForm> form =
      letter.empty() ? std::nullopt : CumulativeFormOfLetter(letter[0]);
  if (!form) StopRun("  Error: cumulative model \"" + letter + "\" does not exist");
  submodel.CumulativeModel = *form;
  if (form->IsNormal()) run.model.CumulativeI = true;
  ExpectClosingBracket(reader, run, closed, "cum");
  if (ReadCurrentWord(reader) != "{") StopRun("  Error: a \"{\" expected in command mod");
  reader.command = mod_name;
}

// eq1: the submodel named by the term in the next word, followed to the end of its chain.
void ReadEq1(Reader& reader, InputRun& run, int index) {
  ModelState& model = run.model;
  ReadCurrentWord(reader);
  const Membership marks = TermMarks(reader, run);
  int found = -1;
  for (int s = 1; s < index && found < 0; ++s) {
    if (model.submodels[s].SubmodelVariables == marks) found = s;
  }
  if (found < 0) StopRun("  Error: subtable " + reader.word + " specified in eq1 not found");
  for (int steps = 0; model.submodels[found].IsTied() && steps <= index; ++steps) {
    found = model.submodels[found].tied_to;
  }
  if (model.submodels[found].SubmodelKind == SubmodelKindCode::kLogLinear) {
    model.submodels[found].SubmodelKind = SubmodelKindCode::kLogLinearShared;
  }
  model.submodels[index].SubmodelKind = SubmodelKindCode::kTied;
  model.submodels[index].tied_to = found;
  ReadCurrentWord(reader);
}

// Conditioning variables of an earlier submodel come with every variable it explains.
void CheckRecursive(InputRun& run, int index) {
  ModelState& model = run.model;
  Submodel& submodel = model.submodels[index];
  for (bool changed = true; changed;) {
    changed = false;
    for (int v = 0; v < model.VariableCount; ++v) {
      if (submodel.SubmodelVariables[v] != 2) continue;
      const int earlier = DependentIn(model, v, index);
      if (earlier < 0) continue;
      for (int u = 0; u < model.VariableCount; ++u) {
        if (model.submodels[earlier].SubmodelVariables[u] != 2) continue;
        if (submodel.SubmodelVariables[u] == 1) {
          StopRun("  Error: non-recursief model as a result of subtable " + submodel.term);
        }
        if (submodel.SubmodelVariables[u] == 0) {
          submodel.SubmodelVariables[u] = 2;
          changed = true;
        }
      }
    }
  }
}

// One submodel of the model, starting at the word in reader.word.
void ReadSubmodel(Reader& reader, InputRun& run, bool glued_brace) {
  ModelState& model = run.model;
  const int index = model.SubmodelCount;
  NewSubmodel(model, index);
  ++model.SubmodelCount;
  Submodel& submodel = model.submodels[index];
  const std::string word = reader.word;

  if (glued_brace || word == "{" || KeyIs(word, "cor")) {
    // A model for the whole table.
    for (int v = 0; v < model.VariableCount; ++v) {
      if (IsIndicatorVariable(model, v)) continue;
      submodel.SubmodelVariables[v] = DependentIn(model, v, index) < 0 ? 1 : 2;
    }
    submodel.term = TermText(model, submodel.SubmodelVariables);
    if (glued_brace) reader.word = "{";
  } else {
    submodel.term = word;
    submodel.SubmodelVariables = TermMarks(reader, run);
    for (int v = 0; v < model.VariableCount; ++v) {
      if (submodel.SubmodelVariables[v] != 1) continue;
      if (IsIndicatorVariable(model, v)) StopRun("  Error: indicators not allowed in mod");
      if (DependentIn(model, v, index) >= 0) {
        StopRun("  Error: variable " + model.VariableLabel[v] +
                " used for the second time as dependent in subtable " + word);
      }
    }
    if (WordEndsWith(word, '{')) {
      reader.word = "{";
    } else {
      ReadCurrentWord(reader);
    }
  }
  CheckRecursive(run, index);
  CountVariables(submodel);
  if (index > 0) {
    Membership condition{};
    for (int v = 0; v < kVectorSize; ++v) condition[v] = submodel.SubmodelVariables[v] == 2;
    AddEffect(submodel, condition);
  }

  const std::string restriction = reader.word;
  const std::string key = CommandKey(restriction);
  if (key == "eq1") {
    ReadEq1(reader, run, index);
  } else if (key == "eq2" || key == "eq3") {
    submodel.SubmodelKind = SubmodelKindCode::kEqualityRestricted;
    if (key == "eq2") model.UseEq2 = true;
    ReadCurrentWord(reader);
  } else if (key == "or1" || key == "or2") {
    submodel.SubmodelKind =
        key == "or1" ? SubmodelKindCode::kOrdinal1 : SubmodelKindCode::kOrdinal2;
    ReadOrdinalType(reader, run, submodel);
  } else if (key == "cum") {
    ReadCumulativeHeader(reader, run, submodel);
    ReadEffectList(reader, run, index, "mod");
  } else if (restriction == "{") {
    ReadEffectList(reader, run, index, "mod");
  } else {
    submodel.SubmodelKind = SubmodelKindCode::kLogLinear;
    AddEffect(submodel, AllVariablesOf(submodel));
  }

  Submodel& done = model.submodels[index];
  if (KeyIs(reader.word, "cor")) ReadCorrespondence(reader, run);
  if (KeyIs(reader.word, "ran") || KeyIs(reader.word, "nra")) {
    done.random_start = KeyIs(reader.word, "ran");
    ReadCurrentWord(reader);
  }
  if (KeyIs(reader.word, "nin")) {
    done.no_initial = true;
    ReadCurrentWord(reader);
  } else if (index == 0 && done.MarginCount() == 0 && !model.AnyLinLog &&
             !done.IsSaturatedFixed()) {
    AddEffect(done, Membership{});
  }
}

void CreateCovariateSubmodel(ModelState& model) {
  Submodel& submodel = NewSubmodel(model, 0);
  model.SubmodelCount = 1;
  const int covariate = model.VariableCount - 1;
  submodel.SubmodelKind = SubmodelKindCode::kSaturatedFixed;
  submodel.SubmodelVariables[covariate] = 1;
  submodel.term = model.VariableLabel[covariate];
  CountVariables(submodel);
  AddEffect(submodel, AllVariablesOf(submodel));
}

// After the submodels: variables explained nowhere, the default saturated margin and the
// final kinds.
void CompleteModel(ModelState& model) {
  const int n = model.VariableCount;
  Submodel* first = model.SubmodelCount > 0 ? &model.submodels[0] : nullptr;
  for (int v = 0; v < n && first != nullptr; ++v) {
    bool conditioning = false;
    bool dependent = false;
    for (int s = 0; s < model.SubmodelCount; ++s) {
      const std::uint8_t mark = model.submodels[s].SubmodelVariables[v];
      conditioning = conditioning || mark == 2;
      dependent = dependent || mark == 1;
    }
    if (conditioning && !dependent) first->SubmodelVariables[v] = 1;
  }

  Membership unexplained{};
  bool any_unexplained = false;
  for (int v = 0; v < n; ++v) {
    if (IsIndicatorVariable(model, v)) continue;
    bool in_submodel = false;
    for (int s = 0; s < model.SubmodelCount; ++s) {
      in_submodel = in_submodel || model.submodels[s].SubmodelVariables[v] != 0;
    }
    if (!in_submodel) {
      unexplained[v] = 1;
      any_unexplained = true;
    }
  }
  const bool only_covariate =
      model.SubmodelCount == 1 && model.CovariateCount > 0 && first->IsSaturatedFixed();
  if (any_unexplained && only_covariate) {
    // The covariate's margin takes the other variables in.
    for (int v = 0; v < n; ++v) {
      if (unexplained[v] != 0) first->SubmodelVariables[v] = 1;
    }
  } else if (any_unexplained || model.SubmodelCount == 0) {
    const int index = model.SubmodelCount;
    Submodel& extra = NewSubmodel(model, index);
    ++model.SubmodelCount;
    extra.SubmodelKind = SubmodelKindCode::kSaturatedFixed;
    extra.SubmodelVariables = unexplained;
    extra.term = TermText(model, unexplained);
    if (index > 0) AddEffect(extra, Membership{});
    AddEffect(extra, unexplained);
  }
  if (model.SubmodelCount > 0 && model.submodels[0].IsSaturatedFixed()) {
    Submodel& head = model.submodels[0];
    head.EffectVariables.clear();
    AddEffect(head, AllVariablesOf(head));
  }

  for (int s = 0; s < model.SubmodelCount; ++s) {
    Submodel& submodel = model.submodels[s];
    for (int v = 0; v < n; ++v) {
      if (submodel.SubmodelVariables[v] != 0) submodel.SubmodelVariables[v] = 1;
    }
    CountVariables(submodel);
    if (!submodel.IsSaturatedFixed()) continue;
    bool needs_estimation = false;
    for (int v = 0; v < n; ++v) {
      if (submodel.SubmodelVariables[v] == 0) continue;
      if (v >= model.ResCount && v < model.FirstManifest()) needs_estimation = true;
      if (model.IsManifest(v)) {
        for (const Membership& pattern : model.SubgroupPattern) {
          if (pattern[v - model.FirstManifest()] == 0) needs_estimation = true;
        }
      }
    }
    if (needs_estimation) submodel.SubmodelKind = SubmodelKindCode::kLogLinear;
  }
}

void ReadModel(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  const std::string& command = reader.command;
  const bool is_model = KeyIs(command, "mod") || KeyIs(command, "str");
  if (!is_model && !EndsList(command)) {
    StopRun("  Error: command " + command + " does not exist");
  }
  if (is_model || KeyIs(command, "cor")) {
    // "mod{AB,AC}": the brace glued to the command opens a whole-table effect list.
    const bool glued = is_model && WordEndsWith(command, '{');
    if (is_model && !glued) {
      ReadCurrentWord(reader);
    } else {
      reader.word = command;
    }
    bool first = true;
    while ((first && glued) || !EndsList(reader.word) || KeyIs(reader.word, "cor")) {
      ReadSubmodel(reader, run, first && glued);
      first = false;
    }
    reader.command = reader.word;
  }
  CompleteModel(model);
}

// ---------------------------------------------------------------------------------------------
// The measurement model and the restrictions for all subgroups.

void ReadMeasurementModel(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  if (model.IndicatorCount == 0) return;
  const int first_indicator_submodel = model.SubmodelCount;
  const int first = model.FirstManifest();
  std::vector<int> submodel_of(kVectorSize, -1);
  for (int v = first; v < model.VariableCount; ++v) {
    if (!IsIndicatorVariable(model, v)) continue;
    const int index = model.SubmodelCount;
    Submodel& submodel = NewSubmodel(model, index);
    ++model.SubmodelCount;
    submodel.SubmodelKind = SubmodelKindCode::kLogLinear;
    Membership latent{};
    for (int u = model.ResCount; u < first; ++u) latent[u] = 1;
    submodel.SubmodelVariables = latent;
    submodel.SubmodelVariables[v] = 1;
    submodel.term = TermText(model, submodel.SubmodelVariables);
    CountVariables(submodel);
    AddEffect(submodel, latent);
    submodel_of[v] = index;
  }

  if (!KeyIs(reader.command, "mea")) {
    for (int s = first_indicator_submodel; s < model.SubmodelCount; ++s) {
      Submodel& submodel = model.submodels[s];
      for (int u = model.ResCount; u < first; ++u) {
        Membership effect{};
        effect[u] = 1;
        for (int v = first; v < model.VariableCount; ++v) {
          if (submodel.SubmodelVariables[v] != 0) effect[v] = 1;
        }
        AddEffect(submodel, effect);
      }
    }
    return;
  }
  if (!WordEndsWith(reader.command, '{') && ReadCurrentWord(reader) != "{") {
    StopRun("  Error: a \"{\" expected in command mea");
  }
  for (;;) {
    const std::string& item = ReadCurrentWord(reader);
    if (item == "}") break;
    if (EndsList(item)) StopRun("  Error: a \"}\" expected in command mea");
    const Membership marks = TermMarks(reader, run);
    int indicator = -1;
    int indicators = 0;
    for (int v = 0; v < model.VariableCount; ++v) {
      if (marks[v] == 0) continue;
      if (v < model.ResCount) StopRun("  Error: response-indicator in mea");
      if (model.IsManifest(v)) {
        if (!IsIndicatorVariable(model, v)) StopRun("  Error: non-indicator in mea");
        indicator = v;
        ++indicators;
      }
    }
    if (indicators == 0) StopRun("  Error: interaction without indicator in mea");
    if (indicators > 1) StopRun("  Error: interaction between indicators in mea");
    Membership effect{};
    for (int v = 0; v < model.VariableCount; ++v) effect[v] = marks[v] != 0 ? 1 : 0;
    AddEffect(model.submodels[submodel_of[indicator]], effect);
    if (WordEndsWith(item, '}')) break;
  }
  reader.command = ReadWord(reader.input);
}

// The first submodel of the model whose variables include every variable marked in vars.
int ContainingSubmodel(const ModelState& model, const Membership& vars) {
  for (int s = 0; s < model.SubmodelCount; ++s) {
    bool contains = true;
    for (int v = 0; v < model.VariableCount && contains; ++v) {
      contains = vars[v] == 0 || model.submodels[s].SubmodelVariables[v] != 0;
    }
    if (contains) return s;
  }
  return -1;
}

bool ConflictsWithAll(const Submodel& submodel) {
  return submodel.HasRestrictedCells() || submodel.IsTied() ||
         submodel.SubmodelKind == SubmodelKindCode::kLogLinearShared;
}

void CheckAllTarget(const ModelState& model, const Membership& vars, int* target) {
  const std::string text = TermText(model, vars);
  *target = ContainingSubmodel(model, vars);
  if (*target < 0) {
    StopRun("  Error: subtable of effect " + text + " specified in \"all\" not found");
  }
  if (ConflictsWithAll(model.submodels[*target])) {
    StopRun("  Error: effect " + text + " specified in \"all\" conflicts with other restrictions");
  }
}

void ReadAllRestrictions(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  if (!KeyIs(reader.command, "all")) return;
  if (!WordEndsWith(reader.command, '{') && ReadCurrentWord(reader) != "{") {
    StopRun("  Error: a \"{\" expected in command all");
  }
  const int index = model.SubmodelCount + 1;
  Submodel& all = NewSubmodel(model, index);
  model.HasAllSubmodel = true;
  all.SubmodelKind = SubmodelKindCode::kLogLinear;
  for (int v = 0; v < model.VariableCount; ++v) {
    if (!IsIndicatorVariable(model, v)) all.SubmodelVariables[v] = 1;
  }
  all.term = "all";
  CountVariables(all);
  const int n = model.VariableCount;
  for (;;) {
    const std::string& item = ReadCurrentWord(reader);
    if (item == "}") break;
    if (EndsList(item)) StopRun("  Error: a \"}\" expected in command all");
    const std::string key = CommandKey(item);
    if (key == "ass") {
      const int before = model.submodels[index].AssocCount();
      ParseAssociation(reader, run, index, n, "all");
      Submodel& target_all = model.submodels[index];
      for (int a = before; a < target_all.AssocCount(); ++a) {
        AssocEffect& effect = target_all.assoc[a];
        Membership rows{};
        Membership columns{};
        for (int v = 0; v < n; ++v) {
          rows[v] = effect.AssocVariables[v] == 1;
          columns[v] = effect.AssocVariables[v] == 2;
        }
        const int row_target = ContainingSubmodel(model, rows);
        const int column_target = ContainingSubmodel(model, columns);
        if (row_target < 0 || column_target < 0 || ConflictsWithAll(model.submodels[row_target]) ||
            ConflictsWithAll(model.submodels[column_target])) {
          StopRun("  Error: subtable of association model " + TermText(model, rows) + "," +
                  TermText(model, columns) + " specified in \"all\" not found");
        }
        effect.target_submodel = row_target;
      }
    } else if (key == "cov" || key == "eff" || key == "fac" || key == "spe" || key == "lin" ||
               key == "log") {
      if (key == "lin" || key == "log") {
        model.submodels[index].LinLogSubmodel = true;
        model.AnyLinLog = true;
      }
      const int before = model.submodels[index].DesignTermCount();
      ParseRestrictedEffect(reader, run, index, n, "all");
      Submodel& target_all = model.submodels[index];
      for (int d = before; d < target_all.DesignTermCount(); ++d) {
        Membership vars{};
        for (int v = 0; v < n; ++v) vars[v] = target_all.designs[d].DesignVariables[v] != 0;
        CheckAllTarget(model, vars, &target_all.designs[d].target_submodel);
      }
    } else {
      const Membership marks = TermMarks(reader, run);
      Membership effect{};
      for (int v = 0; v < n; ++v) effect[v] = marks[v] != 0 ? 1 : 0;
      int target = -1;
      CheckAllTarget(model, effect, &target);
      Submodel& target_all = model.submodels[index];
      AddEffect(target_all, effect);
      target_all.effect_target.resize(target_all.MarginCount(), -1);
      target_all.effect_target.back() = target;
      if (WordEndsWith(item, '}')) break;
    }
  }
  reader.command = ReadWord(reader.input);
}

}  // namespace

void ParseModelSection(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  reader.command = ReadWord(reader.input);
  ReadCounts(reader, run);

  const std::int64_t declared =
      std::int64_t{model.ResCount} + model.LatentCount + model.ManifestCount;
  if (declared > kMaxVariables || (model.CovariateCount > 0 && declared + 1 > kMaxVariables)) {
    StopRun("  Error: more than the maximum number of variables");
  }
  int n = static_cast<int>(declared);
  ReadDimensions(reader, run, n);
  if (model.CovariateCount > 0) {
    model.Dimension[n] = 1;
    ++n;
    ++model.ManifestCount;
  }
  model.VariableCount = n;
  ReadLabels(reader, run);
  ReadSubgroups(reader, run);
  ReadIndicators(reader, run);

  if (model.CovariateCount > 0) CreateCovariateSubmodel(model);
  ReadModel(reader, run);
  ReadMeasurementModel(reader, run);
  ReadAllRestrictions(reader, run);
  if (KeyIs(reader.command, "cor")) {
    reader.word = reader.command;
    ReadCorrespondence(reader, run);
    reader.command = reader.word;
  }
  if ((KeyIs(reader.command, "ran") || KeyIs(reader.command, "nra")) && model.SubmodelCount > 0) {
    model.submodels[model.SubmodelCount - 1].random_start = KeyIs(reader.command, "ran");
    reader.command = ReadWord(reader.input);
  }
  if (!EndsList(reader.command)) {
    StopRun("  Error: command " + reader.command + " does not exist");
  }
}

}  // namespace tav
