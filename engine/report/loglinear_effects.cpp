#include "report/loglinear_effects.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <tuple>

#include "core/elementary.h"
#include "estimation/free_parameters.h"

namespace tav {
namespace {

// A fitted margin of a submodel: its variables and its working copy of the margin parameters.
struct Margin {
  Membership variables{};
  std::vector<int> members;  // in variable order
  std::vector<double> mu;
};

// The parameter block of margin i of submodel t; a submodel tied to another by eq1 shares the
// parameters of that submodel. Empty when the margin has none.
std::vector<double> MarginBlock(const RunState& run, int t, int i) {
  const EstimationState& est = run.estimation;
  const Submodel& submodel = run.model.submodels[t];
  const bool tied = submodel.IsTied() && submodel.tied_to < run.model.SubmodelCount;
  const int source = tied ? submodel.tied_to : t;
  if (source >= static_cast<int>(est.margin_parameter_offset.size())) return {};
  if (i >= static_cast<int>(est.margin_parameter_offset[source].size())) return {};
  const std::int64_t offset = est.margin_parameter_offset[source][i];
  if (offset < 0) return {};
  const std::int64_t size = est.margin_shapes[source][i].margin_cells();
  if (offset + size > static_cast<std::int64_t>(est.MarginParameters.size())) return {};
  return std::vector<double>(est.MarginParameters.begin() + offset,
                             est.MarginParameters.begin() + offset + size);
}

std::vector<Margin> FittedMargins(const RunState& run, int t, bool conditional) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[t];
  std::vector<Margin> margins;
  for (int i = conditional ? 1 : 0; i < submodel.MarginCount(); ++i) {
    Margin margin;
    for (int v = 0; v < kVectorSize; ++v) {
      if (submodel.SubmodelVariables[v] != 0 && submodel.EffectVariables[i][v] != 0) {
        margin.variables[v] = 1;
        margin.members.push_back(v);
      }
    }
    margin.mu = MarginBlock(run, t, i);
    margins.push_back(std::move(margin));
  }
  return margins;
}

bool Contains(const Membership& outer, const std::vector<int>& members) {
  return std::all_of(members.begin(), members.end(), [&](int v) { return outer[v] != 0; });
}

// Peels the parameters of one effect off the working margins that contain it: per effect cell
// the mean log margin parameter over the margin cells of that effect cell (for variables with a
// reference category only the cells at that category), which is then divided out of them.
void PeelEffect(const ModelState& model, const ReferenceCategories& reference,
                std::vector<Margin>& margins, LogLinearEffect& effect) {
  const std::size_t effect_cells = effect.beta.size();
  std::vector<double> sum(effect_cells);
  std::vector<std::int64_t> count(effect_cells);
  for (Margin& margin : margins) {
    if (margin.mu.empty() || !Contains(margin.variables, effect.members)) continue;
    const int m = static_cast<int>(margin.members.size());
    // Stride in the effect cell index of each margin variable (0 outside the effect), and the
    // category a variable outside the effect must stand at (-1: any).
    std::vector<std::int64_t> stride(m, 0);
    std::vector<int> required(m, -1);
    std::int64_t w = 1;
    for (int j = m - 1; j >= 0; --j) {
      const int v = margin.members[j];
      if (effect.variables[v] != 0) {
        stride[j] = w;
        w *= model.Dimension[v];
      } else if (reference[v] > 0) {
        required[j] = reference[v] - 1;
      }
    }
    std::vector<std::int64_t> effect_cell(margin.mu.size());
    std::vector<bool> qualifies(margin.mu.size());
    std::vector<int> category(m, 0);
    for (std::size_t c = 0; c < margin.mu.size(); ++c) {
      std::int64_t e = 0;
      bool ok = true;
      for (int j = 0; j < m; ++j) {
        e += stride[j] * category[j];
        if (required[j] >= 0 && category[j] != required[j]) ok = false;
      }
      effect_cell[c] = e;
      qualifies[c] = ok;
      for (int j = m - 1; j >= 0; --j) {
        if (++category[j] < model.Dimension[margin.members[j]]) break;
        category[j] = 0;
      }
    }
    std::fill(sum.begin(), sum.end(), 0.0);
    std::fill(count.begin(), count.end(), 0);
    for (std::size_t c = 0; c < margin.mu.size(); ++c) {
      if (qualifies[c] && margin.mu[c] > 0) {
        sum[effect_cell[c]] += Log(margin.mu[c]);
        ++count[effect_cell[c]];
      }
    }
    std::vector<double> factor(effect_cells);
    for (std::size_t e = 0; e < effect_cells; ++e) {
      const double mean = count[e] > 0 ? sum[e] / count[e] : 0.0;
      if (count[e] > 0) effect.estimated[e] = true;
      effect.beta[e] += mean;
      factor[e] = Exp(mean);
    }
    for (std::size_t c = 0; c < margin.mu.size(); ++c) margin.mu[c] /= factor[effect_cell[c]];
  }
}

}  // namespace

ReferenceCategories TableReferences(const RunState& run, int t) {
  // The same codings as the free parameters, so that standard errors belong to the betas.
  return EffectiveReference(run, t);
}

std::vector<LogLinearEffect> LogLinearParameters(const RunState& run, int t, bool conditional,
                                                 const ReferenceCategories& reference) {
  const ModelState& model = run.model;
  const std::vector<int> variables = SubmodelVariableList(model, t);
  std::vector<Margin> margins = FittedMargins(run, t, conditional);

  // Position code of a variable: the product of the dimensions of the submodel's variables
  // before it.
  std::vector<double> code(kVectorSize, 0.0);
  double product = 1;
  for (int v : variables) {
    code[v] = product;
    product *= model.Dimension[v];
  }
  // Every subset of every margin, ordered by size, then position code.
  std::set<std::tuple<std::size_t, double, std::vector<int>>> subsets;
  for (const Margin& margin : margins) {
    const std::size_t m = margin.members.size();
    if (m >= 31) continue;  // never a real table: 2^31 effects
    for (std::uint32_t mask = 0; mask < (std::uint32_t{1} << m); ++mask) {
      std::vector<int> members;
      double position = 0;
      for (std::size_t b = 0; b < m; ++b) {
        if ((mask >> (m - 1 - b) & 1) == 0) continue;
        members.push_back(margin.members[b]);
        position += code[margin.members[b]];
      }
      subsets.emplace(members.size(), position, std::move(members));
    }
  }

  std::vector<LogLinearEffect> effects;
  for (const auto& [size, position, members] : subsets) {
    LogLinearEffect effect;
    effect.members = members;
    std::int64_t cells = 1;
    for (int v : members) {
      effect.variables[v] = 1;
      cells *= model.Dimension[v];
    }
    effect.beta.assign(cells, 0.0);
    effect.estimated.assign(cells, false);
    PeelEffect(model, reference, margins, effect);
    effects.push_back(std::move(effect));
  }
  return effects;
}

std::int64_t FittedZeroMargins(const RunState& run, int t, bool conditional) {
  std::int64_t zeros = 0;
  for (const Margin& margin : FittedMargins(run, t, conditional)) {
    zeros += std::count(margin.mu.begin(), margin.mu.end(), 0.0);
  }
  return zeros;
}

}  // namespace tav
