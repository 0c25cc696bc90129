#include "report/correspondence_report.h"

#include <algorithm>
#include <cmath>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/symmetric_eigensystem.h"
#include "report/random_starts_report.h"
#include "report/report_computations.h"
#include "report/result_files.h"
#include "report/results_document.h"
#include "report/write_report.h"

namespace tav {
namespace {

constexpr int kMostCategories = 90;
constexpr double kSmallestEigenvalue = 1e-10;
// The largest complete table analysed: the largest table of doubles the estimation has.
constexpr long double kLargestAnalysedTable = 12500000;

using Analysis = CorrespondenceAnalysis;

// The section title of type t and the analysis' name in the log.
struct TypeTexts {
  const char* title;
  const char* name;
};
const TypeTexts& TextsOf(CorrespondenceKind t) {
  static const TypeTexts kTexts[] = {
      {"*** CORRESPONDENCE OR CANONICAL CORRELATION ANALYSIS ***", "correspondence analysis"},
      {"*** MULTIPLE CORRESPONDENCE ANALYSIS ***", "multiple correspondence analysis"},
      {"*** ASSOCIATION ANALYSIS ***", "association analysis"},
      {"*** ASSOCIATION ANALYSIS ***", "association analysis"},
  };
  return kTexts[std::clamp(CorrespondenceNumber(t), 1, 4) - 1];
}

// The table the analysis decomposes: proportions, rows by columns, with the weights and the
// variable and category of every row and column.
struct Table {
  int rows = 0;
  int columns = 0;
  std::vector<double> p;
  std::vector<double> row_weight;
  std::vector<double> column_weight;
  std::vector<int> first_row;  // type 2: the first row of each variable
};

// The reason the model's table cannot be analysed by type t, or "".
std::string Unanalysable(const ModelState& model, CorrespondenceKind t) {
  const int k = model.VariableCount;
  if (t != CorrespondenceKind::kMultiple && k > 2)
    return "more than two variables (only type 2 takes them)";
  if (t != CorrespondenceKind::kMultiple && k < 2)
    return "one variable (types 1, 3 and 4 need two)";
  if (k < 1) return "no variables";
  int rows = 0;
  for (int v = 0; v < k; ++v) rows += std::max(model.Dimension[v], 1);
  const int i = t == CorrespondenceKind::kMultiple ? rows : model.Dimension[0];
  const int j = t == CorrespondenceKind::kMultiple ? rows : model.Dimension[1];
  if (i > kMostCategories || j > kMostCategories) return "more than 90 row or column categories";
  if (CompleteTableCells(model) > kLargestAnalysedTable) {
    return "a complete table of more than 12500000 cells";
  }
  return "";
}

// The estimated table (t 1, 3, 4: the two-way table; t 2: the Burt matrix) in frequencies, and
// its total.
Table CollectTable(const RunState& run, CorrespondenceKind t, double& total) {
  const ModelState& model = run.model;
  Table table;
  const int k = model.VariableCount;
  total = 0;
  if (t == CorrespondenceKind::kMultiple) {
    for (int v = 0; v < k; ++v) {
      table.first_row.push_back(table.rows);
      table.rows += std::max(model.Dimension[v], 1);
    }
    table.columns = table.rows;
    const auto n = static_cast<std::size_t>(table.rows);
    table.p.assign(n * n, 0.0);
    std::vector<std::size_t> at(k);
    VisitCompleteTable(run, [&](const std::vector<int>& category, double frequency) {
      total += frequency;
      if (frequency == 0) return;
      for (int v = 0; v < k; ++v) at[v] = table.first_row[v] + category[v];
      for (int u = 0; u < k; ++u) {
        double* row = &table.p[at[u] * n];
        for (int v = u; v < k; ++v) row[at[v]] += frequency;
      }
    });
    // The lower triangle from the upper one.
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < i; ++j) table.p[i * n + j] = table.p[j * n + i];
    }
  } else {
    table.rows = model.Dimension[0];
    table.columns = model.Dimension[1];
    table.p.assign(static_cast<std::size_t>(table.rows) * table.columns, 0.0);
    VisitCompleteTable(run, [&](const std::vector<int>& category, double frequency) {
      total += frequency;
      table.p[static_cast<std::size_t>(category[0]) * table.columns + category[1]] += frequency;
    });
  }
  return table;
}

