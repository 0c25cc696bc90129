#include "report/probabilities.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/format_real.h"
#include "core/table_zero.h"
#include "newton/newton_iteration.h"
#include "report/report_computations.h"
#include "report/results_document.h"
#include "report/write_report.h"

namespace tav {
namespace {

constexpr std::int64_t kMaxCellsWithStdErrors = 128;

// a / b, or 0 when b is at most 1E-300.

// The label of one cell of submodel t: the categories of its dependent variables, then, for a
// conditional submodel, "| " and the categories of its conditioning variables.
std::string CellLabel(const ModelState& model, int t, const std::vector<int>& variables,
                      const std::vector<int>& category) {
  std::string dependent;
  std::string conditioning;
  for (std::size_t k = 0; k < variables.size(); ++k) {
    std::string& part = IsDependentIn(model, t, variables[k]) ? dependent : conditioning;
    part += CategoryLabel(category[k]) + " ";
  }
  if (t > 0 && !conditioning.empty()) return dependent + "| " + conditioning;
  return dependent;
}

}  // namespace

std::string CategoryLabel(int category) { return FormatReal(0, 0, category + 1.0); }

ProbabilityResults ComputeProbabilities(const RunState& run, int first) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  const std::vector<double>& fitted = run.estimation.FittedTable;
  const std::vector<double>& std_errors = run.newton.probability_std_errors;
  const double n_total = run.data.total_count;
  const bool with_std_errors = ShowsStdErrors(run) && !model.AnyMar;
  ProbabilityResults results;
  results.shown = settings.show_conditional && settings.show_details && first < model.SubmodelCount;
  if (!results.shown) return results;
  for (int t = std::max(first, 0); t < model.SubmodelCount; ++t) {
    const Submodel& submodel = model.submodels[t];
    ProbabilityTable& table = results.tables.emplace_back();
    table.submodel = t;
    table.label = ConditionalLabel(run, t);
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    table.listed = cells <= kLargestListedTable;
    if (!table.listed) continue;
    table.std_errors =
        with_std_errors && cells <= kMaxCellsWithStdErrors && !submodel.IsSaturatedFixed();
    const std::vector<int> variables = SubmodelVariableList(model, t);
    std::vector<int> category(variables.size(), 0);
    for (std::int64_t c = 0; c < cells; ++c) {
      const auto index = static_cast<std::size_t>(submodel.first_cell + c);
      const double value = index < fitted.size() ? fitted[index] : 0.0;
      ProbabilityCell& cell = table.cells.emplace_back();
      cell.probability = t == 0 ? TableRatio(value, n_total) : value;
      cell.categories.resize(category.size());
      for (std::size_t k = 0; k < category.size(); ++k) cell.categories[k] = category[k] + 1;
      if (table.std_errors) {
        cell.std_err_known = index < std_errors.size();
        cell.std_err = cell.std_err_known ? std_errors[index] : 0.0;
      }
      // Next cell: the last variable fastest.
      for (int k = static_cast<int>(variables.size()) - 1; k >= 0; --k) {
        if (++category[k] < model.Dimension[variables[k]]) break;
        category[k] = 0;
      }
    }
  }
  return results;
}

void WriteProbabilitiesSection(const ProbabilityResults& results, const ModelState& model,
                               TextFile& out) {
  if (!results.shown) return;
  for (const ProbabilityTable& table : results.tables) {
    if (&table == &results.tables.front()) {
      out.WriteLine("");
      out.WriteLine("*** (CONDITIONAL) PROBABILITIES ***");
      out.WriteLine("");
    }
    out.WriteLine("* " + table.label + " *");
    out.WriteLine("");
    if (!table.listed) {
      out.WriteLine(NotListedText("table", kLargestListedTable));
      out.WriteLine("");
      continue;
    }
    const std::vector<int> variables = SubmodelVariableList(model, table.submodel);
    std::vector<int> category(variables.size());
    for (const ProbabilityCell& cell : table.cells) {
      for (std::size_t k = 0; k < category.size(); ++k) category[k] = cell.categories[k] - 1;
      const double p = cell.probability;
      std::string line = Blanks(2) +
                         PadRight(CellLabel(model, table.submodel, variables, category), 12) +
                         FormatReal(9, 4, p);
      if (table.std_errors) line += "  (" + FormatReal(4, 4, cell.std_err) + ")";
      if (p <= 1e-10 || p >= 0.9999999999) line += " *";
      out.WriteLine(line);
    }
    out.WriteLine("");
  }
  if (!results.tables.empty()) out.WriteLine("");
}

