#include "report/parameter_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/elementary.h"
#include "core/log.h"
#include "core/sweep_inverse.h"
#include "estimation/cumulative_model.h"
#include "estimation/design_effects.h"
#include "estimation/free_parameters.h"
#include "estimation/hazard_model.h"
#include "estimation/model_family.h"
#include "newton/information_matrix.h"
#include "newton/newton_iteration.h"
#include "report/probabilities.h"
#include "report/report_computations.h"
#include "report/results_document.h"

namespace tav {
namespace {

// The covariance matrix left by the standard-error computation.
class Covariances {
 public:
  explicit Covariances(const RunState& run)
      : matrix_(run.newton.information_matrix), n_(run.estimation.free_parameters.Count()) {}
  double operator()(int i, int j) const {
    if (i < 0 || j < 0 || i >= n_ || j >= n_) return 0.0;
    const std::size_t at = static_cast<std::size_t>(i) * n_ + j;
    return at < matrix_.size() ? matrix_[at] : 0.0;
  }

 private:
  const std::vector<double>& matrix_;
  int n_;
};

// The exp(beta) column exists for ordinary log-linear submodels and cumulative models a and e.
bool ShowsExpBeta(const RunState& run, int t) {
  const CumulativeForm* form = CumulativeFormOf(run.model, t);
  return form == nullptr || form->link == CumulativeLink::kLogit;
}

// What the steps of ComputeParameters share: the run, its covariance matrix, whether standard
// errors are shown, and the free parameters shown with one so far, in the order shown (those of
// the covariance file).
struct ParameterComputation {
  const RunState& run;
  Covariances v;
  bool std_errors = false;
  std::vector<int> shown;
};

// The standard error and z-value of free parameter `position`, whose value on the log scale is
// beta, into figures: the standard error in the user's units (beta and the variance belong to
// the fitted, perhaps scaled, column; z does not depend on its scale), z only for a parameter
// whose log was taken (positive). Not finite where the variance is not positive.
void SetStdErrAndZ(ParameterComputation& c, int position, double beta, bool positive,
                   ParameterFigures& figures) {
  const double v = c.v(position, position);
  figures.std_err = v > 0 ? std::sqrt(v) / FreeParameterScale(c.run, position) : NAN;
  figures.z = positive && v > 0 ? beta / std::sqrt(v) : NAN;
  c.shown.push_back(position);
}

// The Wald test of the free parameters at positions with values b on the log scale: W = b' V^-1
// b over the block of the covariance matrix that belongs to them (its pivots below the internal
// tolerance left out), its degrees of freedom and its chi-squared tail probability.
WaldFigures WaldTest(const ParameterComputation& c, const std::vector<int>& positions,
                     const std::vector<double>& b) {
  const int k = static_cast<int>(positions.size());
  std::vector<double> block(static_cast<std::size_t>(k) * k);
  for (int i = 0; i < k; ++i) {
    for (int j = 0; j < k; ++j) block[i * k + j] = c.v(positions[i], positions[j]);
  }
  SweepInverse(
      block, k, InversionTolerance(c.run, InversionMode::kInternal),
      [&](int) {
        CheckCancel(c.run.context);
        return false;
      },
      [](int, double) {});
  double w = 0.0;
  for (int i = 0; i < k; ++i) {
    for (int j = 0; j < k; ++j) w += b[i] * block[i * k + j] * b[j];
  }
  return {w, k, ChiSquaredProbability(k, w)};
}

// The betas of an effect of a discrete-time hazard submodel that holds the risk variable (its
// last variable, running fastest) less, in every block of risks, the beta of the stay of each
// risk's origin state, so that a stay shows 0.
void ContrastWithStaying(const RunState& run, LogLinearEffect& effect) {
  const HazardWork& hazard = HazardWorkOf(run);
  const int risks = hazard.risks;
  for (std::size_t block = 0; block + risks <= effect.beta.size(); block += risks) {
    const std::vector<double> before(effect.beta.begin() + block,
                                     effect.beta.begin() + block + risks);
    for (int k = 0; k < risks; ++k) {
      const int stay = hazard.stay_risk[hazard.risk_origin[k]];
      if (stay > 0) effect.beta[block + k] = before[k] - before[stay - 1];
    }
  }
}

// Cell e of an effect of submodel t: its label and categories, beta and exp(beta) where it was
// estimated, and with standard errors those of a free parameter away from the reference
// categories.
EffectCell ComputeCell(ParameterComputation& c, int t, const ReferenceCategories& reference,
                       const LogLinearEffect& effect, std::int64_t e) {
  const std::vector<int> category = CellCategories(c.run.model, effect.members, e);
  EffectCell cell;
  cell.label = effect.members.empty() ? "main" : " ";
  bool at_reference = false;
  for (std::size_t k = 0; k < effect.members.size(); ++k) {
    cell.label += CategoryLabel(category[k]) + " ";
    at_reference |= reference[effect.members[k]] == category[k] + 1;
    cell.figures.categories.push_back(category[k] + 1);
  }
  const double beta = effect.beta[e];
  cell.estimated = effect.estimated[e];
  cell.figures.beta = cell.estimated ? beta : NAN;
  cell.figures.exp_beta = cell.estimated ? Exp(beta) : NAN;
  if (c.std_errors && !at_reference) {
    cell.position = ParameterIndex(c.run, reference.data(), t, effect.variables, e);
    if (cell.position >= 0) SetStdErrAndZ(c, cell.position, beta, cell.estimated, cell.figures);
  }
  return cell;
}

// An effect of submodel t with its cells, unless it has too many to list, and the Wald test of
// those shown with a standard error.
EffectResults ComputeEffect(ParameterComputation& c, int t, const ReferenceCategories& reference,
                            const LogLinearEffect& effect) {
  EffectResults result;
  result.term = TermText(c.run.model, effect.variables);
  result.constant = effect.members.empty();
  const auto cells = static_cast<std::int64_t>(effect.beta.size());
  if (cells > kLargestListedTable) {
    // As the frequencies: an effect too large to read is not listed (nor its Wald test).
    result.listed = false;
    return result;
  }
  std::vector<int> positions;
  std::vector<double> betas;
  for (std::int64_t e = 0; e < cells; ++e) {
    result.cells.push_back(ComputeCell(c, t, reference, effect, e));
    if (result.cells.back().position >= 0) {
      positions.push_back(result.cells.back().position);
      betas.push_back(effect.beta[e]);
    }
  }
  if (!positions.empty()) result.wald = WaldTest(c, positions, betas);
  return result;
}

// The table of submodel t: its heading's figures, R-squared for a normal cumulative model, and
// its effects (for a discrete-time hazard submodel only those that hold the risk variable, as
// contrasts with staying).
TableResults ComputeTable(ParameterComputation& c, int t, bool conditional) {
  const RunState& run = c.run;
  const ModelState& model = run.model;
  TableResults table;
  table.submodel = t;
  table.term = TermText(model, model.submodels[t].SubmodelVariables);
  table.labelled = t < model.SubmodelCount;
  if (table.labelled) table.label = ConditionalLabel(run, t);
  table.zero_margins = FittedZeroMargins(run, t, conditional);
  if (IsNormalCumulative(model, t) &&
      t < static_cast<int>(CumulativeStateOf(run).r_squared.size())) {
    table.r_squared_shown = true;
    table.r_squared = CumulativeStateOf(run).r_squared[t];
    table.r = table.r_squared > 0 ? std::sqrt(table.r_squared) : 0.0;
  }
  table.exp_beta = ShowsExpBeta(run, t);
  const ReferenceCategories reference = TableReferences(run, t);
  const int risk = DiscreteRiskVariable(run, t);
  for (LogLinearEffect& effect : LogLinearParameters(run, t, conditional, reference)) {
    if (risk >= 0) {
      if (effect.variables[risk] == 0) continue;
      ContrastWithStaying(run, effect);
    }
    table.effects.push_back(ComputeEffect(c, t, reference, effect));
  }
  return table;
}

// The parameter lines of a family's block: ln x (in the user's units for a scaled design
// column) and x, with standard errors those of its free parameters and the Wald test of those
// that are positive.
void ComputeRows(ParameterComputation& c, const ParameterBlock& block, BlockResults& result) {
  std::vector<int> positions;
  std::vector<double> logs;
  for (const BlockParameter& parameter : block.parameters) {
    BlockRow row;
    row.label = parameter.label;
    const double x = parameter.x;
    const double scale = parameter.scale;
    row.positive = x > 0;
    ParameterFigures& figures = row.figures;
    figures.beta = x > 0 ? (scale == 1 ? Log(x) : Log(x) / scale) : NAN;
    figures.exp_beta = scale == 1 || !(x > 0) ? x : Exp(figures.beta);
    if (result.std_errors && parameter.position >= 0) {
      row.position = parameter.position;
      SetStdErrAndZ(c, row.position, x > 0 ? Log(x) : 0.0, x > 0, figures);
      if (x > 0) {
        positions.push_back(row.position);
        logs.push_back(Log(x));
      }
    }
    result.rows.push_back(std::move(row));
  }
  if (!positions.empty()) result.wald = WaldTest(c, positions, logs);
}

// The sides of an association term: per value shown its standard error from the variances of
// the term's values, D V D' over its free directions, when standard errors are shown and the
// term has free parameters; the figures the results document lists of the sides in the term's
// layout.
void ComputeSides(const ParameterComputation& c, const ParameterBlock& block,
                  BlockResults& result) {
  const int p = static_cast<int>(block.estimated.size());
  const bool shown = c.std_errors && block.first_position >= 0;
  std::vector<double> variances(p, 0.0);
  const int n = shown ? static_cast<int>(block.directions.size()) : 0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const double v = c.v(block.first_position + i, block.first_position + j);
      if (!std::isfinite(v)) continue;
      for (int a = 0; a < p; ++a) {
        variances[a] += block.directions[i][a] * block.directions[j][a] * v;
      }
    }
  }
  for (const ScoreSide& side : block.sides) {
    SideResults s;
    s.label = side.label;
    s.values = side.values;
    s.n = side.n;
    s.group = side.group;
    s.parameter = side.parameter;
    const int count = side.n > 0 ? static_cast<int>(side.values.size()) / side.n * side.n : 0;
    if (side.layout_offset >= 0) {
      s.std_errors = shown;
      for (int i = 0; i < count; ++i) {
        const int at = side.layout_offset + i;
        const bool estimated = block.estimated[at] != 0;
        const double std_err =
            shown && estimated && variances[at] > 0 ? std::sqrt(variances[at]) : NAN;
        s.estimated.push_back(estimated);
        if (shown) s.std_errs.push_back(std_err);
        ParameterFigures figures;
        figures.beta = side.values[i];
        figures.std_err = std_err;
        figures.z = std_err > 0 ? side.values[i] / std_err : NAN;
        figures.exp_beta = NAN;
        s.recorded.push_back(std::move(figures));
      }
    }
    result.sides.push_back(std::move(s));
  }
}

