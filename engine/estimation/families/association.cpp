// Association models (ass): row, column and layer scores of association terms in log-linear
// submodels, fitted by the association M-step (estimation/association_model.h) before the
// submodel's model terms. Their parameters are counted; the report shows a block per term after
// the submodel's table.

#include <algorithm>
#include <cstdlib>

#include "core/format_real.h"
#include "estimation/association_model.h"
#include "estimation/families/families.h"
#include "input/reader.h"

namespace tav {
namespace {

// The labels of the term's variables with mark, in model order; "-" when there are none.
std::string MarkedLabels(const ModelState& model, const AssocEffect& term, int mark) {
  std::string labels;
  for (int v = 0; v < model.VariableCount; ++v) {
    if (term.AssocVariables[v] == mark) labels += model.VariableLabel[v];
  }
  return labels.empty() ? "-" : labels;
}

// The dimension of the last variable with mark: the values of one group of cells of that side.
int LastDimension(const ModelState& model, const AssocEffect& term, int mark) {
  int dimension = 0;
  for (int v = 0; v < model.VariableCount; ++v) {
    if (term.AssocVariables[v] == mark) dimension = model.Dimension[v];
  }
  return std::max(dimension, 1);
}

// Lines of values, each a blank and fixed width.4 (association parameters: fixed 9.4 without the
// blank), after a 14-character head: six values a line, and a new line where a group of `group`
// values begins; the continuation lines start with 14 blanks.
void WriteValueLines(const std::string& head, const double* values, int count, int group, int width,
                     ParameterBlockWriter& writer) {
  std::string line = head;
  line.resize(14, ' ');
  int on_line = 0;
  for (int i = 0; i < count; ++i) {
    if (on_line == 6 || (on_line > 0 && group > 0 && i % group == 0)) {
      writer.WriteLine(line);
      line.assign(14, ' ');
      on_line = 0;
    }
    if (width < 9) line += ' ';
    line += FormatReal(width, 4, values[i]);
    ++on_line;
  }
  writer.WriteLine(line);
}

// The score lines of one side: one line group per block, labelled with the side and, with
// several blocks, the block's number.
void WriteScoreLines(const std::string& side, const std::vector<double>& scores, int n, int group,
                     ParameterBlockWriter& writer) {
  const int blocks = n > 0 ? static_cast<int>(scores.size()) / n : 0;
  for (int b = 0; b < blocks; ++b) {
    std::string head = "  " + side;
    if (blocks > 1) {
      head += ' ';
      head += IntegerText(b + 1);
    }
    WriteValueLines(head, scores.data() + static_cast<std::size_t>(b) * n, n, group, 8, writer);
  }
}

// The construct of the "not available" message for what this version does not estimate of
// submodel r's association terms, or empty.
std::string Unsupported(const EstimationRun& run, int r) {
  const Submodel* submodel = SubmodelAt(run.model, r);
  if (submodel == nullptr || submodel->assoc.empty()) return "";
  if (r >= run.model.SubmodelCount) return "association models in all() or haz are";
  if (!submodel->IsLogLinear() || submodel->LinLogSubmodel || submodel->MarSubmodel != 0) {
    return "association models beside restrictions are";
  }
  for (const AssocEffect& term : submodel->assoc) {
    if (term.AssocDimensions[0] != 0 || term.AssocDimensions[1] != 0 ||
        term.AssocDimensions[2] != 0) {
      return "association scores with equality mappings or designs are";
    }
    if (term.symmetry != 0) return "symmetry letters of association models are";
  }
  return "";
}

class Association : public ModelFamily {
 public:
  std::string_view Name() const override { return "association models"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    return Unsupported(run, r);
  }

  void SetUp(EstimationRun& run) const override { SetUpAssociationTerms(run); }

  void FitSubmodel(EstimationRun& run, int r) const override { FitAssociationTerms(run, r); }

  // Per association term its association parameters (one, or one per group), then its row
  // scores beyond the two that are fixed, for the models of digit 3 and up.
  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    const Submodel* submodel = SubmodelAt(run.model, t);
    if (submodel == nullptr || submodel->IsSaturatedFixed()) return 0;
    std::int64_t count = 0;
    for (int i = 0; i < submodel->AssocCount(); ++i) {
      const AssocEffect& term = submodel->assoc[i];
      const int given_rows = term.AssocDimensions[term.pair_second ? 1 : 0];
      const std::int64_t rows = given_rows != 0 ? std::abs(given_rows) : term.rows;
      const std::int64_t groups =
          term.AssocDimensions[2] != 0 ? std::abs(term.AssocDimensions[2]) : term.groups;
      if (term.pair_second) {
        const AssocEffect& before = submodel->assoc[std::max(i - 1, 0)];
        if (i > 0 && before.model_letter == 'a' && term.model_letter != 'a') count += groups - 1;
      } else {
        count += term.model_letter == 'a' ? 1 : groups;
      }
      if (term.model_digit > 2) count += (rows - 2) * (term.model_letter >= 'c' ? groups : 1);
    }
    return count;
  }

  // After the empty line that ends submodel t's table: per term its heading, its association
  // parameters where they are estimated, and its scores.
  void WriteParameterBlocks(const EstimationRun& run, BlockPlace place, int t,
                            ParameterBlockWriter& writer) const override {
    if (place != BlockPlace::kAfterTableEnd) return;
    if (t < 0 || t >= static_cast<int>(run.estimation.association_work.size())) return;
    const ModelState& model = run.model;
    for (const AssociationWork& w : run.estimation.association_work[t]) {
      const AssocEffect& term = model.submodels[t].assoc[w.term];
      // Digit 4 exchanged the roles: the heading names them as written.
      const bool exchanged = w.digit == 4;
      std::string heading = "type " + IntegerText(w.family) + " association (";
      if (w.layers > 1 || MarkedLabels(model, term, 3) != "-") {
        heading += "group=" + MarkedLabels(model, term, 3) + " ";
      }
      heading += "row=" + MarkedLabels(model, term, exchanged ? 2 : 1) +
                 " column=" + MarkedLabels(model, term, exchanged ? 1 : 2) + ")";
      writer.WriteHeading(heading);
      if (w.phi_estimated) {
        const int count = w.phi_layers ? w.layers : 1;
        WriteValueLines("  association", w.phi.data(), count, 0, 9, writer);
      }
      const std::string row_side = exchanged ? "column" : "row";
      const std::string column_side = exchanged ? "row" : "column";
      const int row_group = LastDimension(model, term, 1);
      const int column_group = LastDimension(model, term, 2);
      if (w.rows_estimated || w.family == 2) {
        WriteScoreLines(row_side, w.row_scores, w.rows, row_group, writer);
      }
      if (!w.symmetric && (w.columns_estimated || w.family == 2)) {
        WriteScoreLines(column_side, w.column_scores, w.columns, column_group, writer);
      }
      if (w.family == 2 && w.scaling <= 3) {
        WriteScoreLines("adj " + row_side, AdjustedScores(w, false), w.rows, row_group, writer);
        if (!w.symmetric) {
          WriteScoreLines("adj " + column_side, AdjustedScores(w, true), w.columns, column_group,
                          writer);
        }
      }
      writer.WriteLine("");
    }
  }
};

}  // namespace

const ModelFamily& AssociationFamily() {
  static const Association family;
  return family;
}

}  // namespace tav