LatentClassResults ComputeLatentClassOutput(const RunState& run) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  LatentClassResults results;
  if (!settings.show_latent || !settings.show_details || model.LatentCount <= 0) return results;
  if (!LatentClassOutputFits(model)) {
    results.listing = LatentClassResults::Listing::kNotListed;
    return results;
  }
  results.listing = LatentClassResults::Listing::kShown;
  const double n_total = run.data.total_count;
  const int first_latent = model.ResCount;
  const int latent_count = model.LatentCount;
  const int first_manifest = model.FirstManifest();
  const auto subgroups = static_cast<std::int64_t>(std::max(model.SubgroupCount, 1));
  const auto classes = static_cast<std::int64_t>(std::max(model.LatentStateCount, 1.0));
  const auto manifest_cells = static_cast<std::int64_t>(model.ManifestCellCount);

  // The manifest variables shown: all but the record number of covariate records.
  int shown_end = model.VariableCount;
  if (model.CovariateCount > 0) --shown_end;
  // Start of each manifest variable's block of categories in the joint table, per class.
  std::vector<std::int64_t> joint_start(kVectorSize, 0);
  std::int64_t categories = 0;
  for (int v = first_manifest; v < model.VariableCount; ++v) {
    joint_start[v] = categories;
    categories += model.Dimension[v];
  }

  // One pass over the complete table (res variables, latent, manifest; the last fastest):
  // class sizes, joint frequencies of (variable, category, class), and the estimated
  // frequencies of every (manifest cell, class) summed over the subgroups.
  std::vector<double> size(classes, 0.0);
  std::vector<double> joint(categories * classes, 0.0);
  const MemoryReservation reserved(run.context,
                                   static_cast<double>(manifest_cells) * classes * sizeof(double));
  std::vector<double> by_cell(manifest_cells * classes, 0.0);
  std::vector<int> category(kVectorSize, 0);
  std::int64_t cell = 0;
  for (std::int64_t s = 0; s < subgroups; ++s) {
    for (std::int64_t x = 0; x < classes; ++x) {
      std::fill(category.begin() + first_manifest, category.end(), 0);
      for (std::int64_t c = 0; c < manifest_cells; ++c, ++cell) {
        const double f = EstimatedCellFrequency(run, cell);
        size[x] += f;
        by_cell[c * classes + x] += f;
        for (int v = first_manifest; v < model.VariableCount; ++v) {
          joint[(joint_start[v] + category[v]) * classes + x] += f;
        }
        for (int v = model.VariableCount - 1; v >= first_manifest; --v) {
          if (++category[v] < model.Dimension[v]) break;
          category[v] = 0;
        }
      }
    }
  }

  // Classification errors: for every manifest cell, the share of its estimated frequency
  // outside its most likely class.
  const double p_max = TableRatio(*std::max_element(size.begin(), size.end()), n_total);
  double errors = 0.0;
  for (std::int64_t c = 0; c < manifest_cells; ++c) {
    const double* per_class = by_cell.data() + c * classes;
    double total = 0.0;
    double largest = 0.0;
    for (std::int64_t x = 0; x < classes; ++x) {
      total += per_class[x];
      largest = std::max(largest, per_class[x]);
    }
    if (total > 0) errors += (1.0 - largest / total) * TableRatio(total, n_total);
  }
  const double lambda = p_max < 1.0 ? (1.0 - p_max - errors) / (1.0 - p_max) : 0.0;
  LatentClassFigures& figures = results.figures;
  figures.classification_errors = errors;
  figures.lambda = lambda;
  for (std::int64_t x = 0; x < classes; ++x) {
    LatentClassFigures::Class one;
    std::int64_t rest = x;
    one.latent.assign(latent_count, 0);
    for (int l = latent_count - 1; l >= 0; --l) {
      const int d = model.Dimension[first_latent + l];
      one.latent[l] = static_cast<int>(rest % d) + 1;
      rest /= d;
    }
    one.size = size[x] > 0 ? TableRatio(size[x], n_total) : NAN;
    for (int v = first_manifest; v < shown_end; ++v) {
      std::vector<double> item;
      for (int c = 0; c < model.Dimension[v]; ++c) {
        item.push_back(size[x] > 0 ? joint[(joint_start[v] + c) * classes + x] / size[x] : NAN);
      }
      one.items.push_back(std::move(item));
    }
    figures.classes.push_back(std::move(one));
  }
  return results;
}