// The table a block of submodel t belongs to, for the results document: its term, or "all"
// after all submodels.
std::string BlockTable(const RunState& run, int t) {
  if (t < 0 || t >= static_cast<int>(run.model.submodels.size())) return "all";
  return TermText(run.model, run.model.submodels[t].SubmodelVariables);
}

// A family's block with its figures.
BlockResults ComputeBlock(ParameterComputation& c, const ParameterBlock& block,
                          const std::string& table) {
  BlockResults result;
  result.table = table;
  result.heading = block.heading;
  result.heading_line = block.heading_line;
  result.notes = block.notes;
  result.exp_beta = block.table >= 0 && ShowsExpBeta(c.run, block.table);
  switch (block.kind) {
    case ParameterBlock::Kind::kTableHeading:
      result.kind = BlockResults::Kind::kTableHeading;
      result.std_errors = c.std_errors;
      break;
    case ParameterBlock::Kind::kMultipliers:
      result.kind = BlockResults::Kind::kParameters;
      result.std_errors = c.std_errors;
      ComputeRows(c, block, result);
      break;
    case ParameterBlock::Kind::kRestrictions:
      result.kind = BlockResults::Kind::kRestrictions;
      ComputeRows(c, block, result);
      break;
    case ParameterBlock::Kind::kAssociation:
      result.kind = BlockResults::Kind::kAssociation;
      ComputeSides(c, block, result);
      break;
  }
  return result;
}

