// Association models (ass): row, column and layer scores of association terms in log-linear
// submodels and in the hazard part, fitted by the association M-step
// (estimation/association_model.h) before the submodel's model terms. Their parameters are
// counted; the report shows a block per term after the submodel's table.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "core/elementary.h"
#include "estimation/association_model.h"
#include "estimation/design_effects.h"
#include "estimation/families/families.h"
#include "estimation/hazard_model.h"
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
    return parameter.submodel == HazardWorkOf(run).table;
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
  std::vector<ParameterBlock> ParameterBlocks(const EstimationRun& run, BlockPlace place,
                                              int t) const override {
    const std::vector<std::vector<AssociationWork>>& all = AssociationTerms(run);
    const int all_index = run.model.SubmodelCount + 1;
    std::vector<ParameterBlock> blocks;
    if (place == BlockPlace::kAfterSubmodels && run.model.HasAllSubmodel) {
      for (int r = 0; r < static_cast<int>(all.size()); ++r) {
        for (int index = 0; index < static_cast<int>(all[r].size()); ++index) {
          if (all[r][index].source == all_index) blocks.push_back(TermBlock(run, r, index));
        }
      }
      return blocks;
    }
    if (place != BlockPlace::kAfterTableEnd) return blocks;
    if (t < 0 || t >= static_cast<int>(all.size())) return blocks;
    for (int index = 0; index < static_cast<int>(all[t].size()); ++index) {
      if (all[t][index].source == t) blocks.push_back(TermBlock(run, t, index));
    }
    return blocks;
  }

 private:
  // The heading of an association term: its type and the labels of its sides, as written (digit
  // 4 exchanges the roles of rows and columns).
  static std::string TermHeading(const ModelState& model, const AssociationWork& w,
                                 const AssocEffect& term) {
    const bool exchanged = w.scores == AssociationScores::kColumnEffects;
    std::string heading =
        "type " + IntegerText(AssociationFamilyNumber(w.family)) + " association (";
    if (w.layers > 1 || MarkedLabels(model, term, 3) != "-") {
      heading += "group=" + MarkedLabels(model, term, 3) + " ";
    }
    heading += "row=" + MarkedLabels(model, term, exchanged ? 2 : 1) +
               " column=" + MarkedLabels(model, term, exchanged ? 1 : 2) + ")";
    return heading;
  }

  // The side of values[first .. first + count) of the term's value layout.
  static ScoreSide LayoutSide(const std::string& label, const std::vector<double>& values,
                              int first, int count, int n, int group, bool parameter) {
    ScoreSide side;
    side.label = label;
    side.values.assign(values.begin() + first, values.begin() + first + count);
    side.n = n;
    side.group = group;
    side.parameter = parameter;
    side.layout_offset = first;
    return side;
  }

  // The block of association term `index` of submodel t's work: its heading, the directions in
  // which its free parameters move its values, its association parameters where they are
  // estimated, its scores, and for log-multiplicative terms their adjusted forms.
  static ParameterBlock TermBlock(const EstimationRun& run, int t, int index) {
    const ModelState& model = run.model;
    const AssociationWork& w = AssociationTerms(run)[t][index];
    const AssocEffect& term = model.submodels[w.source].assoc[w.term];
    ParameterBlock block;
    block.kind = ParameterBlock::Kind::kAssociation;
    block.heading = TermHeading(model, w, term);

    const std::vector<double> values = AssociationValues(w);
    const int p = static_cast<int>(values.size());
    block.directions = AssociationDirections(w);
    block.estimated.assign(p, 0);
    for (const std::vector<double>& d : block.directions) {
      for (int a = 0; a < p; ++a) block.estimated[a] |= std::fabs(d[a]) > 1e-12;
    }
    block.first_position = FirstFreePosition(run.estimation.free_parameters, t, index);

    const bool exchanged = w.scores == AssociationScores::kColumnEffects;
    const int phi_count = w.phi_layers ? w.layers : 1;
    const int row_start = phi_count;
    const int column_start = row_start + static_cast<int>(w.row_scores.size());
    if (w.phi_estimated) {
      block.sides.push_back(LayoutSide("association", values, 0, phi_count, phi_count, 0, true));
    }
    const std::string row_side = exchanged ? "column" : "row";
    const std::string column_side = exchanged ? "row" : "column";
    const int row_group = LastDimension(model, term, 1);
    const int column_group = LastDimension(model, term, 2);
    const bool multiplicative = w.family == AssociationFamily::kLogMultiplicative;
    if (w.rows_estimated || multiplicative) {
      block.sides.push_back(LayoutSide(row_side, values, row_start,
                                       static_cast<int>(w.row_scores.size()), w.rows, row_group,
                                       false));
    }
    if (!w.symmetric && (w.columns_estimated || multiplicative)) {
      block.sides.push_back(LayoutSide(column_side, values, column_start,
                                       static_cast<int>(w.column_scores.size()), w.columns,
                                       column_group, false));
    }
    if (multiplicative && w.scaling <= 3) {
      block.sides.push_back({"adj " + row_side, AdjustedScores(w, false), w.rows, row_group});
      if (!w.symmetric) {
        block.sides.push_back(
            {"adj " + column_side, AdjustedScores(w, true), w.columns, column_group});
      }
    }
    return block;
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
