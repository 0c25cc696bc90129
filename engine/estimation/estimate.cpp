#include "estimation/estimate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "core/table_zero.h"
#include "estimation/e_step.h"
#include "estimation/em_acceleration.h"
#include "estimation/free_parameters.h"
#include "estimation/hazard_model.h"
#include "estimation/m_steps.h"
#include "estimation/model_family.h"

namespace tav {
namespace {

// A fall of the log-likelihood by more than DecreaseTolerance is a decrease: the step size
// control reacts to it, and one at the end stops the run. The log-likelihood is a sum of terms
// n log p whose logarithms are good to about a unit in their last place, so its rounding error
// grows with the number of observations and its own size: a fall within 64 units in the last
// place of N + |log-likelihood| is rounding, and never less than 1e-8 counts as a decrease.
constexpr double kDecreaseTolerance = 1e-8;
constexpr double kRoundingUnits = 64;

double DecreaseTolerance(const EstimationRun& run) {
  const double scale = std::fabs(run.data.total_count) + std::fabs(run.estimation.LogLikelihood);
  return std::max(kDecreaseTolerance,
                  kRoundingUnits * std::numeric_limits<double>::epsilon() * scale);
}

void NotAvailable(const std::string& construct) {
  StopRun("  Error: " + construct + " not available in this version");
}

bool HasRestrictedCells(const ModelState& model) {
  for (int r = 0; r < model.SubmodelCount; ++r) {
    if (model.submodels[r].HasRestrictedCells() && model.submodels[r].cell_count > 0) return true;
  }
  return false;
}

}  // namespace

void CheckEstimationAvailable(const EstimationRun& run) {
  const ModelState& model = run.model;
  const FamilyList& families = FamiliesOf(run);
  // The submodels (the hazard and `all` submodels included), then the model as a whole.
  for (int r = 0; r <= static_cast<int>(model.submodels.size()); ++r) {
    const int index = r < static_cast<int>(model.submodels.size()) ? r : -1;
    // A combination refused for good is named with its reason before any part of it that is
    // only not built.
    for (const ModelFamily* family : families) {
      const std::string refusal = family->Refusal(run, index);
      if (!refusal.empty()) StopRun("  Error: " + refusal);
    }
    for (const ModelFamily* family : families) {
      const std::string construct = family->UnavailableConstruct(run, index);
      if (!construct.empty()) NotAvailable(construct);
    }
  }
  // The hazard files need a hazard part.
  const Settings& settings = run.settings;
  const std::pair<const std::string*, const char*> hazard_files[] = {
      {&settings.file_hazards, "wha"},
      {&settings.file_failures, "wfa"},
      {&settings.file_exposures, "wex"},
      {&settings.file_survival, "wsu"},
  };
  for (const auto& [file, command] : hazard_files) {
    if (!file->empty() && !run.history.HazardModel) {
      StopRun("  Error: command " + std::string(command) + " needs an event history model (haz)");
    }
  }
  // A correspondence analysis shows no parameters: their covariances are never computed.
  if (model.CorrespondenceType != CorrespondenceKind::kNone && !settings.file_covariances.empty()) {
    NotAvailable("writing covariances (wse) with a correspondence analysis (cor) is");
  }
}

void SetUpEstimationTables(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  // The hazard submodel (number SubmodelCount) has model terms and margin parameters like the
  // others, none of them conditioning.
  const bool hazard =
      run.history.HazardModel && static_cast<int>(model.submodels.size()) > model.SubmodelCount;
  const int n = model.SubmodelCount + (hazard ? 1 : 0);
  // The E-step's index maps number the cells with 32-bit integers; the fitted and expected
  // tables live together.
  if (model.submodel_cell_total > std::numeric_limits<std::int32_t>::max()) {
    StopRun("  Error: problem too big to fit in memory");
  }
  // The tables of an earlier fit of the run are gone (a new start); the new ones are counted
  // together before they are allocated.
  run.context.KeepMemory(MemoryUse::kModelTables, 0);
  const double table_bytes = (2.0 * static_cast<double>(model.submodel_cell_total) +
                              2.0 * (static_cast<double>(model.condition_cell_total) + 1)) *
                             sizeof(double);
  run.context.CheckMemory(table_bytes);
  est.FittedTable = AllocRealArray(run.context, model.submodel_cell_total, 1.0);
  est.ExpectedTable = AllocRealArray(run.context, model.submodel_cell_total);
  est.FittedMarginWork = AllocRealArray(run.context, model.condition_cell_total + 1);
  est.ExpectedMarginWork = AllocRealArray(run.context, model.condition_cell_total + 1);
  run.context.KeepMemory(MemoryUse::kModelTables, table_bytes);

  est.margin_shapes.assign(n, {});
  est.condition_shapes.assign(n, {});
  est.expected_margins.assign(n, {});
  est.margin_parameter_offset.assign(n, {});
  std::int64_t parameters = 0;
  for (int r = 0; r < n; ++r) {
    const Submodel& submodel = model.submodels[r];
    const Membership none{};
    const bool conditional = r > 0 && r < model.SubmodelCount;
    est.condition_shapes[r] =
        MarginShape(model, submodel,
                    conditional && submodel.MarginCount() > 0 ? submodel.EffectVariables[0] : none);
    for (int i = 0; i < submodel.MarginCount(); ++i) {
      est.margin_shapes[r].emplace_back(model, submodel, submodel.EffectVariables[i]);
      // The conditioning margin (margin 0 of a conditional submodel) and the margins of a
      // submodel tied to another by eq1 have no parameters of their own.
      const bool has_parameters = (i > 0 || !conditional) && !submodel.IsTied();
      est.margin_parameter_offset[r].push_back(has_parameters ? parameters : -1);
      if (has_parameters) parameters += est.margin_shapes[r][i].margin_cells();
    }
    est.expected_margins[r].assign(submodel.MarginCount(), {});
  }
  est.MarginParameters = AllocRealArray(run.context, parameters);
  est.Multipliers.clear();  // the families that have design parameters append theirs
  // The hazard part first: the families' set-up finds its submodel there.
  SetUpHazardPart(run);
  std::fill(est.MarginParameters.begin(), est.MarginParameters.end(), 1.0);
  est.step_size = run.settings.step_size;
  est.restriction_step = run.settings.restriction_step;

  // Start values given in the input.
  for (const StartValueRequest& request : run.settings.start_values) {
    if (request.submodel < 0 || request.submodel >= n) continue;
    const Submodel& submodel = model.submodels[request.submodel];
    double* target = nullptr;
    std::int64_t room = 0;
    if (request.whole_table) {
      target = est.FittedTable.data() + submodel.first_cell;
      room = static_cast<std::int64_t>(submodel.cell_count);
    } else if (request.effect >= 0 && request.effect < submodel.MarginCount() &&
               est.margin_parameter_offset[request.submodel][request.effect] >= 0) {
      target = est.MarginParameters.data() +
               est.margin_parameter_offset[request.submodel][request.effect];
      room = est.margin_shapes[request.submodel][request.effect].margin_cells();
    }
    if (target == nullptr) continue;
    const std::int64_t count = std::min<std::int64_t>(room, request.values.size());
    std::copy_n(request.values.begin(), count, target);
  }
}

bool PerturbMargin(EstimationRun& run, int r, int i) {
  EstimationState& est = run.estimation;
  const std::int64_t offset = est.margin_parameter_offset[r][i];
  if (offset < 0) return false;
  double* parameters = est.MarginParameters.data() + offset;
  const std::int64_t size = est.margin_shapes[r][i].margin_cells();
  bool untouched = true;
  for (std::int64_t k = 0; k < size && untouched; ++k) untouched = parameters[k] == 1.0;
  if (!untouched) return false;
  for (std::int64_t k = 0; k < size; ++k)
    parameters[k] *= Exp(RandomStart(run.estimation.random, run.model, r));
  return true;
}

void StartFromMargins(EstimationRun& run, int r, bool perturb_cells) {
  EstimationState& est = run.estimation;
  const Submodel& submodel = run.model.submodels[r];
  double* fitted = est.FittedTable.data() + submodel.first_cell;
  const int first_margin = r > 0 ? 1 : 0;
  for (int i = first_margin; i < submodel.MarginCount(); ++i) PerturbMargin(run, r, i);
  if (perturb_cells) {
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    for (std::int64_t c = 0; c < cells; ++c)
      fitted[c] *= Exp(RandomStart(run.estimation.random, run.model, r));
  }
  for (int i = first_margin; i < submodel.MarginCount(); ++i) {
    const std::int64_t offset = est.margin_parameter_offset[r][i];
    if (offset < 0) continue;
    est.margin_shapes[r][i].Scale(fitted, est.MarginParameters.data() + offset, fitted);
  }
}

void ComputeStartValues(EstimationRun& run) {
  const FamilyList& families = FamiliesOf(run);
  for (int r = 0; r < run.model.SubmodelCount; ++r) {
    for (const ModelFamily* family : families) family->StartValues(run, r);
  }
  StartHazardPart(run);
}

void NormaliseFirstSubmodel(EstimationRun& run, int flag) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  if (model.SubmodelCount == 0) return;
  const Submodel& first = model.submodels[0];
  // A first submodel of restricted probabilities (eq2, eq3) has no margins, yet holds
  // frequencies like every first submodel.
  const bool restricted = first.SubmodelKind == SubmodelKindCode::kEqualityRestricted;
  if (first.MarginCount() == 0 && !first.IsSaturatedFixed() && !restricted && flag != 0) return;
  double* fitted = est.FittedTable.data() + first.first_cell;
  const auto cells = static_cast<std::int64_t>(first.cell_count);
  double sum = 0;
  for (std::int64_t c = 0; c < cells; ++c) sum += fitted[c];
  const double used = run.data.total_count - est.ExcludedObservations;
  const double factor = sum <= kTableZero ? 0.0 : used / sum;
  if (first.MarginCount() > 0 && flag == 1 && est.margin_parameter_offset[0][0] >= 0) {
    double* parameters = est.MarginParameters.data() + est.margin_parameter_offset[0][0];
    const std::int64_t size = est.margin_shapes[0][0].margin_cells();
    for (std::int64_t k = 0; k < size; ++k) parameters[k] *= factor;
  }
  for (std::int64_t c = 0; c < cells; ++c) fitted[c] *= factor;
}

