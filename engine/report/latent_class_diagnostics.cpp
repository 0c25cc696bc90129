#include "report/latent_class_diagnostics.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/elementary.h"
#include "core/format_real.h"
#include "estimation/e_step.h"
#include "report/report_computations.h"
#include "report/results_document.h"
#include "report/write_report.h"

namespace tav {
namespace {

// The residual that stands out: the 5% point of chi-squared on one degree of freedom.
constexpr double kLargeResidual = 3.84;
// The completions (cells times latent classes times categories summed over, per subgroup)
// that the bivariate residuals of all pairs may take together.
constexpr double kLargestPairWork = 1e7;
// The cells of the pairs' tables computed together (their memory).
constexpr double kCellsTogether = 1 << 20;
// Columns of the tables per block.
constexpr int kColumnsPerBlock = 8;
// The widest line of the notes.
constexpr std::size_t kLineWidth = 78;

double EntryWeight(const DataStore& data, std::int64_t e) {
  return data.entry_count_given ? data.entry_count[e] : 1.0;
}

std::int64_t ClassCount(const ModelState& model) {
  return static_cast<std::int64_t>(std::max(1.0, std::round(model.LatentStateCount)));
}

// The manifest variables of the pairs: all but the record number of covariate records.
std::vector<int> PairVariables(const ModelState& model) {
  std::vector<int> variables;
  const int end = model.CovariateCount > 0 ? model.VariableCount - 1 : model.VariableCount;
  for (int v = model.FirstManifest(); v < end; ++v) variables.push_back(v);
  return variables;
}

bool ObservesBoth(const ModelState& model, int s, int first, int second) {
  const Membership& marks = model.SubgroupPattern[s];
  const int f = model.FirstManifest();
  return marks[first - f] == 1 && marks[second - f] == 1;
}

Membership PairPattern(const ModelState& model, int first, int second) {
  Membership marks{};
  marks[first] = 1;
  marks[second] = 1;
  return MarginPattern(model, marks);
}

// The completions the expected table of a pair takes over all subgroups that observe it.
double PairWork(const ModelState& model, int first, int second) {
  const Membership pattern = PairPattern(model, first, second);
  double cells = static_cast<double>(ClassCount(model));
  for (int v = model.FirstManifest(); v < model.VariableCount; ++v) {
    if (pattern[v - model.FirstManifest()] != 0) cells *= std::max(model.Dimension[v], 1);
  }
  int subgroups = 0;
  for (int s = 0; s < static_cast<int>(model.SubgroupPattern.size()); ++s) {
    if (ObservesBoth(model, s, first, second)) ++subgroups;
  }
  return cells * subgroups;
}

// Writes lead and the words after it, separated by commas and ended by a full stop, in lines
// of at most kLineWidth characters; the lines after the first begin with indent.
void WriteWrapped(TextFile& out, const std::string& lead, const std::vector<std::string>& words,
                  const std::string& indent) {
  std::string line = lead;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string word = words[i] + (i + 1 < words.size() ? "," : ".");
    if (line != indent && line.size() + 1 + word.size() > kLineWidth) {
      out.WriteLine(line);
      line = indent;
    }
    line += (line == indent ? "" : " ") + word;
  }
  out.WriteLine(line);
}

std::string RatioText(const PairResidual& residual) {
  return residual.defined ? " " + FormatReal(8, 3, residual.ratio) : PadLeft("--", 9);
}

}  // namespace

void ComputeBivariateResiduals(const RunState& run, DiagnosticsResults& results) {
  const ModelState& model = run.model;
  results.variables = PairVariables(model);
  const std::vector<int>& variables = results.variables;
  const int count = static_cast<int>(variables.size());
  if (count < 2) {
    results.pairs = DiagnosticsResults::Pairs::kTooFewVariables;
    return;
  }
  double work = 0;
  for (int i = 0; i < count; ++i) {
    for (int j = i + 1; j < count; ++j) {
      const int a = variables[i];
      const int b = variables[j];
      const double cells = static_cast<double>(model.Dimension[a]) * model.Dimension[b];
      if (cells > static_cast<double>(kLargestListedTable)) {
        results.pairs = DiagnosticsResults::Pairs::kPairTableTooLarge;
        return;
      }
      work += PairWork(model, a, b);
    }
  }
  if (work > kLargestPairWork) {
    results.pairs = DiagnosticsResults::Pairs::kTooMuchWork;
    return;
  }
  results.pairs = DiagnosticsResults::Pairs::kShown;
  results.residuals.assign(static_cast<std::size_t>(count) * count, PairResidual{});
  // The pairs' tables in groups of at most kCellsTogether cells (a larger pair alone).
  std::vector<VariablePair> block;
  std::vector<int> places;
  double cells = 0;
  const auto flush = [&] {
    const std::vector<PairTable> tables = PairTables(run, block);
    for (std::size_t k = 0; k < tables.size(); ++k) {
      results.residuals[places[k]] = BivariateResidual(tables[k]);
    }
    block.clear();
    places.clear();
    cells = 0;
  };
  for (int i = 0; i < count; ++i) {
    for (int j = 0; j < i; ++j) {
      const double more = static_cast<double>(std::max(model.Dimension[variables[i]], 1)) *
                          std::max(model.Dimension[variables[j]], 1);
      if (!block.empty() && cells + more > kCellsTogether) flush();
      block.push_back({variables[j], variables[i]});
      places.push_back(i * count + j);
      cells += more;
    }
  }
  if (!block.empty()) flush();
}