// Proportions and weights of the table.
void SetWeights(Table& table, CorrespondenceKind t, double total) {
  for (double& value : table.p) value /= total;
  const int rows = table.rows;
  const int columns = table.columns;
  table.row_weight.assign(rows, 0.0);
  table.column_weight.assign(columns, 0.0);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      const double p = table.p[static_cast<std::size_t>(i) * columns + j];
      if (t == CorrespondenceKind::kMultiple) {
        if (i == j) table.row_weight[i] = table.column_weight[j] = p;
      } else {
        table.row_weight[i] += p;
        table.column_weight[j] += p;
      }
    }
  }
  if (t == CorrespondenceKind::kUniformAssociation) {
    std::fill(table.row_weight.begin(), table.row_weight.end(), 1.0 / rows);
    std::fill(table.column_weight.begin(), table.column_weight.end(), 1.0 / columns);
  }
}

// The matrix Z of the table (rows by columns).
std::vector<double> MatrixZ(const Table& table, CorrespondenceKind t) {
  const int rows = table.rows;
  const int columns = table.columns;
  const std::vector<double>& w = table.row_weight;
  const std::vector<double>& c = table.column_weight;
  std::vector<double> z(table.p.size(), 0.0);
  auto at = [&](int i, int j) { return static_cast<std::size_t>(i) * columns + j; };
  if (!IsAssociationAnalysis(t)) {
    for (int i = 0; i < rows; ++i) {
      for (int j = 0; j < columns; ++j) {
        if (w[i] > 0 && c[j] > 0) {
          z[at(i, j)] = (table.p[at(i, j)] - w[i] * c[j]) / std::sqrt(w[i] * c[j]);
        }
      }
    }
    return z;
  }
  // Association: the weighted double centring of the log table.
  std::vector<double> l(table.p.size());
  for (std::size_t k = 0; k < l.size(); ++k) l[k] = Log(table.p[k]);
  std::vector<double> row_mean(rows, 0.0);
  std::vector<double> column_mean(columns, 0.0);
  double grand_mean = 0;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      row_mean[i] += c[j] * l[at(i, j)];
      column_mean[j] += w[i] * l[at(i, j)];
      grand_mean += w[i] * c[j] * l[at(i, j)];
    }
  }
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      if (w[i] > 0 && c[j] > 0) {
        z[at(i, j)] =
            std::sqrt(w[i] * c[j]) * (l[at(i, j)] - row_mean[i] - column_mean[j] + grand_mean);
      }
    }
  }
  return z;
}

// Weighted mean and variance of scores x under weights w over [first, end).
struct Moments {
  double mean = 0;
  double variance = 0;
};
Moments MomentsOf(const std::vector<Analysis::Category>& categories, int first, int end, int d) {
  Moments m;
  double square = 0;
  for (int i = first; i < end; ++i) {
    const Analysis::Category& c = categories[i];
    m.mean += c.weight * c.scores[d];
    square += c.weight * c.scores[d] * c.scores[d];
  }
  m.variance = std::max(square - m.mean * m.mean, 0.0);
  return m;
}

// The first and one past the last category of variable v in the analysis' list.
std::pair<int, int> CategoryRange(const Analysis& a, int v) {
  int first = -1;
  int end = -1;
  for (int i = 0; i < static_cast<int>(a.categories.size()); ++i) {
    if (a.categories[i].variable != v) continue;
    if (first < 0) first = i;
    end = i + 1;
  }
  return {std::max(first, 0), std::max(end, 0)};
}

// V of every variable on dimension d: the variance of its category scores.
std::vector<double> Contributions(const Analysis& a, int variables, int d) {
  std::vector<double> v(variables, 0.0);
  for (int k = 0; k < variables; ++k) {
    const auto [first, end] = CategoryRange(a, k);
    v[k] = MomentsOf(a.categories, first, end, d).variance;
  }
  return v;
}