void FittedToProbabilities(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  for (int r = 1; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (submodel.IsTied() || submodel.IsCumulative()) continue;
    const MarginShape& shape = est.condition_shapes[r];
    double* fitted = est.FittedTable.data() + submodel.first_cell;
    double* margin = est.FittedMarginWork.data() + submodel.first_condition_cell;
    shape.MarginOf(fitted, margin);
    std::vector<double> inverse(shape.margin_cells());
    for (std::size_t m = 0; m < inverse.size(); ++m) {
      inverse[m] = margin[m] <= kTableZero ? 0.0 : 1.0 / margin[m];
    }
    shape.Scale(fitted, inverse.data(), fitted);
  }
  HazardCountsToRates(run);
}

void RestoreFittedFrequencies(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  if (run.estimation.iteration <= 0) return;
  for (int r = 1; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (!submodel.IsLogLinear()) continue;
    double* fitted = est.FittedTable.data() + submodel.first_cell;
    est.condition_shapes[r].Scale(
        fitted, est.FittedMarginWork.data() + submodel.first_condition_cell, fitted);
    if (run.estimation.iteration == 1 ||
        run.estimation.iteration > run.settings.newton_start_iteration) {
      IpfAdjust(run, r, 0);
    }
  }
  HazardRatesToCounts(run);
}