namespace {

void WriteBivariateResiduals(const DiagnosticsResults& results, const ModelState& model,
                             TextFile& out) {
  out.WriteLine("");
  out.WriteLine("*** BIVARIATE RESIDUALS ***");
  out.WriteLine("");
  switch (results.pairs) {
    case DiagnosticsResults::Pairs::kTooFewVariables:
      out.WriteLine("  No pairs: the model has fewer than two manifest variables.");
      out.WriteLine("");
      return;
    case DiagnosticsResults::Pairs::kPairTableTooLarge:
      out.WriteLine(NotListedText("table of a pair of variables", kLargestListedTable));
      out.WriteLine("");
      return;
    case DiagnosticsResults::Pairs::kTooMuchWork:
      out.WriteLine(NotListedText("complete table of the pairs of variables", kLargestPairWork));
      out.WriteLine("");
      return;
    case DiagnosticsResults::Pairs::kShown:
      break;
  }
  const std::vector<int>& variables = results.variables;
  const int count = static_cast<int>(variables.size());
  const std::vector<PairResidual>& residuals = results.residuals;
  out.WriteLine("  Pearson X-squared of the observed against the estimated two-way table, divided");
  out.WriteLine("  by its degrees of freedom, for every pair of manifest variables:");
  for (int begin = 0; begin < count - 1; begin += kColumnsPerBlock) {
    const int end = std::min(count - 1, begin + kColumnsPerBlock);
    out.WriteLine("");
    std::string heading = Blanks(6);
    for (int j = begin; j < end; ++j) heading += PadLeft(model.VariableLabel[variables[j]], 9);
    out.WriteLine(heading);
    for (int i = begin + 1; i < count; ++i) {
      std::string line = Blanks(2) + PadRight(model.VariableLabel[variables[i]], 4);
      for (int j = begin; j < std::min(i, end); ++j) line += RatioText(residuals[i * count + j]);
      out.WriteLine(line);
    }
  }
  out.WriteLine("");

  std::vector<std::string> large;
  bool undefined = false;
  int lost_cells = 0;
  for (int j = 0; j < count; ++j) {
    for (int i = j + 1; i < count; ++i) {
      const PairResidual& r = residuals[i * count + j];
      const std::string& a = model.VariableLabel[variables[j]];
      const std::string& b = model.VariableLabel[variables[i]];
      if (r.defined && r.ratio > kLargeResidual) large.push_back(a + "-" + b);
      undefined = undefined || !r.defined;
      lost_cells += r.lost_cells;
    }
  }
  if (large.empty()) {
    out.WriteLine("  No pair has X-squared/df above 3.84.");
  } else {
    WriteWrapped(out, "  Pairs with X-squared/df above 3.84:", large, Blanks(4));
  }
  if (undefined) {
    out.WriteLine("  --: no subgroup observes both variables, or one of them has one category.");
  }
  if (lost_cells > 0) {
    out.WriteLine("  Left out of the sums: " + FormatReal(0, 0, lost_cells) +
                  (lost_cells == 1 ? " cell" : " cells") +
                  " with observed cases and an estimated frequency of 0.");
  }
  out.WriteLine("");
}

// The pairs in the document's order: by the column's variable, then the row's.
std::vector<BivariateResidualFigures> BivariateFigures(const DiagnosticsResults& results,
                                                       const ModelState& model) {
  std::vector<BivariateResidualFigures> figures;
  const std::vector<int>& variables = results.variables;
  const int count = static_cast<int>(variables.size());
  for (int j = 0; j < count; ++j) {
    for (int i = j + 1; i < count; ++i) {
      const PairResidual& r = results.residuals[i * count + j];
      figures.push_back({model.VariableLabel[variables[j]], model.VariableLabel[variables[i]],
                         r.x_squared, r.df, r.defined ? r.ratio : NAN});
    }
  }
  return figures;
}

// The label lines of the class columns begin .. end: one per latent variable, its label and
// category in 8 characters per class, the first latent variable slowest.
std::vector<std::string> ClassHeadings(const ModelState& model, std::int64_t begin,
                                       std::int64_t end) {
  std::vector<std::string> lines;
  for (int l = 0; l < model.LatentCount; ++l) {
    const int v = model.ResCount + l;
    std::int64_t below = 1;
    for (int k = v + 1; k < model.FirstManifest(); ++k) below *= model.Dimension[k];
    std::string line;
    for (std::int64_t x = begin; x < end; ++x) {
      line += PadLeft(model.VariableLabel[v], 5) +
              FormatReal(3, 0, x / below % model.Dimension[v] + 1.0);
    }
    lines.push_back(line);
  }
  return lines;
}

// The categories (from 1) of the latent variables of class x.
std::vector<int> ClassCategories(const ModelState& model, std::int64_t x) {
  std::vector<int> categories(static_cast<std::size_t>(model.LatentCount), 1);
  for (int l = model.LatentCount - 1; l >= 0; --l) {
    const int d = std::max(model.Dimension[model.ResCount + l], 1);
    categories[l] = static_cast<int>(x % d) + 1;
    x /= d;
  }
  return categories;
}

void WriteClassification(const ClassificationTable& table, const ModelState& model, TextFile& out) {
  const std::int64_t classes = table.classes;
  out.WriteLine("");
  out.WriteLine("*** CLASSIFICATION ***");
  out.WriteLine("");
  if (!(table.total > 0)) {
    out.WriteLine("  No cases to classify.");
    out.WriteLine("");
    return;
  }
  if (model.LatentCount > 1) {
    std::string labels;
    for (int l = 0; l < model.LatentCount; ++l) {
      labels += (l > 0 ? " " : "") + model.VariableLabel[model.ResCount + l];
    }
    out.WriteLine("  The classes are those of " + labels + " jointly, the first slowest.");
  }
  out.WriteLine("  The cases assigned to the class of their largest posterior probability, and");
  out.WriteLine("  the average posterior probability of every class among them:");
  out.WriteLine("");
  if (static_cast<double>(classes) * classes > static_cast<double>(kLargestListedTable)) {
    out.WriteLine(NotListedText("classification table", kLargestListedTable));
  } else {
    // The rows: the categories of the latent variables and the cases, then the columns.
    const int label_width = 3 * std::max(model.LatentCount, 2);
    const int left = 2 + label_width + 11;
    const int per_block = std::max(1, std::min(kColumnsPerBlock, (80 - left - 2) / 8));
    for (std::int64_t begin = 0; begin < classes; begin += per_block) {
      const std::int64_t end = std::min(classes, begin + per_block);
      if (begin > 0) out.WriteLine("");
      const std::vector<std::string> headings = ClassHeadings(model, begin, end);
      for (int l = 0; l < model.LatentCount; ++l) {
        std::string line = Blanks(left + 2);
        if (l == model.LatentCount - 1) {
          std::string labels;
          for (int k = 0; k < model.LatentCount; ++k) {
            labels += PadLeft(model.VariableLabel[model.ResCount + k], 3);
          }
          line = Blanks(2) + PadRight(labels, label_width) + PadLeft("cases", 11) + Blanks(2);
        }
        out.WriteLine(line + headings[l]);
      }
      for (std::int64_t k = 0; k < classes; ++k) {
        std::string labels;
        for (int c : ClassCategories(model, k)) labels += FormatReal(3, 0, c);
        std::string line = Blanks(2) + PadRight(labels, label_width) +
                           FormatReal(11, 3, table.cases[k]) + Blanks(2);
        for (std::int64_t x = begin; x < end; ++x) {
          line +=
              table.cases[k] > 0 ? FormatReal(8, 4, table.average[k * classes + x]) : "    --- ";
        }
        out.WriteLine(line);
      }
      out.WriteLine(Blanks(2) + PadRight("total", label_width) + FormatReal(11, 3, table.total));
    }
  }
  out.WriteLine("");
  out.WriteLine("  Entropy R-squared = " + FormatReal(4, 4, table.entropy_r_squared));
  out.WriteLine("");
}

// The classification as the document gives it (empty when there were no cases).
ClassificationFigures ClassificationFiguresOf(const ClassificationTable& table,
                                              const ModelState& model) {
  ClassificationFigures figures;
  if (!(table.total > 0)) return figures;
  const std::int64_t classes = table.classes;
  figures.cases = table.total;
  figures.entropy_r_squared = table.entropy_r_squared;
  for (std::int64_t k = 0; k < classes; ++k) {
    ClassificationFigures::Class one;
    one.latent = ClassCategories(model, k);
    one.cases = table.cases[k];
    for (std::int64_t x = 0; x < classes; ++x) {
      one.average_posteriors.push_back(table.cases[k] > 0 ? table.average[k * classes + x] : NAN);
    }
    figures.classes.push_back(std::move(one));
  }
  return figures;
}

}  // namespace

