// Association models (ass): row, column and layer scores of association terms in log-linear
// submodels and in the hazard part, fitted by the association M-step
// (estimation/association_model.h) before the submodel's model terms. Their parameters are
// counted; the report shows a block per term after the submodel's table.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "core/elementary.h"
#include "core/format_real.h"
#include "estimation/association_model.h"
#include "estimation/design_effects.h"
#include "estimation/families/families.h"
#include "estimation/marginal_restrictions.h"
#include "input/reader.h"

namespace tav {
namespace {

// The labels of the term's variables with mark, in model order (the time and risk variables of
// the hazard part last); "-" when there are none.
std::string MarkedLabels(const ModelState& model, const AssocEffect& term, int mark) {
  std::string labels;
  for (int v = 0; v < kVectorSize; ++v) {
    if (term.AssocVariables[v] == mark) labels += model.VariableLabel[v];
  }
  return labels.empty() ? "-" : labels;
}

// The dimension of the last variable with mark: the values of one group of cells of that side.
int LastDimension(const ModelState& model, const AssocEffect& term, int mark) {
  int dimension = 0;
  for (int v = 0; v < kVectorSize; ++v) {
    if (term.AssocVariables[v] == mark) dimension = model.Dimension[v];
  }
  return std::max(dimension, 1);
}

// Lines of cells after a 14-character head: six cells a line, and a new line where a group of
// `group` cells begins; the continuation lines start with 14 blanks.
void WriteCellLines(const std::string& head, const std::vector<std::string>& cells, int group,
                    ParameterBlockWriter& writer) {
  std::string line = head;
  line.resize(14, ' ');
  int on_line = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (on_line == 6 || (on_line > 0 && group > 0 && i % group == 0)) {
      writer.WriteLine(line);
      line.assign(14, ' ');
      on_line = 0;
    }
    line += cells[i];
    ++on_line;
  }
  writer.WriteLine(line);
}

// The cell of a value: association parameters fixed 9.4, scores a blank and fixed 8.4.
std::string ValueCell(double value, bool parameter) {
  if (parameter) return FormatReal(9, 4, value);
  std::string cell = " ";
  cell += FormatReal(8, 4, value);
  return cell;
}

// The cell of a standard error: blanks for a value that is not estimated, asterisks for one
// whose variance is not positive.
std::string StdErrCell(double variance, bool estimated, bool parameter) {
  const int width = parameter ? 9 : 9;
  if (!estimated) return std::string(width, ' ');
  if (!(variance > 0)) return parameter ? "   ******" : "  ******";
  return ValueCell(std::sqrt(variance), parameter);
}

// The lines of one side's values (a block of n per score block, or the association
// parameters), each group of lines followed by their standard errors when these are shown:
// values[first .. first + count) of the term's value layout, variances and estimated marks
// alike.
void WriteSide(const std::string& label, const std::vector<double>& values, int first, int count,
               int n, int group, bool parameter, const std::vector<double>* variances,
               const std::vector<char>& estimated, ParameterBlockWriter& writer,
               bool record = true) {
  const int blocks = n > 0 ? count / n : 0;
  for (int b = 0; b < blocks; ++b) {
    std::string head = "  " + label;
    if (blocks > 1 && !parameter) {
      head += ' ';
      head += IntegerText(b + 1);
    }
    std::vector<std::string> cells;
    std::vector<std::string> errors;
    for (int i = 0; i < n; ++i) {
      const int at = first + b * n + i;
      cells.push_back(ValueCell(values[at], parameter));
      if (variances != nullptr) {
        errors.push_back(StdErrCell((*variances)[at], estimated[at] != 0, parameter));
      }
    }
    WriteCellLines(head, cells, group, writer);
    if (variances != nullptr) WriteCellLines("  s.e.", errors, group, writer);
    // The results document: the values with their standard errors, labelled with the side, the
    // block (several) and the category (scores).
    for (int i = 0; i < n && record; ++i) {
      const int at = first + b * n + i;
      std::string name = head.substr(2);
      if (!parameter || n > 1) {
        name += ' ';
        name += IntegerText(i + 1);
      }
      const double variance = variances != nullptr ? (*variances)[at] : NAN;
      writer.RecordValue(name, values[at],
                         estimated[at] != 0 && variance > 0 ? std::sqrt(variance) : NAN);
    }
  }
}

// The place in the free-parameter list of the first direction of association term `index` of
// submodel t, or -1.
int FirstFreePosition(const FreeParameterList& list, int t, int index) {
  for (std::size_t i = 0; i < list.parameters.size(); ++i) {
    const FreeParameter& parameter = list.parameters[i];
    if (parameter.submodel == t && parameter.assoc == index && parameter.position == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// The tables that submodel r's association terms act on: r itself (the hazard part
// included), or for `all` the submodels its terms are aimed at.
std::vector<int> TermTables(const EstimationRun& run, int r) {
  const Submodel* submodel = SubmodelAt(run.model, r);
  std::vector<int> tables;
  if (submodel == nullptr || submodel->assoc.empty()) return tables;
  if (r > run.model.SubmodelCount) {
    for (const AssocEffect& term : submodel->assoc) tables.push_back(term.target_submodel);
  } else {
    tables.push_back(r);
  }
  return tables;
}

// Discrete time: the terms of the hazard part contrast the risks of one state when the risk
// variable alone is their row or their column term and the risks leave from one state. The
// transition probabilities of a state sum to 1, so what a term adds equally to all risks of a
// state falls out; with these terms nothing of the term does, and it is identified as in a
// table whose row and column margins are fitted.
bool ContrastsTheRisks(const EstimationRun& run, const Submodel& hazard) {
  const EventHistoryState& history = run.history;
  int origins = 0;
  for (int a = 0; a < history.StateCount; ++a) {
    bool leaves = false;
    for (int b = 0; b < history.StateCount; ++b) leaves = leaves || history.RiskOf(a, b) != 0;
    origins += leaves ? 1 : 0;
  }
  if (origins > 1) return false;
  const int risk = run.model.VariableCount + 1;
  for (const AssocEffect& term : hazard.assoc) {
    // The side of the risk variable (1 rows, 2 columns), with no other variable on it.
    const int side = term.AssocVariables[risk];
    if (side != 1 && side != 2) return false;
    for (int v = 0; v < kVectorSize; ++v) {
      if (v != risk && term.AssocVariables[v] == side) return false;
    }
  }
  return true;
}

// The reason submodel r's association terms cannot be estimated, as the text of the error
// message, or empty.
std::string Refused(const EstimationRun& run, int r) {
  const ModelState& model = run.model;
  for (int t : TermTables(run, r)) {
    const Submodel* table = SubmodelAt(model, t);
    if (table == nullptr) continue;
    if (table->IsCumulative()) {
      return "association models (ass) are not possible in a cumulative submodel (cum): the "
             "association step fits a term of a log-linear table, and the cells of a cum model "
             "are differences of cumulative probabilities; give fixed scores as a cov() design";
    }
    if (table->LinLogSubmodel) {
      return "association models (ass) are not possible beside lin() or log() restrictions: "
             "such a subtable is saturated but for its restrictions, so the term has no "
             "parameters left to estimate";
    }
    if (MarginalSaturated(model, t)) {
      return "association models (ass) are not possible beside mar() restrictions alone: such "
             "a subtable is saturated but for its restrictions, so the term has no parameters "
             "left to estimate";
    }
    if (run.history.HazardModel && t == model.SubmodelCount &&
        run.history.TimeKind == TimeModel::kDiscrete && !ContrastsTheRisks(run, *table)) {
      return "association models (ass) in a discrete-time haz need the risk variable R alone "
             "as their row or column term, and risks from one state: the transition "
             "probabilities of a state sum to 1, so a term that does not contrast them is not "
             "identified";
    }
  }
  return "";
}

// The construct of the "not available" message for what this version does not estimate of
// submodel r's association terms, or empty.
std::string Unsupported(const EstimationRun& run, int r) {
  for (int t : TermTables(run, r)) {
    const Submodel* table = SubmodelAt(run.model, t);
    if (table == nullptr) continue;
    // Beside mar() and model terms or designs (the marginal family, listed first, names the
    // submodel's own terms; this names those of `all` aimed at it).
    if (table->MarSubmodel != MarRestrictions::kNone) {
      return "association models beside mar() restrictions and model terms or design effects are";
    }
    // The margin of the continuous covariate stays fixed at the data.
    if (!table->IsLogLinear()) return "association models in a subtable fixed at the data are";
  }
  return "";
}

class Association : public ModelFamily {
 public:
  std::string_view Name() const override { return "association models"; }

  std::unique_ptr<FamilyState> NewState() const override {
    return std::make_unique<AssociationState>();
  }

  // A direction of a term's values moves the log of every cell of its submodel by the change
  // of the term's contribution along it.
  ParameterDirection DirectionOf(const EstimationRun& run,
                                 const FreeParameter& parameter) const override {
    ParameterDirection direction;
    direction.kind = ParameterDirection::Kind::kCells;
    direction.table = parameter.submodel;
    direction.x =
        AssociationCellChange(run, parameter.submodel, parameter.assoc, parameter.position);
    return direction;
  }
  bool Perturb(EstimationRun& run, const FreeParameter& parameter, double delta) const override {
    if (delta == 0) return true;
    const int r = parameter.submodel;
    const Submodel& submodel = run.model.submodels[r];
    double* fitted = run.estimation.FittedTable.data() + submodel.first_cell;
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    const double before = SubmodelTotal(run, r, fitted);
    const std::vector<double> change =
        AssociationCellChange(run, r, parameter.assoc, parameter.position);
    for (std::int64_t c = 0; c < cells && c < static_cast<std::int64_t>(change.size()); ++c) {
      if (change[c] != 0) fitted[c] *= Exp(delta * change[c]);
    }
    RestoreSubmodelForm(run, r, fitted, before);
    return true;
  }
  // The hazard part's rates enter the likelihood through exponentials of exposures, whose
  // curvature forward differences miss in the fourth digit.
  bool CentralDifferences(const EstimationRun& run, const FreeParameter& parameter) const override {
    return parameter.submodel == run.estimation.hazard.table;
  }

  std::string Refusal(const EstimationRun& run, int r) const override { return Refused(run, r); }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    return Unsupported(run, r);
  }

  void SetUp(EstimationRun& run) const override { SetUpAssociationTerms(run); }

  void FitSubmodel(EstimationRun& run, int r) const override { FitAssociationTerms(run, r); }

  // Per association term set up for submodel t, the directions in which its values move the
  // cells once their location and scale are fixed (AssociationDirections): its association
  // parameters, and the scores of the models of digit 3 and up, within the span of the groups
  // or design columns that a mapping or design gives them. The terms are set up before any
  // count is asked for.
  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    const Submodel* submodel = SubmodelAt(run.model, t);
    if (submodel == nullptr || submodel->IsSaturatedFixed()) return 0;
    std::int64_t count = 0;
    for (const std::vector<AssociationWork>& terms : AssociationTerms(run)) {
      for (const AssociationWork& w : terms) {
        if (w.source == t) count += static_cast<std::int64_t>(AssociationDirections(w).size());
      }
    }
    return count;
  }

  // Per association term of the log-linear submodels, its identified directions
  // (AssociationDirections), after the design effects.
  void ListFreeParameters(const EstimationRun& run, ParameterGroup group,
                          FreeParameterList& list) const override {
    if (group != ParameterGroup::kSpecialEffects) return;
    const std::vector<std::vector<AssociationWork>>& all = AssociationTerms(run);
    for (int r = 0; r < static_cast<int>(all.size()) && !list.full; ++r) {
      for (int i = 0; i < static_cast<int>(all[r].size()) && !list.full; ++i) {
        const int size = static_cast<int>(AssociationDirections(all[r][i]).size());
        if (size == 0) continue;
        FreeParameter parameter;
        parameter.submodel = r;
        const AssocEffect& term = run.model.submodels[all[r][i].source].assoc[all[r][i].term];
        for (int v = 0; v < kVectorSize; ++v) parameter.effect[v] = term.AssocVariables[v] != 0;
        parameter.assoc = i;
        list.AddEffect(parameter, size);
      }
    }
  }

  // After the empty line that ends submodel t's table, a block per association term of t; the
  // terms of `all` after the tables of all submodels, under "* ALL TABLES *".
  void WriteParameterBlocks(const EstimationRun& run, BlockPlace place, int t,
                            ParameterBlockWriter& writer) const override {
    const std::vector<std::vector<AssociationWork>>& all = AssociationTerms(run);
    const int all_index = run.model.SubmodelCount + 1;
    if (place == BlockPlace::kAfterSubmodels && run.model.HasAllSubmodel) {
      for (int r = 0; r < static_cast<int>(all.size()); ++r) {
        for (int index = 0; index < static_cast<int>(all[r].size()); ++index) {
          if (all[r][index].source == all_index) WriteTermBlock(run, r, index, writer);
        }
      }
      return;
    }
    if (place != BlockPlace::kAfterTableEnd) return;
    if (t < 0 || t >= static_cast<int>(all.size())) return;
    for (int index = 0; index < static_cast<int>(all[t].size()); ++index) {
      if (all[t][index].source == t) WriteTermBlock(run, t, index, writer);
    }
  }

 private:
  // The block of association term `index` of submodel t's work: its heading, its association
  // parameters where they are estimated, and its scores, each line with the standard errors of
  // its values below it when they are shown.
  static void WriteTermBlock(const EstimationRun& run, int t, int index,
                             ParameterBlockWriter& writer) {
    const ModelState& model = run.model;
    const AssociationWork& w = AssociationTerms(run)[t][index];
    const AssocEffect& term = model.submodels[w.source].assoc[w.term];
    // Digit 4 exchanged the roles: the heading names them as written.
    const bool exchanged = w.scores == AssociationScores::kColumnEffects;
    std::string heading =
        "type " + IntegerText(AssociationFamilyNumber(w.family)) + " association (";
    if (w.layers > 1 || MarkedLabels(model, term, 3) != "-") {
      heading += "group=" + MarkedLabels(model, term, 3) + " ";
    }
    heading += "row=" + MarkedLabels(model, term, exchanged ? 2 : 1) +
               " column=" + MarkedLabels(model, term, exchanged ? 1 : 2) + ")";
    writer.WriteHeading(heading);

    // The variances of the values, D V D' over the term's free directions.
    const std::vector<double> values = AssociationValues(w);
    const int p = static_cast<int>(values.size());
    const std::vector<std::vector<double>> directions = AssociationDirections(w);
    std::vector<char> estimated(p, 0);
    for (const std::vector<double>& d : directions) {
      for (int a = 0; a < p; ++a) estimated[a] |= std::fabs(d[a]) > 1e-12;
    }
    std::vector<double> variances(p, 0.0);
    bool shown = writer.ShowsStdErrors();
    if (shown) {
      const int first = FirstFreePosition(run.estimation.free_parameters, t, index);
      shown = first >= 0;
      const int n = static_cast<int>(directions.size());
      for (int i = 0; i < n && shown; ++i) {
        for (int j = 0; j < n; ++j) {
          const double v = writer.Covariance(first + i, first + j);
          if (!std::isfinite(v)) continue;
          for (int a = 0; a < p; ++a) variances[a] += directions[i][a] * directions[j][a] * v;
        }
      }
    }
    const std::vector<double>* errors = shown ? &variances : nullptr;
    const int phi_count = w.phi_layers ? w.layers : 1;
    const int row_start = phi_count;
    const int column_start = row_start + static_cast<int>(w.row_scores.size());
    if (w.phi_estimated) {
      WriteSide("association", values, 0, phi_count, phi_count, 0, true, errors, estimated, writer);
    }
    const std::string row_side = exchanged ? "column" : "row";
    const std::string column_side = exchanged ? "row" : "column";
    const int row_group = LastDimension(model, term, 1);
    const int column_group = LastDimension(model, term, 2);
    if (w.rows_estimated || w.family == AssociationFamily::kLogMultiplicative) {
      WriteSide(row_side, values, row_start, static_cast<int>(w.row_scores.size()), w.rows,
                row_group, false, errors, estimated, writer);
    }
    if (!w.symmetric &&
        (w.columns_estimated || w.family == AssociationFamily::kLogMultiplicative)) {
      WriteSide(column_side, values, column_start, static_cast<int>(w.column_scores.size()),
                w.columns, column_group, false, errors, estimated, writer);
    }
    if (w.family == AssociationFamily::kLogMultiplicative && w.scaling <= 3) {
      const std::vector<double> adjusted_rows = AdjustedScores(w, false);
      WriteSide("adj " + row_side, adjusted_rows, 0, static_cast<int>(adjusted_rows.size()), w.rows,
                row_group, false, nullptr, estimated, writer, false);
      if (!w.symmetric) {
        const std::vector<double> adjusted_columns = AdjustedScores(w, true);
        WriteSide("adj " + column_side, adjusted_columns, 0,
                  static_cast<int>(adjusted_columns.size()), w.columns, column_group, false,
                  nullptr, estimated, writer, false);
      }
    }
    writer.WriteLine("");
  }
};

}  // namespace

const ModelFamily& AssociationFamily() {
  static const Association family;
  return family;
}

std::vector<std::vector<AssociationWork>>& AssociationTerms(EstimationRun& run) {
  return StateOf<AssociationState>(run, AssociationFamily()).terms;
}

const std::vector<std::vector<AssociationWork>>& AssociationTerms(const EstimationRun& run) {
  return StateOf<AssociationState>(run, AssociationFamily()).terms;
}

}  // namespace tav