void RunCycle(EstimationRun& run, int cycle) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  EstimationState& est = run.estimation;
  const int iteration = run.estimation.iteration;
  est.ActiveOrdinalRestrictions = 0;
  est.BoundaryAdjustments = 0;
  if (cycle == 1) RestoreFittedFrequencies(run);

  if (iteration >= 1 && iteration <= 3 && settings.em_cycles_per_iteration == 1) {
    for (int r = 0; r < model.SubmodelCount; ++r) {
      const Submodel& submodel = model.submodels[r];
      if (!submodel.IsLogLinear()) continue;
      if (!model.HasAllSubmodel && submodel.designs.empty() && submodel.assoc.empty()) continue;
      if (r == 0) {
        NormaliseFirstSubmodel(run, 1);
      } else {
        IpfAdjust(run, r, 0);
      }
    }
  }

  // The visits of the submodels. Submodels of restricted probabilities keep their
  // conditional-probability form: their own M-steps after the visits fit them.
  const FamilyList& families = FamiliesOf(run);
  // The submodels, then `all`; the hazard part (number SubmodelCount) only in an event-history
  // model.
  for (int r = 0; r < model.SubmodelCount + 2; r = NextSubmodel(model, r)) {
    if (r == model.SubmodelCount && !run.history.HazardModel) continue;
    for (const ModelFamily* family : families) {
      CheckCancel(run.context);
      family->FitSubmodel(run, r);
    }
  }
  if (iteration > 0 && cycle == 1) {
    for (const ModelFamily* family : families) family->FitAfterVisits(run);
  }
  if (iteration == 0 || (model.HasAllSubmodel && cycle == settings.em_cycles_per_iteration) ||
      (model.SubmodelCount > 0 && model.submodels[0].MarSubmodel != MarRestrictions::kNone)) {
    NormaliseFirstSubmodel(run, 1);
  }
  if (cycle == settings.em_cycles_per_iteration) FittedToProbabilities(run);
}