// The blocks of the families at place: after submodel t's table (thresholds of cumulative
// models, design effects, restrictions), after the empty line that ends it (association terms),
// or after all submodels (t = -1: the `all` tables).
std::vector<BlockResults> ComputeBlocks(ParameterComputation& c, BlockPlace place, int t) {
  std::vector<BlockResults> blocks;
  const std::string table = BlockTable(c.run, t);
  for (const ModelFamily* family : FamiliesOf(c.run)) {
    for (const ParameterBlock& block : family->ParameterBlocks(c.run, place, t)) {
      blocks.push_back(ComputeBlock(c, block, table));
    }
  }
  return blocks;
}

// The shape parameters of the hazard part: per risk its shape alpha and, for estimated shapes
// with standard errors, the standard error of the shape (the shape times that of its log).
BlockResults ComputeShapes(ParameterComputation& c) {
  const RunState& run = c.run;
  const HazardWork& hazard = HazardWorkOf(run);
  const FreeParameterList& list = run.estimation.free_parameters;
  BlockResults result;
  result.kind = BlockResults::Kind::kShapes;
  result.table = BlockTable(run, hazard.table);
  result.heading = "shape parameters";
  result.heading_line = false;
  result.std_errors = hazard.kind == TimeModel::kEstimatedShapes && c.std_errors;
  for (int k = 1; k <= hazard.risks; ++k) {
    BlockRow row;
    row.label = "alpha " + std::to_string(k);
    const double alpha = HazardShape(run, k);
    row.figures.beta = alpha;
    row.figures.exp_beta = NAN;
    if (result.std_errors) {
      for (std::size_t i = 0; i < list.parameters.size(); ++i) {
        if (list.parameters[i].shape && list.parameters[i].position == k - 1) {
          row.position = static_cast<int>(i);
        }
      }
      const double v = c.v(row.position, row.position);
      if (row.position >= 0) c.shown.push_back(row.position);
      row.figures.std_err = v > 0 ? alpha * std::sqrt(v) : NAN;
      row.figures.z = row.figures.std_err > 0 ? alpha / row.figures.std_err : NAN;
    }
    result.rows.push_back(std::move(row));
  }
  return result;
}