// The eigenvalues of the analysis, its dimensions and the scores.
void Decompose(Analysis& a, const Table& table, CorrespondenceKind t, const ModelState& model) {
  const std::vector<double> z = MatrixZ(table, t);
  const int rows = table.rows;
  const int columns = table.columns;
  std::vector<double> m;
  if (t == CorrespondenceKind::kMultiple) {
    m = z;
  } else {
    m.assign(static_cast<std::size_t>(rows) * rows, 0.0);
    for (int i = 0; i < rows; ++i) {
      for (int k = 0; k <= i; ++k) {
        double sum = 0;
        for (int j = 0; j < columns; ++j) {
          sum += z[static_cast<std::size_t>(i) * columns + j] *
                 z[static_cast<std::size_t>(k) * columns + j];
        }
        m[static_cast<std::size_t>(i) * rows + k] = m[static_cast<std::size_t>(k) * rows + i] = sum;
      }
    }
  }
  const int most =
      t == CorrespondenceKind::kMultiple ? rows - model.VariableCount : std::min(rows, columns) - 1;
  const Eigensystem system = DecomposeSymmetric(m, rows);
  const std::vector<std::vector<double>>& vectors = system.vectors;
  for (int e = 0; e < most && system.values[e] > kSmallestEigenvalue; ++e) {
    a.eigenvalues.push_back(system.values[e]);
  }
  const int d = static_cast<int>(a.eigenvalues.size());
  if (d <= 0) {
    a.left_out = "no eigenvalue above 1E-10";
    return;
  }
  a.shown = std::clamp(model.CorrespondenceDim1, 0, d);
  a.objects = t == CorrespondenceKind::kMultiple ? std::clamp(model.CorrespondenceDim2, 0, d) : 0;
  const int scored = std::max(a.shown, a.objects);
  for (int e = 0; e < scored; ++e) {
    const std::vector<double>& v = vectors[e];
    for (int i = 0; i < rows; ++i) {
      const double w = table.row_weight[i];
      a.categories[i].scores.push_back(w > 0 ? v[i] / std::sqrt(w) : 0.0);
    }
    if (t != CorrespondenceKind::kMultiple) {
      // The column vector that goes with v: Z'v / sqrt(lambda), made unit length.
      std::vector<double> u(columns, 0.0);
      double length = 0;
      for (int j = 0; j < columns; ++j) {
        for (int i = 0; i < rows; ++i) u[j] += z[static_cast<std::size_t>(i) * columns + j] * v[i];
        length += u[j] * u[j];
      }
      length = std::sqrt(length);
      for (int j = 0; j < columns; ++j) {
        const double w = table.column_weight[j];
        const double y = length > 0 && w > 0 ? u[j] / length / std::sqrt(w) : 0.0;
        a.categories[rows + j].scores.push_back(y);
      }
    }
  }
}

}  // namespace

CorrespondenceAnalysis AnalyseCorrespondence(const RunState& run, CorrespondenceKind t) {
  const ModelState& model = run.model;
  Analysis a;
  a.type = t;
  a.left_out = Unanalysable(model, t);
  if (!a.left_out.empty()) return a;
  a.variables = t == CorrespondenceKind::kMultiple ? model.VariableCount : 2;
  double total = 0;
  Table table = CollectTable(run, t, total);
  a.total = total;
  if (!std::isfinite(total)) {
    a.left_out = "estimated frequencies that are not finite";
    return a;
  }
  if (!(total > 0)) {
    a.left_out = "no observations";
    return a;
  }
  SetWeights(table, t, total);
  if (IsAssociationAnalysis(t)) {
    for (double p : table.p) {
      if (!(p > 0)) {
        a.left_out = "a zero estimated frequency has no logarithm";
        return a;
      }
    }
  }
  for (int i = 0; i < table.rows; ++i) {
    Analysis::Category c;
    if (t == CorrespondenceKind::kMultiple) {
      c.variable =
          static_cast<int>(std::upper_bound(table.first_row.begin(), table.first_row.end(), i) -
                           table.first_row.begin()) -
          1;
      c.category = i - table.first_row[c.variable];
    } else {
      c.category = i;
    }
    c.weight = table.row_weight[i];
    a.categories.push_back(c);
  }
  if (t != CorrespondenceKind::kMultiple) {
    for (int j = 0; j < table.columns; ++j) {
      Analysis::Category c;
      c.variable = 1;
      c.category = j;
      c.column = true;
      c.weight = table.column_weight[j];
      a.categories.push_back(c);
    }
  }
  Decompose(a, table, t, model);
  if (!a.left_out.empty()) {
    a.categories.clear();
    return a;
  }
  if (t == CorrespondenceKind::kMultiple) {
    a.burt = std::move(table.p);
    a.rows = table.rows;
    for (int d = 0; d < std::max(a.shown, a.objects); ++d) {
      a.contributions.push_back(Contributions(a, a.variables, d));
    }
  }
  return a;
}

