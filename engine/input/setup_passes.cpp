// The set-up passes that lay out the model's tables once the sections are read.

#include "input/setup_passes.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/stop_run.h"
#include "input/sections.h"

namespace tav {
namespace {

constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
// Offsets in the tables of submodel cells saturate here; tables that large are refused when
// they are allocated.
constexpr double kOffsetLimit = 4.0e18;

// The submodels whose tables are laid out: the model's, the hazard submodel and the `all`
// submodel when they exist.
std::vector<int> LaidOutSubmodels(const InputRun& run) {
  const ModelState& model = run.model;
  std::vector<int> order;
  for (int s = 0; s < model.SubmodelCount; ++s) order.push_back(s);
  if (run.history.HazardModel && static_cast<int>(model.submodels.size()) > model.SubmodelCount) {
    order.push_back(model.SubmodelCount);
  }
  if (model.HasAllSubmodel) order.push_back(model.SubmodelCount + 1);
  return order;
}

void LayOutSubgroups(ModelState& model) {
  const int subgroups = static_cast<int>(model.SubgroupPattern.size());
  model.subgroup_cell_count.assign(subgroups, 1);
  model.subgroup_first_cell.assign(subgroups, 0);
  std::int64_t first = 0;
  for (int g = 0; g < subgroups; ++g) {
    std::int64_t cells = 1;
    for (int m = 0; m < model.ManifestCount; ++m) {
      if (model.SubgroupPattern[g][m] == 1) {
        cells = std::min(cells * model.Dimension[model.FirstManifest() + m], kIntMax);
      }
    }
    model.subgroup_cell_count[g] = static_cast<std::int32_t>(cells);
    model.subgroup_first_cell[g] = static_cast<std::int32_t>(first);
    first = std::min(first + cells, kIntMax);
  }
}

// True when variable v of submodel s is used by an effect other than effect 0, a design or an
// association effect of s, or by an `all` restriction aimed at s.
bool UsedOutsideMargin(const ModelState& model, int s, int v) {
  const Submodel& submodel = model.submodels[s];
  for (int e = 1; e < submodel.MarginCount(); ++e) {
    if (submodel.EffectVariables[e][v] != 0) return true;
  }
  for (const Design& design : submodel.designs) {
    if (design.DesignVariables[v] != 0) return true;
  }
  for (const AssocEffect& effect : submodel.assoc) {
    if (effect.AssocVariables[v] != 0) return true;
  }
  if (model.HasAllSubmodel) {
    const Submodel& all = model.submodels[model.SubmodelCount + 1];
    for (int e = 0; e < all.MarginCount(); ++e) {
      if (e < static_cast<int>(all.effect_target.size()) && all.effect_target[e] == s &&
          all.EffectVariables[e][v] != 0) {
        return true;
      }
    }
    for (const Design& design : all.designs) {
      if (design.target_submodel == s && design.DesignVariables[v] != 0) return true;
    }
    for (const AssocEffect& effect : all.assoc) {
      if (effect.target_submodel == s && effect.AssocVariables[v] != 0) return true;
    }
  }
  return false;
}

void DropUnusedConditioningVariables(ModelState& model) {
  for (int s = 1; s < model.SubmodelCount; ++s) {
    Submodel& submodel = model.submodels[s];
    if (submodel.SubmodelKind != SubmodelKindCode::kLogLinear || submodel.MarginCount() == 0) {
      continue;
    }
    for (int v = 0; v < kVectorSize; ++v) {
      if (submodel.EffectVariables[0][v] == 0 || UsedOutsideMargin(model, s, v)) continue;
      submodel.SubmodelVariables[v] = 0;
      for (Membership& effect : submodel.EffectVariables) effect[v] = 0;
    }
  }
}

// The plain effects of `all` become effects of the submodels they are aimed at, where they are
// fitted, counted and reported with the submodel's own; `all` keeps its designs and association
// terms.
void MoveAllEffectsToTheirSubmodels(ModelState& model) {
  if (!model.HasAllSubmodel) return;
  Submodel& all = model.submodels[model.SubmodelCount + 1];
  for (int e = 0; e < all.MarginCount(); ++e) {
    const int target = e < static_cast<int>(all.effect_target.size()) ? all.effect_target[e] : -1;
    if (target < 0 || target >= model.SubmodelCount) continue;
    Submodel& submodel = model.submodels[target];
    Membership& effect = NewEffect(submodel, submodel.MarginCount());
    for (int v = 0; v < kVectorSize; ++v) {
      effect[v] = all.EffectVariables[e][v] != 0 && submodel.SubmodelVariables[v] != 0 ? 1 : 0;
    }
  }
  all.EffectVariables.clear();
  all.effect_target.clear();
}

// The restrictions and designs of `all` belong to the submodels they are aimed at, and change
// how those are modelled: lin() and log() items make the submodel one with lin or log
// restrictions (the restricted step fits it with its own items), and a design aimed at a
// submodel with mar() restrictions makes it one whose designs the marginal step fits beside
// them, as though the item were written in the submodel. A margin that would be fixed at the
// data (the variables no submodel explains) becomes a saturated log-linear submodel, so that
// the items aimed at it act on it; the margin of the continuous covariate stays fixed. `all`
// keeps the items (their numbers are read in its place, and its designs are reported as its
// own).
void AimAllRestrictions(ModelState& model) {
  if (!model.HasAllSubmodel) return;
  Submodel& all = model.submodels[model.SubmodelCount + 1];
  const int covariate = model.CovariateCount > 0 ? model.VariableCount - 1 : -1;
  auto modelled = [&](int target) -> Submodel* {
    if (target < 0 || target >= model.SubmodelCount) return nullptr;
    Submodel& submodel = model.submodels[target];
    if (submodel.IsSaturatedFixed() &&
        (covariate < 0 || submodel.SubmodelVariables[covariate] == 0)) {
      submodel.SubmodelKind = SubmodelKindCode::kLogLinear;
    }
    return &submodel;
  };
  for (const Design& design : all.designs) {
    Submodel* submodel = modelled(design.target_submodel);
    if (submodel == nullptr) continue;
    if (design.family == DesignFamily::kLinLog) {
      submodel->LinLogSubmodel = true;
    } else if (submodel->MarSubmodel == MarRestrictions::kOnly) {
      submodel->MarSubmodel = MarRestrictions::kWithOtherDesigns;
    }
  }
  for (const AssocEffect& effect : all.assoc) modelled(effect.target_submodel);
  all.LinLogSubmodel = false;
}

void KeepHazardConditioningVariables(InputRun& run) {
  ModelState& model = run.model;
  if (!run.history.HazardModel || static_cast<int>(model.submodels.size()) <= model.SubmodelCount) {
    return;
  }
  Submodel& hazard = model.submodels[model.SubmodelCount];
  for (std::uint8_t& mark : hazard.SubmodelVariables) mark = mark == 2 ? 1 : 0;
}

double ProductOfDimensions(const ModelState& model, const Membership& marks) {
  double cells = 1;
  for (int v = 0; v < kVectorSize; ++v) {
    if (marks[v] != 0) cells *= model.Dimension[v];
  }
  return cells;
}

bool SameLayout(const Submodel& a, const Submodel& b) {
  if (a.condition_cells != b.condition_cells || a.SubmodelVarCount != b.SubmodelVarCount ||
      a.dimensions != b.dimensions) {
    return false;
  }
  const Membership none{};
  const Membership& ca = a.MarginCount() > 0 ? a.EffectVariables[0] : none;
  const Membership& cb = b.MarginCount() > 0 ? b.EffectVariables[0] : none;
  return ca == cb;
}

// The column (conditioning-margin cell) of every cell of submodel s.
std::vector<std::int32_t> CellColumns(const ModelState& model, int s) {
  const Submodel& submodel = model.submodels[s];
  std::vector<int> variables;
  for (int v = 0; v < kVectorSize; ++v) {
    if (submodel.SubmodelVariables[v] != 0) variables.push_back(v);
  }
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  std::vector<std::int32_t> columns(static_cast<std::size_t>(cells));
  if (s == 0 || submodel.MarginCount() == 0) return columns;
  const Membership& margin = submodel.EffectVariables[0];
  std::vector<int> category(variables.size(), 0);
  for (std::int64_t c = 0; c < cells; ++c) {
    std::int64_t column = 0;
    for (std::size_t i = 0; i < variables.size(); ++i) {
      if (margin[variables[i]] != 0) column = column * model.Dimension[variables[i]] + category[i];
    }
    columns[c] = static_cast<std::int32_t>(column);
    // Next cell: the last variable runs fastest.
    for (std::size_t i = variables.size(); i-- > 0;) {
      if (++category[i] < model.Dimension[variables[i]]) break;
      category[i] = 0;
    }
  }
  return columns;
}

// The first design of cumulative submodel s holds its thresholds: its variables are the
// response (the submodel's variables outside its conditioning margin), with q - 1 free
// thresholds for the models a to d (one per category but the last), an intercept and a spacing
// for the equidistant models e to h, and an intercept for model i; none with "nin".
void SetUpThresholdDesign(ModelState& model, int s) {
  Submodel& submodel = model.submodels[s];
  if (submodel.DesignTermCount() == 0) return;
  Design& thresholds = submodel.designs[0];
  const Membership response = submodel.Response(s > 0);
  const double q = ProductOfDimensions(model, response);
  // The first subtable has no conditioning margin: its frequencies are no distributions of a
  // response given anything.
  if (s == 0) {
    StopRun("  Error: the cumulative model " + submodel.term +
            " cannot be the first subtable; model its conditioning variables first (as in "
            "mod AB R|AB cum(a) {...})");
  }
  if (q < 2) {
    StopRun("  Error: cumulative model for subtable " + submodel.term +
            " needs a response with more than one category");
  }
  if (q > 1e9) StopRun("  Error: problem too big to fit in memory");
  thresholds.DesignVariables = response;
  thresholds.cells = static_cast<int>(q);
  thresholds.family = DesignFamily::kCovariate;
  const CumulativeForm form = submodel.CumulativeModel;
  const int count = form.FreeThresholds() ? static_cast<int>(q) - 1 : form.IsNormal() ? 1 : 2;
  thresholds.DesignCountParam = submodel.no_initial ? 0 : count;
}

}  // namespace

void LayOutSubmodels(InputRun& run) {
  ModelState& model = run.model;
  LayOutSubgroups(model);
  DropUnusedConditioningVariables(model);
  MoveAllEffectsToTheirSubmodels(model);
  AimAllRestrictions(model);
  KeepHazardConditioningVariables(run);

  double cell_total = 0;
  double condition_total = 0;
  for (int s : LaidOutSubmodels(run)) {
    Submodel& submodel = model.submodels[s];
    submodel.dimensions.clear();
    submodel.SubmodelVarCount = 0;
    for (int v = 0; v < kVectorSize; ++v) {
      if (submodel.SubmodelVariables[v] == 0) continue;
      submodel.dimensions.push_back(model.Dimension[v]);
      ++submodel.SubmodelVarCount;
    }
    submodel.cell_count = ProductOfDimensions(model, submodel.SubmodelVariables);
    submodel.condition_cells = (s > 0 && submodel.MarginCount() > 0)
                                   ? ProductOfDimensions(model, submodel.EffectVariables[0])
                                   : 1;
    if (submodel.IsCumulative() && s < model.SubmodelCount) SetUpThresholdDesign(model, s);
    if (!submodel.IsTied()) {
      submodel.first_cell = static_cast<std::int64_t>(std::min(cell_total, kOffsetLimit));
      submodel.first_condition_cell =
          static_cast<std::int64_t>(std::min(condition_total, kOffsetLimit));
      cell_total += submodel.cell_count;
      condition_total += submodel.condition_cells;
    } else {
      const Submodel& tied = model.submodels[submodel.tied_to];
      if (!SameLayout(submodel, tied)) {
        StopRun("  Error: subtables restricted with \"eq1\" do not completely match");
      }
      submodel.first_cell = tied.first_cell;
      submodel.first_condition_cell = tied.first_condition_cell;
    }
  }
  model.submodel_cell_total = static_cast<std::int64_t>(std::min(cell_total, kOffsetLimit));
  model.condition_cell_total = static_cast<std::int64_t>(std::min(condition_total, kOffsetLimit));
}

void ParseModelSections(Reader& reader, InputRun& run) {
  ParseModelSection(reader, run);
  ParseEventHistorySection(reader, run);
  ParseRecordFormatSection(reader, run);
  LayOutSubmodels(run);
  SizeAssociationArrays(run);
  InitialiseParameterArrays(run);
}

void SizeAssociationArrays(InputRun& run) {
  for (int s : LaidOutSubmodels(run)) {
    for (const AssocEffect& effect : run.model.submodels[s].assoc) {
      if (effect.AssocDimensions[0] > effect.rows || effect.AssocDimensions[1] > effect.columns) {
        StopRun("  Error: more effects/scores than rows/columns in association model");
      }
      if (effect.AssocDimensions[2] > effect.groups) {
        StopRun("  Error: more effects/scores than groups in association model");
      }
    }
  }
}

void InitialiseParameterArrays(InputRun&) {
  // The probability, hazard and association parameter arrays are created by the estimation,
  // which starts every value at 1.0.
}

void IndexRestrictedSubmodels(InputRun& run, const std::vector<std::int32_t>& restriction_codes) {
  ModelState& model = run.model;
  model.RestrictedParamCount = 0;
  model.RestrictionSetCount = 0;
  model.RestrictionClass.clear();
  model.RestrictionColumn.clear();
  model.OrdinalColumn.clear();
  const std::vector<std::int32_t>& codes = restriction_codes;
  std::vector<char> set_seen;  // by equality set number, over all eq2/eq3 submodels
  std::int64_t column_base = 0;
  for (int s = 0; s < model.SubmodelCount; ++s) {
    const Submodel& submodel = model.submodels[s];
    if (submodel.HasRestrictedCells() || submodel.IsSaturatedFixed()) {
      // A table of 2^63 cells or more has more parameters than a count holds: keep the count
      // finite (no data can fill such a table).
      const double columns = submodel.condition_cells;
      const double free = (submodel.cell_count / columns - 1) * columns;
      model.RestrictedParamCount += static_cast<std::int64_t>(std::min(free, kOffsetLimit));
      if (s == 0) ++model.RestrictedParamCount;
    }
    if (submodel.IsOrdinal()) {
      const std::vector<std::int32_t> columns = CellColumns(model, s);
      model.OrdinalColumn.insert(model.OrdinalColumn.end(), columns.begin(), columns.end());
    }
    if (submodel.SubmodelKind != SubmodelKindCode::kEqualityRestricted) continue;

    const std::vector<std::int32_t> columns = CellColumns(model, s);
    const auto columns_here = static_cast<std::int64_t>(submodel.condition_cells);
    if (!model.UseEq2) column_base = 0;
    std::vector<char> has_free(columns_here, 0);
    std::vector<std::int32_t> last_class(columns_here, 0);
    std::vector<char> last_class_new(columns_here, 0);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::size_t at = model.RestrictionClass.size();
      const std::int32_t code = at < codes.size() ? codes[at] : 0;
      model.RestrictionClass.push_back(code);
      model.RestrictionColumn.push_back(static_cast<std::int32_t>(column_base + columns[c]));
      const std::int32_t column = columns[c];
      if (code == 0) {
        has_free[column] = 1;
      } else if (code == -1) {
        --model.RestrictedParamCount;
      } else if (code >= 1) {
        if (static_cast<std::size_t>(code) >= set_seen.size()) set_seen.resize(code + 1, 0);
        const bool first_time = !set_seen[code];
        if (!first_time) --model.RestrictedParamCount;
        set_seen[code] = 1;
        last_class[column] = code;
        last_class_new[column] = first_time;
        model.RestrictionSetCount = std::max(model.RestrictionSetCount, static_cast<int>(code));
      }
    }
    for (std::int64_t j = 0; j < columns_here; ++j) {
      if (!has_free[j] && !(last_class[j] >= 1 && last_class_new[j])) {
        ++model.RestrictedParamCount;
      }
    }
    column_base += columns_here;
  }
}