PairResidual BivariateResidual(const PairTable& table) {
  PairResidual residual;
  residual.first = table.first;
  residual.second = table.second;
  residual.df = (table.rows - 1) * (table.columns - 1);
  for (std::size_t c = 0; c < table.observed.size(); ++c) {
    const double n = table.observed[c];
    const double m = table.expected[c];
    if (m > 0) {
      residual.x_squared += (n - m) * (n - m) / m;
    } else if (n > 0) {
      ++residual.lost_cells;
    }
  }
  residual.defined = table.subgroups > 0 && residual.df > 0 && std::isfinite(residual.x_squared);
  if (residual.defined) {
    residual.ratio = residual.x_squared / residual.df;
  } else {
    residual.x_squared =
        table.subgroups > 0 && std::isfinite(residual.x_squared) ? residual.x_squared : 0.0;
  }
  return residual;
}

ClassificationTable ClassifyEntries(const RunState& run) {
  const ModelState& model = run.model;
  ClassificationTable table;
  const std::int64_t classes = ClassCount(model);
  table.classes = classes;
  table.cases.assign(static_cast<std::size_t>(classes), 0.0);
  table.average.assign(static_cast<std::size_t>(classes * classes), 0.0);
  double entropy = 0;
  std::vector<double> p(static_cast<std::size_t>(classes));
  ForEachPosterior(run, [&](std::int64_t entry, const std::vector<double>& posterior) {
    const double weight = EntryWeight(run.data, entry);
    if (!(weight > 0) || posterior.empty()) return;
    const std::size_t per_class = posterior.size() / static_cast<std::size_t>(classes);
    std::int64_t modal = 0;
    for (std::int64_t x = 0; x < classes; ++x) {
      double sum = 0;
      for (std::size_t k = 0; k < per_class; ++k) sum += posterior[x * per_class + k];
      p[x] = sum;
      if (sum > p[modal]) modal = x;
    }
    table.total += weight;
    table.cases[modal] += weight;
    for (std::int64_t x = 0; x < classes; ++x) {
      table.average[modal * classes + x] += weight * p[x];
      if (p[x] > 0) entropy -= weight * p[x] * Log(p[x]);
    }
  });
  for (std::int64_t k = 0; k < classes; ++k) {
    if (!(table.cases[k] > 0)) continue;
    for (std::int64_t x = 0; x < classes; ++x) table.average[k * classes + x] /= table.cases[k];
  }
  if (classes > 1 && table.total > 0) {
    table.entropy_r_squared = 1.0 - entropy / (table.total * Log(static_cast<double>(classes)));
  }
  return table;
}