namespace {

void WriteGeneral(TextFile& out, const Analysis& a) {
  out.WriteLine(" * General *");
  const CorrespondenceKind t = a.type;
  if (t == CorrespondenceKind::kSimple) {
    out.WriteLine("   dim      rho      inertia     prop.    cum.prop.  X-squared");
  } else if (t == CorrespondenceKind::kMultiple) {
    out.WriteLine("   dim    eigen    eigen/nvar    prop.    cum.prop ");
  } else {
    out.WriteLine("   dim      phi");
  }
  double total = 0;
  for (double lambda : a.eigenvalues) total += lambda;
  double cumulative = 0;
  for (std::size_t d = 0; d < a.eigenvalues.size(); ++d) {
    const double lambda = a.eigenvalues[d];
    // What the dimensions before this one leave.
    const double left = total - cumulative;
    cumulative += lambda;
    std::string line = FormatReal(5, 0, static_cast<double>(d + 1));
    if (t == CorrespondenceKind::kSimple) {
      line += FormatReal(11, 4, std::sqrt(lambda)) + FormatReal(11, 4, lambda) +
              FormatReal(11, 3, lambda / total) + FormatReal(11, 3, cumulative / total) +
              FormatReal(11, 2, a.total * left);
    } else if (t == CorrespondenceKind::kMultiple) {
      line += FormatReal(11, 4, lambda) + FormatReal(11, 4, lambda / a.variables) +
              FormatReal(11, 3, lambda / total) + FormatReal(11, 3, cumulative / total);
    } else {
      line += FormatReal(11, 4, std::sqrt(lambda));
    }
    out.WriteLine(line);
  }
}

// The correlation of the scores of variables u and v on dimension d under their two-way
// margin; 0 when the scores of either do not vary.
double Correlation(const Analysis& a, int u, int v, int d) {
  const auto [u_first, u_end] = CategoryRange(a, u);
  const auto [v_first, v_end] = CategoryRange(a, v);
  const Moments mu = MomentsOf(a.categories, u_first, u_end, d);
  const Moments mv = MomentsOf(a.categories, v_first, v_end, d);
  const double scale = std::sqrt(mu.variance * mv.variance);
  if (!(scale > 1e-12)) return 0.0;
  double sum = 0;
  for (int i = u_first; i < u_end; ++i) {
    for (int j = v_first; j < v_end; ++j) {
      sum += a.burt[static_cast<std::size_t>(i) * a.rows + j] * a.categories[i].scores[d] *
             a.categories[j].scores[d];
    }
  }
  return std::clamp((sum - mu.mean * mv.mean) / scale, -1.0, 1.0);
}

void WriteVariables(TextFile& out, const ModelState& model, const Analysis& a) {
  out.WriteLine("");
  out.WriteLine(" * Variables *");
  const int k = a.variables;
  for (int d = 0; d < a.shown; ++d) {
    const double lambda = a.eigenvalues[d];
    out.WriteLine("  Dimension " + FormatReal(0, 0, d + 1));
    out.WriteLine("   discrimination/contribution");
    const std::vector<double>& v = a.contributions[d];
    for (int u = 0; u < k; ++u) {
      out.WriteLine(PadLeft(model.VariableLabel[u], 5) + FormatReal(11, 3, v[u] * lambda) +
                    FormatReal(11, 3, v[u]));
    }
    out.WriteLine("    tot." + FormatReal(8, 3, lambda) + FormatReal(11, 3, 1.0));
    out.WriteLine("   correlations");
    std::string heading = "   ";
    for (int u = 0; u < k; ++u) heading += PadLeft(model.VariableLabel[u], 7);
    out.WriteLine(heading);
    for (int u = 0; u < k; ++u) {
      std::string line = PadLeft(model.VariableLabel[u], 5);
      for (int w = 0; w < u; ++w) line += FormatReal(7, 3, Correlation(a, u, w, d));
      out.WriteLine(line + "  1.000");
    }
  }
}

void WriteCategories(TextFile& out, const ModelState& model, const Analysis& a) {
  out.WriteLine("");
  out.WriteLine(" * Categories *");
  const CorrespondenceKind t = a.type;
  for (int d = 0; d < a.shown; ++d) {
    const double lambda = a.eigenvalues[d];
    const double s = t == CorrespondenceKind::kMultiple ? lambda : std::sqrt(lambda);
    out.WriteLine("  Dimension " + FormatReal(0, 0, d + 1));
    if (t == CorrespondenceKind::kSimple) {
      out.WriteLine("             weight       x     x*sqrt(rho)   x*rho   contribution");
    } else if (t == CorrespondenceKind::kMultiple) {
      out.WriteLine(std::string("             weight       x    x*sqrt(eigen)") + " contribution");
    } else {
      out.WriteLine("             weight       mu    mu*sqrt(phi)  mu*phi");
    }
    // The denominator of the contributions: per variable (type 1) or over all (type 2).
    double all = 0;
    for (const Analysis::Category& c : a.categories) all += c.scores[d] * c.scores[d] * c.weight;
    for (std::size_t i = 0; i < a.categories.size(); ++i) {
      const Analysis::Category& c = a.categories[i];
      const double x = c.scores[d];
      std::string line = PadLeft(model.VariableLabel[c.variable], 4) +
                         FormatReal(3, 0, c.category + 1) + FormatReal(11, 3, c.weight) +
                         FormatReal(11, 3, x) + FormatReal(11, 3, x * std::sqrt(s));
      if (t != CorrespondenceKind::kMultiple) line += FormatReal(11, 3, x * s);
      if (!IsAssociationAnalysis(t)) {
        double v = all;
        if (t == CorrespondenceKind::kSimple) {
          const auto [first, end] = CategoryRange(a, c.variable);
          v = MomentsOf(a.categories, first, end, d).variance;
        }
        line += FormatReal(11, 3, v > 0 ? x * x * c.weight / v : 0.0);
      }
      out.WriteLine(line);
    }
  }
}

void WriteObjects(RunState& run, const Analysis& a) {
  const ModelState& model = run.model;
  TextFile& out = run.context.ReportFile;
  out.WriteLine("");
  out.WriteLine(" * Objects *");
  std::string heading = " ";
  for (int v = 0; v < model.VariableCount; ++v) heading += PadLeft(model.VariableLabel[v], 3);
  heading += PadLeft("freq", 8);
  for (int d = 0; d < a.objects; ++d) heading += PadLeft("dim", 6) + FormatReal(2, 0, d + 1);
  out.WriteLine(heading);
  if (CompleteTableCells(model) > kLargestListedTable) {
    out.WriteLine("  The objects are not listed: the complete table has more than " +
                  FormatReal(0, 0, static_cast<double>(kLargestListedTable - 1)) + " cells.");
    return;
  }
  std::vector<int> first_row;
  int rows = 0;
  for (int v = 0; v < model.VariableCount; ++v) {
    first_row.push_back(rows);
    rows += std::max(model.Dimension[v], 1);
  }
  VisitCompleteTable(run, [&](const std::vector<int>& category, double frequency) {
    if (!(frequency > 0)) return;
    std::string line = " ";
    for (int v = 0; v < model.VariableCount; ++v) line += FormatReal(3, 0, category[v] + 1);
    line += FormatReal(8, 1, frequency);
    for (int d = 0; d < a.objects; ++d) {
      double score = 0;
      for (int v = 0; v < model.VariableCount; ++v) {
        score += a.categories[first_row[v] + category[v]].scores[d];
      }
      line += FormatReal(8, 3, score / std::sqrt(a.eigenvalues[d]));
    }
    out.WriteLine(line);
  });
}

}  // namespace