void AdjustRestrictionStep(EstimationRun& run) {
  EstimationState& est = run.estimation;
  const Settings& settings = run.settings;
  const double s = run.estimation.stop_criterion;
  double& p1 = est.PrevStopCriterion1;
  double& p2 = est.PrevStopCriterion2;
  double& step = est.restriction_step;
  auto write_step = [&] {
    std::string line = "  new stepsize for restrictions = " + FormatReal(4, 2, step);
    if (line.size() > 114) line.resize(114);
    WriteLogLine(run.context, line);
  };
  if ((s > 0 && p1 < 0 && p2 > 0) || (s < 0 && p1 > 0 && p2 < 0)) {
    if (step < 100000) step *= 2;
    write_step();
    p1 = 0;
    p2 = 0;
  } else {
    if (run.estimation.iteration > 0) {
      p2 = p1;
      p1 = s;
    }
    const int interval = settings.restriction_step_interval;
    if (step > settings.restriction_step_min && run.estimation.iteration != 0 && interval != 0 &&
        run.estimation.iteration % interval == 0) {
      step /= 2;
      if (step < settings.restriction_step_min) step = settings.restriction_step_min;
      write_step();
    }
  }
  run.estimation.stop_criterion = std::fabs(run.estimation.stop_criterion);
  run.ShowProgress();
}