void FinishLayout(InputRun& run, bool carry_all) {
  ModelState& model = run.model;
  LayOutSubgroups(model);
  const int first = model.FirstManifest();
  auto unobserved = [&](const Membership& pattern, int v) {
    return model.IsManifest(v) && pattern[v - first] == 0;
  };
  auto mark_submodel = [&](Membership& pattern, const Submodel& submodel) {
    for (int v = first; v < model.VariableCount; ++v) {
      if (submodel.SubmodelVariables[v] != 0 && unobserved(pattern, v)) pattern[v - first] = 2;
    }
  };
  const bool has_hazard =
      run.history.HazardModel && static_cast<int>(model.submodels.size()) > model.SubmodelCount;
  model.complete_cell_count.assign(model.SubgroupPattern.size(), 1);
  for (std::size_t g = 0; g < model.SubgroupPattern.size(); ++g) {
    Membership& pattern = model.SubgroupPattern[g];
    if (carry_all) {
      for (int v = first; v < model.VariableCount; ++v) {
        if (unobserved(pattern, v)) pattern[v - first] = 2;
      }
    } else {
      if (has_hazard) mark_submodel(pattern, model.submodels[model.SubmodelCount]);
      for (int round = 0; round < model.VariableCount; ++round) {
        for (int s = model.SubmodelCount - 1; s >= 1; --s) {
          const Submodel& submodel = model.submodels[s];
          bool carried = false;
          for (int v = 0; v < model.VariableCount && !carried; ++v) {
            const bool dependent =
                submodel.SubmodelVariables[v] != 0 &&
                (submodel.MarginCount() == 0 || submodel.EffectVariables[0][v] == 0);
            if (!dependent) continue;
            carried = !model.IsManifest(v) || pattern[v - first] != 0;
          }
          if (carried) mark_submodel(pattern, submodel);
        }
      }
      if (model.SubmodelCount > 0) mark_submodel(pattern, model.submodels[0]);
    }
    double cells = model.LatentStateCount;
    for (int v = first; v < model.VariableCount; ++v) {
      if (pattern[v - first] == 2) cells *= model.Dimension[v];
    }
    model.complete_cell_count[g] = cells;
  }
}

void IndexDataRecords(InputRun&) {
  // Record-format data that stay records (event histories, continuous covariates) are
  // indexed by the E-step, which owns the cell positions it needs.
}

}  // namespace tav