void WriteCorrespondenceReport(RunState& run, CorrespondenceKind t) {
  const ModelState& model = run.model;
  WriteLogLine(run.context, std::string("  ") + TextsOf(t).name);
  const Analysis a = AnalyseCorrespondence(run, t);
  StartResultsDocument(run);
  run.context.FilePrefix.clear();
  OpenTextFile(run.context, run.context.ReportFile, run.context.OutputFileName, "w",
               TextFile::Destination::kReplaceWhenComplete);
  WriteBanner(run.context.ReportFile);
  if (run.settings.show_echo) WriteInputEcho(run);
  run.context.FilePrefix = run.context.InputPrefix();
  TextFile& out = run.context.ReportFile;
  out.WriteLine("");
  out.WriteLine("");
  out.WriteLine(TextsOf(t).title);
  out.WriteLine("");
  if (!a.left_out.empty()) {
    out.WriteLine("WARNING: analysis left out: " + a.left_out);
    WriteLogLine(run.context, "  Warning: analysis left out: " + a.left_out);
  } else {
    WriteGeneral(out, a);
    if (t == CorrespondenceKind::kMultiple) WriteVariables(out, model, a);
    WriteCategories(out, model, a);
    if (t == CorrespondenceKind::kMultiple && a.objects > 0) WriteObjects(run, a);
  }
  RecordCorrespondence(run, a);
  if (run.settings.show_diagnostics) WriteRandomStarts(run);
  WriteResultFiles(run);
  FinishResultsDocument(run);
  run.context.FilePrefix.clear();
  CloseTextFile(run.context.ReportFile);
}

}  // namespace tav
