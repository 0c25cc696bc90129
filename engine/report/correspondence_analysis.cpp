#include "report/correspondence_analysis.h"

#include <algorithm>
#include <cmath>

#include "core/elementary.h"
#include "core/symmetric_eigensystem.h"
#include "report/report_computations.h"

namespace tav {
namespace {

constexpr int kMostCategories = 90;
constexpr double kSmallestEigenvalue = 1e-10;
// The largest complete table analysed: the largest table of doubles the estimation has.
constexpr long double kLargestAnalysedTable = 12500000;

using Analysis = CorrespondenceAnalysis;

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

// The categories of the rows, then (types 1, 3 and 4) of the columns, with their weights.
void ListCategories(Analysis& a, const Table& table, CorrespondenceKind t) {
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
  if (t == CorrespondenceKind::kMultiple) return;
  for (int j = 0; j < table.columns; ++j) {
    Analysis::Category c;
    c.variable = 1;
    c.category = j;
    c.column = true;
    c.weight = table.column_weight[j];
    a.categories.push_back(c);
  }
}

// The figures of the general table.
void AddDimensions(Analysis& a) {
  double total = 0;
  for (double lambda : a.eigenvalues) total += lambda;
  double cumulative = 0;
  for (double lambda : a.eigenvalues) {
    cumulative += lambda;
    Analysis::Dimension d;
    d.eigenvalue = lambda;
    d.root = std::sqrt(lambda);
    d.per_variable = lambda / a.variables;
    d.proportion = lambda / total;
    d.cumulative_proportion = cumulative / total;
    d.x_squared = a.total * (total - cumulative + lambda);
    a.dimensions.push_back(d);
  }
}

// The correlation of the scores of variables u and v on dimension d under their two-way
// margin (burt, the Burt matrix divided by N); 0 when the scores of either do not vary.
double Correlation(const Analysis& a, const std::vector<double>& burt, int u, int v, int d) {
  const auto [u_first, u_end] = CategoryRange(a, u);
  const auto [v_first, v_end] = CategoryRange(a, v);
  const Moments mu = MomentsOf(a.categories, u_first, u_end, d);
  const Moments mv = MomentsOf(a.categories, v_first, v_end, d);
  const double scale = std::sqrt(mu.variance * mv.variance);
  if (!(scale > 1e-12)) return 0.0;
  const std::size_t rows = a.categories.size();
  double sum = 0;
  for (int i = u_first; i < u_end; ++i) {
    for (int j = v_first; j < v_end; ++j) {
      sum += burt[static_cast<std::size_t>(i) * rows + j] * a.categories[i].scores[d] *
             a.categories[j].scores[d];
    }
  }
  return std::clamp((sum - mu.mean * mv.mean) / scale, -1.0, 1.0);
}

// Type 2: the contributions of the variables on every scored dimension and their correlations
// on every shown one.
void AddVariables(Analysis& a, const std::vector<double>& burt) {
  for (int d = 0; d < std::max(a.shown, a.objects); ++d) {
    a.contributions.push_back(Contributions(a, a.variables, d));
    std::vector<double> discrimination;
    for (double v : a.contributions.back()) discrimination.push_back(v * a.eigenvalues[d]);
    a.discriminations.push_back(std::move(discrimination));
  }
  for (int d = 0; d < a.shown; ++d) {
    std::vector<std::vector<double>> correlations(a.variables);
    for (int u = 0; u < a.variables; ++u) {
      for (int w = 0; w < u; ++w) correlations[u].push_back(Correlation(a, burt, u, w, d));
    }
    a.correlations.push_back(std::move(correlations));
  }
}

// The scaled scores and contributions of the categories on every shown dimension.
void AddCategoryFigures(Analysis& a) {
  const CorrespondenceKind t = a.type;
  for (int d = 0; d < a.shown; ++d) {
    const double lambda = a.eigenvalues[d];
    const double s = t == CorrespondenceKind::kMultiple ? lambda : std::sqrt(lambda);
    // The denominator of the contributions: per variable (type 1) or over all (type 2).
    double all = 0;
    for (const Analysis::Category& c : a.categories) all += c.scores[d] * c.scores[d] * c.weight;
    std::vector<Analysis::CategoryFigures> figures;
    for (const Analysis::Category& c : a.categories) {
      Analysis::CategoryFigures f;
      f.x = c.scores[d];
      f.x_root_s = f.x * std::sqrt(s);
      f.x_s = f.x * s;
      if (!IsAssociationAnalysis(t)) {
        double v = all;
        if (t == CorrespondenceKind::kSimple) {
          const auto [first, end] = CategoryRange(a, c.variable);
          v = MomentsOf(a.categories, first, end, d).variance;
        }
        f.contribution = v > 0 ? f.x * f.x * c.weight / v : 0.0;
      }
      figures.push_back(f);
    }
    a.category_figures.push_back(std::move(figures));
  }
}

// Type 2: the scores of the cells of positive estimated frequency.
void AddObjects(Analysis& a, const RunState& run) {
  const ModelState& model = run.model;
  a.objects_listed = CompleteTableCells(model) <= kLargestListedTable;
  if (!a.objects_listed) return;
  std::vector<int> first_row;
  int rows = 0;
  for (int v = 0; v < model.VariableCount; ++v) {
    first_row.push_back(rows);
    rows += std::max(model.Dimension[v], 1);
  }
  VisitCompleteTable(run, [&](const std::vector<int>& category, double frequency) {
    if (!(frequency > 0)) return;
    Analysis::Object object;
    object.categories.assign(category.begin(), category.begin() + model.VariableCount);
    object.frequency = frequency;
    for (int d = 0; d < a.objects; ++d) {
      double score = 0;
      for (int v = 0; v < model.VariableCount; ++v) {
        score += a.categories[first_row[v] + category[v]].scores[d];
      }
      object.scores.push_back(score / std::sqrt(a.eigenvalues[d]));
    }
    a.object_list.push_back(std::move(object));
  });
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
  ListCategories(a, table, t);
  Decompose(a, table, t, model);
  if (!a.left_out.empty()) {
    a.categories.clear();
    return a;
  }
  AddDimensions(a);
  if (t == CorrespondenceKind::kMultiple) AddVariables(a, table.p);
  AddCategoryFigures(a);
  if (t == CorrespondenceKind::kMultiple && a.objects > 0) AddObjects(a, run);
  return a;
}

}  // namespace tav