// Submodel t's part of the section: its table and the families' blocks after it and after its
// end; a submodel with no parameters of its own (one margin, fixed designs only, no association
// terms) shows only the blocks after its table.
SubmodelParameters ComputeSubmodel(ParameterComputation& c, int t) {
  const Submodel& submodel = c.run.model.submodels[t];
  SubmodelParameters part;
  bool plain_designs = true;
  for (const Design& design : submodel.designs) {
    plain_designs &=
        design.family == DesignFamily::kFixedWeights && design.interaction == DesignInteraction::kA;
  }
  if (t >= 1 && submodel.MarginCount() <= 1 && plain_designs && submodel.AssocCount() == 0) {
    part.table_shown = false;
    part.after_table = ComputeBlocks(c, BlockPlace::kAfterTable, t);
    return part;
  }
  part.table = ComputeTable(c, t, t >= 1);
  part.after_table = ComputeBlocks(c, BlockPlace::kAfterTable, t);
  part.after_end = ComputeBlocks(c, BlockPlace::kAfterTableEnd, t);
  return part;
}

// The hazard part: its table, its shapes, and the families' blocks.
SubmodelParameters ComputeHazard(ParameterComputation& c) {
  const int hazard = HazardWorkOf(c.run).table;
  SubmodelParameters part;
  part.table = ComputeTable(c, hazard, false);
  if (HasShapes(HazardWorkOf(c.run).kind)) part.after_table.push_back(ComputeShapes(c));
  for (BlockResults& block : ComputeBlocks(c, BlockPlace::kAfterTable, hazard)) {
    part.after_table.push_back(std::move(block));
  }
  part.after_end = ComputeBlocks(c, BlockPlace::kAfterTableEnd, hazard);
  return part;
}