void Estimate(EstimationRun& run, const NewtonStep& newton_step) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  EstimationState& est = run.estimation;
  CheckEstimationAvailable(run);
  // The families' states first: the tables' set-up fills the hazard part's.
  MakeFamilyStates(run);
  SetUpEstimationTables(run);
  for (const ModelFamily* family : FamiliesOf(run)) family->SetUp(run);
  BuildIndexMaps(run);
  ComputeStartValues(run);
  if (settings.newton_start_iteration < settings.max_iterations) BuildParameterList(run);

  run.estimation.iteration = -1;
  est.LogLikelihood = 0;
  est.ExcludedObservations = 0;
  run.estimation.stop_criterion = settings.convergence_criterion + 0.1;
  run.ShowProgress();
  est.PrevStopCriterion1 = 0;
  est.PrevStopCriterion2 = 0;
  long double full_table = 1;
  for (int v = 0; v < model.VariableCount; ++v) full_table *= model.Dimension[v];
  bool cumulative_eight = false;
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    cumulative_eight =
        cumulative_eight || (submodel.IsCumulative() && submodel.CumulativeModel.IsNormal());
  }
  est.lsquared_column = !run.history.HazardModel && !cumulative_eight && full_table < 1e18L;
  if (est.lsquared_column) est.observed_log_terms = ObservedLogTerms(run);
  // `acc` accelerates the iterations from 1 on where the model allows it; elsewhere the
  // iterations stay plain, with a warning.
  std::optional<EmAccelerator> accelerator;
  if (settings.accelerate_em && settings.max_iterations >= 1) {
    const std::string refusal = AccelerationRefusal(run);
    if (refusal.empty()) {
      accelerator.emplace(run);
    } else {
      WriteLogLine(run.context, "  Warning: acc is ignored for a model with " + refusal);
    }
  }
  const auto m_step = [&run, &settings] {
    for (int cycle = 1; cycle <= settings.em_cycles_per_iteration; ++cycle) RunCycle(run, cycle);
  };
  WriteIterationHeader(run);

  const bool restricted_cells = HasRestrictedCells(model);
  for (;;) {
    const double criterion = settings.convergence_criterion;
    if (run.estimation.iteration >= settings.max_iterations) break;
    if (!(run.estimation.stop_criterion > criterion)) {
      if (run.estimation.stop_criterion >= 0) break;
      if (run.estimation.iteration >= 2) break;
    }
    ++run.estimation.iteration;
    run.ShowProgress();
    if (accelerator && run.estimation.iteration > 0) {
      accelerator->Iterate(m_step);
    } else {
      if (run.estimation.iteration == 0) {
        RunCycle(run, static_cast<int>(settings.em_cycles_per_iteration));
      } else {
        m_step();
      }
      if (run.estimation.iteration > settings.newton_start_iteration && newton_step) {
        newton_step(settings.newton_algorithm);
      }
      EStep(run);
    }
    // A log-likelihood that is no number (zero probabilities met by data in every pattern of a
    // subgroup, overflowing start values) must never reach the report.
    if (!std::isfinite(est.LogLikelihood)) {
      StopRun("  Error: the log-likelihood is not a finite number; try other start values");
    }
    if (model.AnyLinLog || model.AnyMar) AdjustRestrictionStep(run);
    const double tolerance = DecreaseTolerance(run);
    if (run.estimation.iteration > 1 && run.estimation.stop_criterion < -tolerance &&
        est.step_size < 1.0) {
      run.estimation.stop_criterion = criterion + 0.1;
      run.ShowProgress();
      est.step_size += 0.05;
      std::string line = "  new stepsize = " + FormatReal(4, 2, est.step_size);
      if (line.size() > 97) line.resize(97);
      WriteLogLine(run.context, line);
    }
    if (restricted_cells && (run.estimation.stop_criterion <= -criterion ||
                             run.estimation.stop_criterion <= -tolerance)) {
      run.estimation.stop_criterion = 1.0;
      run.ShowProgress();
    }
  }
  if (run.estimation.iteration > 0 && run.estimation.stop_criterion <= -DecreaseTolerance(run)) {
    StopRun("  Error: decrease of the log-likelihood");
  }
  ComputeFitSums(run);
  // `ite 0` asks for the start values; any other limit that ends the iterations while the
  // criterion is still above its bound leaves estimates that have not converged.
  est.iteration_limit_reached = settings.max_iterations > 0 &&
                                run.estimation.iteration >= settings.max_iterations &&
                                run.estimation.stop_criterion > settings.convergence_criterion;
  if (est.iteration_limit_reached) {
    WriteLogLine(run.context, "  Warning: the iteration limit was reached before convergence");
  }
  if (run.estimation.iteration > 0) {
    for (const ModelFamily* family : FamiliesOf(run)) family->CheckEstimates(run);
  }
}

}  // namespace tav
