// Restricted effect specifications (cov, eff, fac, fix, wei, lin, log, mar, spe) and
// association models (ass) inside a submodel's braces.

#include "input/effect_terms.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "core/stop_run.h"
#include "input/command_table.h"
#include "input/model_codes.h"
#include "input/reader.h"

namespace tav {
namespace {

constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();

bool BeginsWithDigit(const std::string& word, char low = '0') {
  return !word.empty() && word[0] >= low && word[0] <= '9';
}
// A number word: digits, or "-" followed by a digit.
bool IsNumberWord(const std::string& word) {
  return BeginsWithDigit(word) || (word.size() > 1 && word[0] == '-' && IsDigitChar(word[1]));
}

int Clamp(std::int64_t value) { return static_cast<int>(std::min(value, kIntMax)); }

// The product of the dimensions of the marked variables, saturating at the 32-bit maximum.
int CellsOf(const ModelState& model, const Membership& marks, int n) {
  std::int64_t cells = 1;
  for (int v = 0; v < n; ++v) {
    if (marks[v] != 0) cells = std::min(cells * model.Dimension[v], kIntMax);
  }
  return Clamp(cells);
}

// The variable number of the continuous covariate, or -1.
int CovariateVariable(const ModelState& model) {
  if (model.CovariateCount <= 0) return -1;
  return model.FirstManifest() + model.ManifestCount - 1;
}

// Parses the term in reader.word over the first n variables and checks that every marked
// variable belongs to the submodel; role names the variable in the message.
Membership SubmodelTerm(Reader& reader, InputRun& run, const Submodel& submodel, int n,
                        const std::string& role, const std::string& used_in,
                        const std::string& submodel_term) {
  Membership marks{};
  ParseTerm(reader, run.model, reader.word, marks, n, false);
  for (int v = 0; v < n; ++v) {
    if (marks[v] != 0 && submodel.SubmodelVariables[v] == 0) {
      StopRun("  Error: " + role + (role.empty() ? "" : " ") + "variable " +
              run.model.VariableLabel[v] + " used in " + used_in + " not in subtable " +
              submodel_term);
    }
  }
  return marks;
}

DesignFamily FamilyOf(const std::string& key) {
  if (key == "cov") return DesignFamily::kCovariate;
  if (key == "eff") return DesignFamily::kEffect;
  if (key == "fac") return DesignFamily::kFactor;
  if (key == "fix" || key == "wei") return DesignFamily::kFixedWeights;
  if (key == "lin" || key == "log") return DesignFamily::kLinLog;
  if (key == "mar") return DesignFamily::kMarginal;
  return DesignFamily::kSpecial;
}

// The families whose restrictions are written with a restriction letter.
bool IsRestriction(DesignFamily family) {
  return family == DesignFamily::kLinLog || family == DesignFamily::kMarginal;
}

// A restriction letter of lin, log or mar (a to d, or a number word counting as a): returns
// its position from 1; leaves the number word current when there was no letter.
RestrictionSense ReadRestrictionLetter(Reader& reader, InputRun& run, const std::string& name) {
  const std::string& word = reader.word;
  const std::optional<RestrictionSense> sense =
      word.empty() ? std::nullopt : RestrictionSenseOfLetter(word[0]);
  if (sense) {
    ReadCurrentWord(reader);
    return *sense;
  }
  if (BeginsWithDigit(word, '1')) return RestrictionSense::kEquality;
  StopRun("  Error: restriction type \"" + word.substr(0, 1) + "\" used in " + name +
          "() does not exist");
}

int ReadCountWord(const Reader& reader, const std::string& message) {
  if (!BeginsWithDigit(reader.word, '1')) StopRun(message);
  return WordToInteger(reader.word);
}

// What a restricted effect specification says after its terms.
struct RestrictedArgument {
  int count = 0;
  SpecialModel special_model;
  RestrictionCode restriction;
  int reserved_per_term = 0;
  int mar_restrictions = 0;
  int mar_c = 0;
  int mar_b = 0;
  int mar_extra = 0;
  DesignInteraction interaction = DesignInteraction::kA;
  int multiplier = 0;
  bool closed = false;
};

// The terms of a specification, each as a new design of submodel index; the word after them
// is current.
std::vector<Membership> ReadRestrictedTerms(Reader& reader, InputRun& run, int index, int n,
                                            const std::string& name, bool is_log,
                                            const std::string& submodel_term) {
  ModelState& model = run.model;
  const DesignFamily family = FamilyOf(CommandKey(name));
  const int covariate = CovariateVariable(model);
  std::vector<Membership> terms;
  ReadCurrentWord(reader);
  for (;;) {
    Submodel& submodel = model.submodels[index];
    const Membership marks = SubmodelTerm(reader, run, submodel, n, "", name + "()", submodel_term);
    Design& design = NewDesign(submodel, submodel.DesignTermCount());
    for (int v = 0; v < n; ++v) design.DesignVariables[v] = marks[v] != 0 ? 1 : 0;
    design.cells = CellsOf(model, marks, n);
    design.loglinear = is_log;
    terms.push_back(marks);
    if (covariate >= 0 && covariate < n && marks[covariate] != 0 &&
        !(family == DesignFamily::kCovariate && terms.size() == 1)) {
      StopRun("  Error: incorrect use of continuous covariate");
    }
    if (WordEndsWith(reader.word, ')')) {
      StopRun("  Error: a number is missing in command " + name + "()");
    }
    const std::string& next = ReadCurrentWord(reader);
    if (family == DesignFamily::kFixedWeights || next.empty() || BeginsWithDigit(next)) break;
    if (IsRestriction(family) && next[0] >= 'a' && next[0] <= 'e') break;
  }
  return terms;
}

// The model of spe (a digit and a or b) and its number of parameters for the first term.
void ReadSpecialModel(Reader& reader, InputRun& run, const Membership& first_term,
                      RestrictedArgument& arg) {
  const std::string& word = reader.word;
  if (word.size() < 2 || !BeginsWithDigit(word, '1') || (word[1] != 'a' && word[1] != 'b')) {
    StopRun("  Error: model \"" + word + "\" specified in spe() does not exist");
  }
  arg.special_model = *SpecialModelOf(word[0], word[1]);
  arg.count = SpecialParamCount(run, arg.special_model, first_term);
  arg.closed = WordEndsWith(word, ')');
}

// lin and log: the restriction letter and the number of restrictions.
void ReadLinLogRestriction(Reader& reader, InputRun& run, const std::string& name,
                           RestrictedArgument& arg) {
  arg.restriction.sense = ReadRestrictionLetter(reader, run, name);
  if (arg.restriction.WithTargets()) arg.reserved_per_term = 1;
  arg.count = ReadCountWord(
      reader, "  Error: number of restrictions not specified in command " + name + "()");
  arg.closed = WordEndsWith(reader.word, ')');
}

// A further count of mar after the number of restrictions (the elements of a matrix).
int ReadMarCount(Reader& reader, InputRun& run, bool closed, const std::string& message) {
  if (closed) StopRun(message);
  ReadCurrentWord(reader);
  return ReadCountWord(reader, message);
}

// mar: the form letter, the restriction letter, the number of restrictions and, for the forms
// c and d, the elements of their matrices.
void ReadMarRestriction(Reader& reader, InputRun& run, const std::string& name,
                        RestrictedArgument& arg) {
  const std::string first = reader.word;
  const std::optional<MarginalForm> form =
      first.empty() ? std::nullopt : MarginalFormOfLetter(first[0]);
  if (!form) {
    StopRun("  Error: restriction type \"" + first.substr(0, 1) + "\" used in " + name +
            "() does not exist");
  }
  arg.restriction.form = *form;
  ReadCurrentWord(reader);
  arg.restriction.sense = ReadRestrictionLetter(reader, run, name);
  if (arg.restriction.WithTargets()) arg.reserved_per_term = 1;
  arg.mar_restrictions = ReadCountWord(
      reader, "  Error: number of restrictions not specified in command " + name + "()");
  arg.count = arg.mar_restrictions;
  arg.closed = WordEndsWith(reader.word, ')');
  if (*form == MarginalForm::kExpLogContrasts) {
    arg.mar_c = ReadMarCount(
        reader, run, arg.closed,
        "  Error: number of elements C matrix not specified in command " + name + "()");
    arg.closed = WordEndsWith(reader.word, ')');
  }
  if (*form == MarginalForm::kLogContrasts || *form == MarginalForm::kExpLogContrasts) {
    arg.mar_b = ReadMarCount(
        reader, run, arg.closed,
        "  Error: number of elements B matrix not specified in command " + name + "()");
    arg.closed = WordEndsWith(reader.word, ')');
  }
}

// The number, model or restriction after the terms (the word after them is current), and for
// mar its optional further number; the word after them is current unless the bracket closed.
void ReadRestrictedArgument(Reader& reader, InputRun& run, const std::string& name,
                            const Membership& first_term, RestrictedArgument& arg) {
  const DesignFamily family = FamilyOf(CommandKey(name));
  if (family == DesignFamily::kSpecial) {
    ReadSpecialModel(reader, run, first_term, arg);
  } else if (family == DesignFamily::kLinLog) {
    ReadLinLogRestriction(reader, run, name, arg);
  } else if (family == DesignFamily::kMarginal) {
    ReadMarRestriction(reader, run, name, arg);
  } else {
    arg.count = WordToInteger(reader.word);
    arg.closed = WordEndsWith(reader.word, ')');
  }
  if (!arg.closed) {
    ReadCurrentWord(reader);
    if (family == DesignFamily::kMarginal && IsNumberWord(reader.word)) {
      arg.mar_extra = WordToInteger(reader.word);
      arg.closed = WordEndsWith(reader.word, ')');
      if (!arg.closed) ReadCurrentWord(reader);
    }
  }
  if (!arg.closed && reader.word == ")") arg.closed = true;
}

// The grouping variables (the current word), checked against the submodel and the terms and
// marked 255 (a grouping variable) in the submodel's designs from first_design on.
Membership ReadGroupingTerm(Reader& reader, InputRun& run, int index, int n,
                            const std::string& name, const std::vector<Membership>& terms,
                            int first_design, const std::string& submodel_term) {
  ModelState& model = run.model;
  if (reader.word.empty() || EndsList(reader.word)) {
    StopRun("  Error: a \")\" expected in command " + name + "()");
  }
  Submodel& submodel = model.submodels[index];
  Membership group{};
  ParseTerm(reader, run.model, reader.word, group, n, false);
  for (int v = 0; v < n; ++v) {
    if (group[v] == 0) continue;
    if (submodel.SubmodelVariables[v] == 0) {
      StopRun("  Error: group variable " + model.VariableLabel[v] + " used in " + name +
              "() not in subtable " + submodel_term);
    }
    for (const Membership& term : terms) {
      if (term[v] != 0)
        StopRun("  Error: group margin in " + name + "() contains an effect variable");
    }
  }
  if (IsRestriction(FamilyOf(CommandKey(name)))) {
    StopRun("  Error: grouping variable not available in command " + name + "()");
  }
  const int covariate = CovariateVariable(model);
  if (covariate >= 0 && covariate < n && group[covariate] != 0) {
    for (int v = 0; v < n; ++v) {
      if (v != covariate && group[v] != 0) {
        StopRun("  Error: incorrect use of continuous covariate as grouping variable");
      }
    }
  }
  for (int d = first_design; d < submodel.DesignTermCount(); ++d) {
    for (int v = 0; v < n; ++v) {
      if (group[v] != 0) submodel.designs[d].DesignVariables[v] = 255;
    }
  }
  return group;
}

// The interaction letter a to c after the grouping term and its optional number.
void ReadInteraction(Reader& reader, InputRun& run, const std::string& name,
                     RestrictedArgument& arg) {
  arg.closed = WordEndsWith(reader.word, ')');
  if (arg.closed) return;
  const std::string letter = ReadCurrentWord(reader);
  if (letter == ")") {
    arg.closed = true;
    return;
  }
  if (letter.empty() || letter[0] < 'a' || letter[0] > 'c') {
    StopRun("  Error: interaction type \"" + letter.substr(0, 1) + "\" used in " + name +
            "() does not exist");
  }
  arg.interaction = static_cast<DesignInteraction>(letter[0] - 'a');
  arg.closed = WordEndsWith(letter, ')');
  if (arg.closed) return;
  ReadCurrentWord(reader);
  if (IsNumberWord(reader.word)) {
    arg.multiplier = WordToInteger(reader.word);
    arg.closed = WordEndsWith(reader.word, ')');
    if (!arg.closed) ReadCurrentWord(reader);
  }
  if (!arg.closed && reader.word == ")") arg.closed = true;
}

// The continuous covariate as grouping variable: the number after the interaction letter,
// which goes to the model-wide list of covariate counts.
void CheckGroupingCovariate(ModelState& model, int n, const Membership& group,
                            const RestrictedArgument& arg) {
  const int covariate = CovariateVariable(model);
  if (covariate < 0 || covariate >= n || group[covariate] == 0) return;
  if (arg.multiplier == 0 ||
      std::abs(static_cast<std::int64_t>(arg.multiplier)) > model.CovariateCount) {
    StopRun("  Error: impossible number for continuous covariate as grouping variable");
  }
  model.covariate_counts.push_back(arg.multiplier);
}

// The continuous covariate as an effect variable of the first term: the count, which goes to
// the model-wide list of covariate counts.
void CheckEffectCovariate(ModelState& model, int n, const Membership& first_term, int count) {
  const int covariate = CovariateVariable(model);
  if (covariate < 0 || covariate >= n || first_term[covariate] == 0) return;
  Membership others = first_term;
  others[covariate] = 0;
  const std::int64_t other_cells = CellsOf(model, others, n);
  if (count < 1 || count + other_cells - 1 > model.CovariateCount) {
    StopRun("  Error: impossible number for the continuous covariate");
  }
  model.covariate_counts.push_back(count);
}

// Every design of one specification gets the same codes; letters c and d reserve one more
// design per term.
void StoreRestrictedDesigns(Submodel& submodel, int first_design, DesignFamily family,
                            int term_count, const RestrictedArgument& arg) {
  const int last_design = submodel.DesignTermCount();
  for (int d = first_design; d < last_design; ++d) {
    Design& design = submodel.designs[d];
    design.family = family;
    design.special_model = arg.special_model;
    design.interaction = arg.interaction;
    design.DesignCountParam = arg.count;
    design.DesignRestriction = arg.restriction;
    design.DesignSpecTerms = term_count;
    design.group_multiplier = arg.multiplier;
    design.mar_restrictions = arg.mar_restrictions;
    design.mar_c_elements = arg.mar_c;
    design.mar_b_elements = arg.mar_b;
    design.mar_extra = arg.mar_extra;
  }
  for (int t = 0; t < arg.reserved_per_term * term_count; ++t) {
    Design& extra = NewDesign(submodel, submodel.DesignTermCount());
    extra = submodel.designs[first_design + t];
    extra.reserved = true;
  }
}

// The row, column and (optional) group terms of an association effect, marked 1, 2 and 3 in
// its variables; returns the word after them, the model type.
std::string ReadAssociationTerms(Reader& reader, InputRun& run, int index, int n,
                                 const std::string& submodel_term, AssocEffect& effect) {
  const ModelState& model = run.model;
  ReadCurrentWord(reader);
  const Submodel& submodel = model.submodels[index];
  const Membership rows = SubmodelTerm(reader, run, submodel, n, "row", "ass()", submodel_term);
  ReadCurrentWord(reader);
  const Membership columns =
      SubmodelTerm(reader, run, submodel, n, "column", "ass()", submodel_term);
  for (int v = 0; v < n; ++v) {
    if (rows[v] != 0) effect.AssocVariables[v] = 1;
  }
  for (int v = 0; v < n; ++v) {
    if (columns[v] != 0 && effect.AssocVariables[v] == 0) effect.AssocVariables[v] = 2;
  }
  effect.rows = CellsOf(model, rows, n);
  effect.columns = CellsOf(model, columns, n);
  effect.groups = 1;
  std::string type_word = ReadCurrentWord(reader);
  const bool type_like =
      !type_word.empty() && (type_word[0] == '0' || BeginsWithDigit(type_word, '2'));
  if (!type_like) {
    const Membership groups =
        SubmodelTerm(reader, run, submodel, n, "group", "ass()", submodel_term);
    for (int v = 0; v < n; ++v) {
      if (groups[v] != 0) effect.AssocVariables[v] = 3;
    }
    effect.groups = CellsOf(model, groups, n);
    type_word = ReadCurrentWord(reader);
  }
  return type_word;
}

// The model type: a digit and a letter, optionally closed by ")"; returns whether it closed
// the effect.
bool ReadAssociationType(const std::string& type_word, AssocEffect& effect) {
  const bool type_closed = type_word.size() == 3 && type_word[2] == ')';
  const std::string model_text = type_word.substr(0, 2);
  const bool shaped = type_word.size() == 2 || type_closed;
  const std::optional<AssociationModel> type =
      shaped ? AssociationModelOf(type_word[0], type_word[1]) : std::nullopt;
  if (!type) StopRun("  Error: association model " + model_text + " does not exist");
  if (type->scores == AssociationScores::kSymmetric && effect.rows != effect.columns) {
    StopRun("  Error: unequal number of rows and columns in association model " + model_text);
  }
  effect.scores = type->scores;
  effect.layers = type->layers;
  return type_closed;
}

// After an open type word: the symmetry letter, then up to three numbers of dimensions (rows,
// columns, groups), and the closing bracket.
void ReadSymmetryAndDimensions(Reader& reader, InputRun& run, AssocEffect& effect) {
  std::string item = ReadCurrentWord(reader);
  bool closed = false;
  const std::optional<ScoreSymmetry> symmetry =
      item.empty() ? std::nullopt : ScoreSymmetryOfLetter(item[0]);
  if (symmetry && (item.size() == 1 || (item.size() == 2 && item[1] == ')'))) {
    effect.symmetry = *symmetry;
    if (effect.groups > 1) {
      StopRun("  Error: symmetry not allowed in heterogeneous association models");
    }
    closed = WordEndsWith(item, ')');
    if (!closed) item = ReadCurrentWord(reader);
  }
  for (int k = 0; k < 3 && !closed; ++k) {
    if (item == ")") {
      closed = true;
      break;
    }
    if (IsNumberWord(item) || item == "-") {
      effect.AssocDimensions[k] = WordToInteger(item);
      closed = WordEndsWith(item, ')');
      if (!closed) item = ReadCurrentWord(reader);
    } else if (item.size() > 1) {
      StopRun("  Error: number of rows, columns, or groups expected in ass(ociation_model)");
    } else {
      break;
    }
  }
  if (!closed && item != ")") StopRun("  Error: a \")\" expected in command ass()");
}

// Rows and columns change roles: their marks, counts and numbers of dimensions.
void ExchangeRowsAndColumns(AssocEffect& effect, int n) {
  for (int v = 0; v < n; ++v) {
    std::uint8_t& mark = effect.AssocVariables[v];
    if (mark == 1 || mark == 2) mark = static_cast<std::uint8_t>(3 - mark);
  }
  std::swap(effect.rows, effect.columns);
  std::swap(effect.AssocDimensions[0], effect.AssocDimensions[1]);
}

// The positions of the effect's scores in the association parameter vector (a symmetric model
// shares its row scores with the columns), and the model's largest rows, columns and groups.
void PlaceScores(ModelState& model, AssocEffect& e) {
  e.row_score_position = model.assoc_score_count;
  model.assoc_score_count += e.rows;
  if (e.scores == AssociationScores::kSymmetric) {
    e.column_score_position = e.row_score_position;
  } else {
    e.column_score_position = model.assoc_score_count;
    model.assoc_score_count += e.columns;
  }
  e.group_score_position = model.assoc_score_count;
  model.assoc_score_count += e.groups;
  model.assoc_max_rows = std::max(model.assoc_max_rows, e.rows);
  model.assoc_max_columns = std::max(model.assoc_max_columns, e.columns);
  model.assoc_max_groups = std::max(model.assoc_max_groups, e.groups);
}

// Row and column effects: the second effect of the pair is the first with rows and columns
// exchanged. The letter d lets the rows vary over the groups (first c, second a), e the
// columns (first a, second c); a, b and c hold for both.
void AddExchangedPair(ModelState& model, Submodel& target, int first_effect, int n) {
  AssocEffect second = target.assoc[first_effect];
  ExchangeRowsAndColumns(second, n);
  second.pair_second = true;
  const LayerVariation letter = target.assoc[first_effect].layers;
  if (letter == LayerVariation::kRowScores || letter == LayerVariation::kColumnScores) {
    const bool rows = letter == LayerVariation::kRowScores;
    target.assoc[first_effect].layers = rows ? LayerVariation::kAll : LayerVariation::kNone;
    second.layers = rows ? LayerVariation::kNone : LayerVariation::kAll;
  }
  AssocEffect& added = NewRowColumnEffect(target, target.AssocCount());
  added = second;
  PlaceScores(model, added);
}

}  // namespace

int SpecialParamCount(const InputRun& run, SpecialModel special, const Membership& term) {
  const ModelState& model = run.model;
  std::vector<int> dims;
  for (int v = 0; v < kVectorSize; ++v) {
    if (term[v] == 1) dims.push_back(model.Dimension[v]);
  }
  using enum SpecialFamily;
  const SpecialFamily a = special.family;
  const std::int64_t k = static_cast<std::int64_t>(dims.size());
  const std::int64_t d = dims.empty() ? 1 : dims[0];
  const std::int64_t d2 = dims.size() > 1 ? dims[1] : 1;
  const bool square = a == kSymmetry || a == kQuasiSymmetry || a == kDiagonal ||
                      a == kVariableRanks || a == kCategoryPositions;
  if (square && std::any_of(dims.begin(), dims.end(), [d](int x) { return x != d; })) {
    StopRun("  Error: a \"square\" interaction term expected in spe()");
  }
  if ((a == kSignedDistance || a == kAbsoluteDistance) && k != 2) {
    StopRun("  Error: a two-variable interaction term expected in spe()");
  }
  if (special.single_parameter) return 1;
  // The number of multisets of size k from d categories: C(d + k - 1, k).
  auto multisets = [&] {
    double value = 1;
    for (std::int64_t i = 1; i <= k; ++i) value = value * static_cast<double>(d - 1 + i) / i;
    return static_cast<std::int64_t>(std::min(std::round(value), static_cast<double>(kIntMax)));
  };
  switch (a) {
    case kInteraction: {
      std::int64_t count = 1;
      for (int dim : dims) count = std::min(count * (dim - 1), kIntMax);
      return Clamp(count);
    }
    case kCategorySum: {
      std::int64_t count = 1;
      for (int dim : dims) count = std::min(count + dim - 1, kIntMax);
      return Clamp(count);
    }
    case kSymmetry:
      return Clamp(multisets());
    case kQuasiSymmetry:
      return Clamp(multisets() - d);
    case kDiagonal:
      return Clamp(d);
    case kVariableRanks:
      return Clamp(k - 1);
    case kCategoryPositions:
      return Clamp(d - 1);
    case kSignedDistance:
      return Clamp(d + d2 - 1);
    case kAbsoluteDistance:
      break;
  }
  return Clamp(std::max(d, d2));
}

void ParseRestrictedEffect(Reader& reader, InputRun& run, int index, int n,
                           const std::string& submodel_term) {
  ModelState& model = run.model;
  std::string name = reader.word;
  if (WordEndsWith(name, '(')) name.pop_back();
  reader.command = name;
  const std::string key = CommandKey(name);
  const DesignFamily family = FamilyOf(key);
  if (!WordEndsWith(reader.word, '(') && ReadCurrentWord(reader) != "(") {
    StopRun("  Error: a \"(\" expected in command " + name + "()");
  }
  const int first_design = model.submodels[index].DesignTermCount();
  const std::vector<Membership> terms =
      ReadRestrictedTerms(reader, run, index, n, name, key == "log", submodel_term);
  RestrictedArgument arg;
  ReadRestrictedArgument(reader, run, name, terms.front(), arg);
  if (!arg.closed) {
    const Membership group =
        ReadGroupingTerm(reader, run, index, n, name, terms, first_design, submodel_term);
    ReadInteraction(reader, run, name, arg);
    CheckGroupingCovariate(model, n, group, arg);
  }
  if (!arg.closed) StopRun("  Error: a \")\" expected in command " + name + "()");
  CheckEffectCovariate(model, n, terms.front(), arg.count);
  StoreRestrictedDesigns(model.submodels[index], first_design, family,
                         static_cast<int>(terms.size()), arg);
}

void ParseAssociation(Reader& reader, InputRun& run, int index, int n,
                      const std::string& submodel_term) {
  ModelState& model = run.model;
  const std::string word = reader.word;
  const AssociationFamily family = AssociationFamilyOfWord(word);
  reader.command = "ass";
  if (!WordEndsWith(word, '(') && ReadCurrentWord(reader) != "(") {
    StopRun("  Error: a \"(\" expected command ass()");
  }
  const int first_effect = model.submodels[index].AssocCount();
  AssocEffect& effect = NewRowColumnEffect(model.submodels[index], first_effect);
  effect.family = family;
  const std::string type_word = ReadAssociationTerms(reader, run, index, n, submodel_term, effect);
  if (!ReadAssociationType(type_word, effect)) ReadSymmetryAndDimensions(reader, run, effect);
  if (effect.scores == AssociationScores::kColumnEffects) ExchangeRowsAndColumns(effect, n);
  PlaceScores(model, effect);
  if (effect.scores == AssociationScores::kRowColumnEffects) {
    AddExchangedPair(model, model.submodels[index], first_effect, n);
  }
}

}  // namespace tav