// The covariance file's figures of the parameters shown, in the user's units (scaled design
// columns divide by their scales).
CovarianceResults ComputeCovariances(const ParameterComputation& c) {
  CovarianceResults result;
  result.positions = c.shown;
  const std::vector<int>& shown = c.shown;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const double vii = c.v(shown[i], shown[i]);
    std::vector<double> correlations;
    std::vector<double> covariances;
    for (std::size_t j = 0; j <= i; ++j) {
      const double vjj = c.v(shown[j], shown[j]);
      if (j == i) {
        correlations.push_back(vii > 0 ? std::sqrt(vii) / FreeParameterScale(c.run, shown[i])
                                       : NAN);
      } else {
        correlations.push_back(vii > 0 && vjj > 0 ? c.v(shown[i], shown[j]) / std::sqrt(vii * vjj)
                                                  : NAN);
      }
      // A parameter left out of the inversion has no variance; two others can be uncorrelated
      // exactly (parameters of submodels that share no data), which shows as 0.
      const double vij = c.v(shown[i], shown[j]) / FreeParameterScale(c.run, shown[i]) /
                         FreeParameterScale(c.run, shown[j]);
      covariances.push_back(std::isfinite(vij) && (vij != 0 || (vii > 0 && vjj > 0)) ? vij : NAN);
    }
    result.correlations.push_back(std::move(correlations));
    result.covariances.push_back(std::move(covariances));
  }
  return result;
}

}  // namespace

std::string WriteColumnHeader(const RunState& run, int t) {
  return ColumnHeader(ShowsStdErrors(run), ShowsExpBeta(run, t));
}

ParameterResults ComputeParameters(const RunState& run, int first) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  ParameterComputation c{run, Covariances(run), ShowsStdErrors(run), {}};
  ParameterResults results;
  results.std_errors = c.std_errors;
  first = std::max(first, 0);
  bool any_parameters = false;
  for (int t = 0; t < model.SubmodelCount; ++t) {
    const Submodel& submodel = model.submodels[t];
    any_parameters |= !submodel.designs.empty() || submodel.AssocCount() > 0 ||
                      CountSubmodelParameters(run, t) > 0;
  }
  results.section_shown = settings.show_details && first < model.SubmodelCount && any_parameters;
  for (int t = first; t < model.SubmodelCount && results.section_shown; ++t) {
    results.submodels.push_back(ComputeSubmodel(c, t));
  }
  results.after_submodels = ComputeBlocks(c, BlockPlace::kAfterSubmodels, -1);
  results.hazard_shown = HazardWorkOf(run).table >= 0;
  if (results.hazard_shown) results.hazard_part = ComputeHazard(c);
  results.covariance_file = !settings.file_covariances.empty() && c.std_errors;
  if (results.covariance_file) results.covariances = ComputeCovariances(c);
  return results;
}

void WriteParameterResults(RunState& run, const ParameterResults& results) {
  WriteParameterSection(results, run.context.ReportFile);
  if (!results.covariance_file) return;
  OpenTextFile(run.context, run.context.ResultFile, run.settings.file_covariances, "w",
               TextFile::Destination::kReplaceWhenComplete);
  WriteCovarianceFile(results.covariances, run.context.ResultFile);
  CloseTextFile(run.context.ResultFile);
}

}  // namespace tav