DiagnosticsResults ComputeLatentClassDiagnostics(const RunState& run) {
  const ModelState& model = run.model;
  DiagnosticsResults results;
  if (!run.settings.show_diagnostics || !run.settings.show_details) return results;
  if (model.LatentCount <= 0 || run.history.HazardModel ||
      model.CorrespondenceType != CorrespondenceKind::kNone) {
    return results;
  }
  // Both compare the model with the data.
  if (DataSimulated(run)) {
    results.listing = DiagnosticsResults::Listing::kNotComputed;
    return results;
  }
  results.listing = DiagnosticsResults::Listing::kShown;
  ComputeBivariateResiduals(run, results);
  results.classification = ClassifyEntries(run);
  return results;
}

void WriteLatentClassDiagnosticsSections(const DiagnosticsResults& results, const ModelState& model,
                                         TextFile& out) {
  if (results.listing == DiagnosticsResults::Listing::kNotComputed) {
    WriteNotComputedSection(out, "*** BIVARIATE RESIDUALS ***");
    WriteNotComputedSection(out, "*** CLASSIFICATION ***");
  }
  if (results.listing != DiagnosticsResults::Listing::kShown) return;
  WriteBivariateResiduals(results, model, out);
  WriteClassification(results.classification, model, out);
}

void RecordLatentClassDiagnostics(RunState& run, const DiagnosticsResults& results) {
  if (results.listing != DiagnosticsResults::Listing::kShown) return;
  if (results.pairs == DiagnosticsResults::Pairs::kShown) {
    RecordBivariateResiduals(run, BivariateFigures(results, run.model));
  }
  RecordClassification(run, ClassificationFiguresOf(results.classification, run.model));
}

}  // namespace tav