void WriteLatentClassSection(const LatentClassResults& results, const ModelState& model,
                             TextFile& out) {
  if (results.listing == LatentClassResults::Listing::kNotListed) {
    out.WriteLine("");
    out.WriteLine("*** LATENT CLASS OUTPUT ***");
    out.WriteLine("");
    out.WriteLine(NotListedText("complete table", kLargestLatentClassTable));
    out.WriteLine("");
  }
  if (results.listing != LatentClassResults::Listing::kShown) return;
  const LatentClassFigures& figures = results.figures;
  const int first_latent = model.ResCount;
  const int latent_count = model.LatentCount;
  const int first_manifest = model.FirstManifest();
  const auto classes = static_cast<std::int64_t>(figures.classes.size());
  int shown_end = model.VariableCount;
  if (model.CovariateCount > 0) --shown_end;
  out.WriteLine("");
  out.WriteLine("*** LATENT CLASS OUTPUT ***");
  out.WriteLine("");
  const std::int64_t width = latent_count > 4 ? 32 / latent_count : 8;
  for (std::int64_t begin = 0; begin < classes; begin += width) {
    const std::int64_t end = std::min(classes, begin + width);
    // The categories of the latent variables per class: the first latent variable slowest.
    for (int l = 0; l < latent_count; ++l) {
      const int v = first_latent + l;
      std::int64_t below = 1;
      for (int k = v + 1; k < first_manifest; ++k) below *= model.Dimension[k];
      std::string line = Blanks(6);
      for (std::int64_t x = begin; x < end; ++x) {
        const std::int64_t c = x / below % model.Dimension[v];
        line += PadLeft(model.VariableLabel[v], 5) + FormatReal(3, 0, c + 1.0);
      }
      out.WriteLine(line);
    }
    std::string line = Blanks(7);
    for (std::int64_t x = begin; x < end; ++x) {
      const double size = figures.classes[x].size;
      line += std::isnan(size) ? "    --- " : FormatReal(8, 4, size);
    }
    out.WriteLine(line);
    for (int v = first_manifest; v < shown_end; ++v) {
      for (int c = 0; c < model.Dimension[v]; ++c) {
        line = PadLeft(model.VariableLabel[v], 3) + FormatReal(3, 0, c + 1.0) + " ";
        for (std::int64_t x = begin; x < end; ++x) {
          const LatentClassFigures::Class& one = figures.classes[x];
          line += std::isnan(one.size) ? "    --- "
                                       : FormatReal(8, 4, one.items[v - first_manifest][c]);
        }
        out.WriteLine(line);
      }
    }
    out.WriteLine("");
  }

  out.WriteLine("E = " + FormatReal(4, 4, figures.classification_errors) +
                ", lambda = " + FormatReal(4, 4, figures.lambda));
}

}  // namespace tav
