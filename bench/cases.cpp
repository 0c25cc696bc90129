#include "cases.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <set>
#include <sstream>

#include "generator.h"

namespace tav::bench {
namespace {

// Cumulative probabilities of a random distribution over n categories; power > 1 makes the
// categories less alike.
std::vector<double> RandomCumulative(Generator& random, int n, double power) {
  std::vector<double> p(n);
  double sum = 0;
  for (double& x : p) {
    x = std::pow(-std::log(random.Uniform()), power) + 0.01;
    sum += x;
  }
  double running = 0;
  for (double& x : p) {
    running += x / sum;
    x = running;
  }
  p.back() = 1.0;
  return p;
}

int Draw(const std::vector<double>& cumulative, double u) {
  const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), u);
  return std::min(static_cast<int>(it - cumulative.begin()),
                  static_cast<int>(cumulative.size()) - 1);
}

// A latent class model over the manifest variables dims: class weights and, per class and
// variable, the category distribution.
struct LatentModel {
  std::vector<double> classes;                         // cumulative
  std::vector<std::vector<std::vector<double>>> item;  // [class][variable] cumulative

  LatentModel(Generator& random, int class_count, const std::vector<int>& dims, double power) {
    classes = RandomCumulative(random, class_count, 0.5);
    item.resize(class_count);
    for (auto& variables : item) {
      for (int d : dims) variables.push_back(RandomCumulative(random, d, power));
    }
  }

  // One respondent's categories (from 0).
  void Respond(Generator& random, std::vector<int>& answer) const {
    const int x = Draw(classes, random.Uniform());
    for (std::size_t v = 0; v < answer.size(); ++v) answer[v] = Draw(item[x][v], random.Uniform());
  }
};

std::int64_t CellOf(const std::vector<int>& dims, const std::vector<int>& answer) {
  std::int64_t cell = 0;
  for (std::size_t v = 0; v < dims.size(); ++v) cell = cell * dims[v] + answer[v];
  return cell;
}

std::int64_t CellCount(const std::vector<int>& dims) {
  std::int64_t cells = 1;
  for (int d : dims) cells *= d;
  return cells;
}

std::string Label(int v) { return std::string(1, static_cast<char>('A' + v)); }

std::string JoinDims(const std::vector<int>& dims) {
  std::string text;
  for (int d : dims) {
    text += ' ';
    text += std::to_string(d);
  }
  return text;
}

// Writes the counts of a table, 16 to a line.
void WriteTable(std::ostringstream& out, const std::vector<double>& table) {
  out << "dat [";
  for (std::size_t c = 0; c < table.size(); ++c) {
    out << (c % 16 == 0 ? "\n " : " ") << table[c];
  }
  out << " ]\n";
}

// A hierarchical model of all two-way interactions over variables of the given sizes; the
// counts are a sample of 8 observations per cell from a latent class model of four classes,
// so that every pair of variables is associated and the iterations keep improving the fit.
BenchCase AllTwoWay(const std::string& name, const std::vector<int>& dims, std::uint64_t seed) {
  BenchCase c;
  c.name = name;
  c.family = "loglinear";
  c.dims = dims;
  c.iterations = 20;
  const int k = static_cast<int>(dims.size());
  for (int a = 0; a < k; ++a) {
    for (int b = a + 1; b < k; ++b) c.margins.push_back({a, b});
  }
  Generator random(seed);
  const LatentModel model(random, 4, dims, 3.0);
  const std::int64_t cells = CellCount(dims);
  c.table.assign(cells, 0.0);
  c.observations = 8 * cells;
  std::vector<int> answer(k);
  for (std::int64_t i = 0; i < c.observations; ++i) {
    model.Respond(random, answer);
    c.table[CellOf(dims, answer)] += 1;
  }
  c.patterns = std::count_if(c.table.begin(), c.table.end(), [](double x) { return x > 0; });

  std::ostringstream out;
  out << "* " << name << ": all two-way interactions of " << k << " variables," << JoinDims(dims)
      << " categories\n";
  out << "man " << k << "\ndim" << JoinDims(dims) << "\nlab";
  for (int v = 0; v < k; ++v) out << " " << Label(v);
  out << "\nmod {";
  for (std::size_t m = 0; m < c.margins.size(); ++m) {
    out << (m > 0 ? "," : "") << Label(c.margins[m][0]) << Label(c.margins[m][1]);
  }
  out << "}\nsee 1234\nite " << c.iterations << "\ncri 0\n";
  WriteTable(out, c.table);
  c.input = out.str();
  c.description = std::to_string(k) + " variables of" + JoinDims(dims) + " categories; " +
                  std::to_string(c.margins.size()) + " two-way terms";
  return c;
}

// The model section of a latent class model: latent X with the given classes, items A, B, ...
// independent given X.
std::string LatentModelSection(int classes, const std::vector<int>& dims) {
  std::ostringstream out;
  const int k = static_cast<int>(dims.size());
  out << "lat 1\nman " << k << "\ndim " << classes << JoinDims(dims) << "\nlab X";
  for (int v = 0; v < k; ++v) out << " " << Label(v);
  out << "\nmod X";
  for (int v = 0; v < k; ++v) out << " " << Label(v) << "|X";
  out << "\n";
  return out.str();
}

// A latent class model of 5 classes for 12 dichotomous items; the data are the full table
// of 4096 cells, a sample of 50000 from a 5-class model.
BenchCase LatentTable(std::uint64_t seed) {
  BenchCase c;
  c.name = "lc12x2_table";
  c.family = "latent";
  c.iterations = 50;
  c.dims.assign(12, 2);
  Generator random(seed);
  const LatentModel model(random, 5, c.dims, 0.7);
  c.table.assign(CellCount(c.dims), 0.0);
  c.observations = 50000;
  std::vector<int> answer(c.dims.size());
  for (std::int64_t i = 0; i < c.observations; ++i) {
    model.Respond(random, answer);
    c.table[CellOf(c.dims, answer)] += 1;
  }
  c.patterns = std::count_if(c.table.begin(), c.table.end(), [](double x) { return x > 0; });
  std::ostringstream out;
  out << "* 5 latent classes, 12 dichotomous items, the full table\n"
      << LatentModelSection(5, c.dims) << "see 1234\nite " << c.iterations << "\ncri 0\n";
  WriteTable(out, c.table);
  c.input = out.str();
  c.table.clear();
  c.description = "5 classes; 12 items of 2 categories; full table";
  return c;
}

// A latent class model of 5 classes for 12 items of 3 categories (531441 cells); the data
// are individual records, drawn from a 5-class model until exactly 10000 distinct response
// patterns have appeared, given one record per line.
BenchCase LatentRecords(std::uint64_t seed) {
  BenchCase c;
  c.name = "lc12x3_records";
  c.family = "latent";
  c.iterations = 50;
  c.dims.assign(12, 3);
  Generator random(seed);
  const LatentModel model(random, 5, c.dims, 0.7);
  std::set<std::int64_t> seen;
  std::vector<std::vector<int>> records;
  std::vector<int> answer(c.dims.size());
  while (seen.size() < 10000) {
    model.Respond(random, answer);
    seen.insert(CellOf(c.dims, answer));
    records.push_back(answer);
  }
  c.patterns = static_cast<std::int64_t>(seen.size());
  c.observations = static_cast<std::int64_t>(records.size());
  std::ostringstream out;
  out << "* 5 latent classes, 12 items of 3 categories, individual records\n"
      << LatentModelSection(5, c.dims) << "rec " << records.size() << "\nsee 1234\nite "
      << c.iterations << "\ncri 0\ndat [\n";
  for (const auto& record : records) {
    for (std::size_t v = 0; v < record.size(); ++v) out << (v > 0 ? " " : "") << record[v] + 1;
    out << "\n";
  }
  out << "]\n";
  c.input = out.str();
  c.description = "5 classes; 12 items of 3 categories; records";
  return c;
}

// A number as the input and the file for R both give it: enough digits that the two read the
// same value.
std::string Number(double x) {
  std::ostringstream out;
  out << std::setprecision(15) << x;
  return out.str();
}

std::int64_t Total(const std::vector<double>& table) {
  double total = 0;
  for (double x : table) total += x;
  return static_cast<std::int64_t>(total);
}

std::int64_t NonEmpty(const std::vector<double>& table) {
  return std::count_if(table.begin(), table.end(), [](double x) { return x > 0; });
}

// The design and cumulative models are fitted by Newton-type steps, which reach the maximum to
// rounding in 6 to 8 iterations; a run with "cri 0" then stops at the first iteration that
// gains nothing. Both cases still gain clearly at iteration 5 (by 1E-6 and by 5 in the
// log-likelihood), so that is the number of iterations timed.
constexpr int kNewtonIterations = 5;

// Poisson counts of a size x size table with means proportional to
// exp(a_i + b_j + extra(i, j)), the row and column effects a and b uniform in -0.5 to 0.5, and
// an expected total of total: the case's table, patterns and observations.
template <typename Extra>
void DrawSquareTable(BenchCase& c, Generator& random, int size, double total, Extra extra) {
  std::vector<double> row(size);
  std::vector<double> column(size);
  for (double& a : row) a = random.Uniform() - 0.5;
  for (double& b : column) b = random.Uniform() - 0.5;
  std::vector<double> mean(static_cast<std::size_t>(size) * size);
  double sum = 0;
  for (int i = 0; i < size; ++i) {
    for (int j = 0; j < size; ++j) {
      mean[i * size + j] = std::exp(row[i] + column[j] + extra(i, j));
      sum += mean[i * size + j];
    }
  }
  c.table.resize(mean.size());
  for (std::size_t cell = 0; cell < mean.size(); ++cell) {
    c.table[cell] = random.Poisson(total * mean[cell] / sum);
  }
  c.patterns = NonEmpty(c.table);
  c.observations = Total(c.table);
}

// Linear-by-linear association in a 100 x 100 table: row and column effects and one
// parameter for the design variable x(i, j) = (i - 50.5)(j - 50.5) / 1000. The counts are
// Poisson with means from random row and column effects (uniform in -0.5 to 0.5), beta = 0.3
// and an expected total of 200000.
BenchCase DesignTable(std::uint64_t seed) {
  constexpr int kSize = 100;
  constexpr double kBeta = 0.3;
  BenchCase c;
  c.name = "design10k";
  c.family = "design";
  c.iterations = kNewtonIterations;
  c.dims = {kSize, kSize};
  Generator random(seed);
  std::vector<double> x(kSize * kSize);
  for (int i = 0; i < kSize; ++i) {
    for (int j = 0; j < kSize; ++j) x[i * kSize + j] = (i + 1 - 50.5) * (j + 1 - 50.5) / 1000;
  }
  DrawSquareTable(c, random, kSize, 200000, [&](int i, int j) { return kBeta * x[i * kSize + j]; });

  std::ostringstream out;
  out << "* design10k: linear-by-linear association in a 100 x 100 table\n"
      << "man 2\ndim 100 100\nlab A B\nmod {A,B,cov(AB 1)}\ndes [";
  for (std::size_t cell = 0; cell < x.size(); ++cell) {
    out << (cell % 10 == 0 ? "\n " : " ") << Number(x[cell]);
  }
  out << " ]\nsee 1234\nite " << c.iterations << "\ncri 0\n";
  WriteTable(out, c.table);
  c.input = out.str();

  std::ostringstream fit;
  fit << "design\nA B x count\n";
  for (int i = 0; i < kSize; ++i) {
    for (int j = 0; j < kSize; ++j) {
      const int cell = i * kSize + j;
      fit << i + 1 << ' ' << j + 1 << ' ' << Number(x[cell]) << ' ' << c.table[cell] << '\n';
    }
  }
  c.fit_data = fit.str();
  c.table.clear();
  c.description = "100 x 100 table; row and column effects and linear-by-linear association";
  return c;
}

// The RC(1) association model in a 100 x 100 table: row and column effects and
// phi mu_i nu_j with phi = 3 and scores mu, nu drawn uniformly, centred and scaled to unit sums
// of squares. Poisson counts with an expected total of 200000.
BenchCase AssociationTable(std::uint64_t seed) {
  constexpr int kSize = 100;
  constexpr double kPhi = 3;
  BenchCase c;
  c.name = "rc10k";
  c.family = "association";
  c.iterations = 5;
  c.dims = {kSize, kSize};
  Generator random(seed);
  auto scores = [&random] {
    std::vector<double> x(kSize);
    double mean = 0;
    for (double& value : x) mean += (value = random.Uniform()) / kSize;
    double squares = 0;
    for (double& value : x) {
      value -= mean;
      squares += value * value;
    }
    for (double& value : x) value /= std::sqrt(squares);
    return x;
  };
  const std::vector<double> mu = scores();
  const std::vector<double> nu = scores();
  DrawSquareTable(c, random, kSize, 200000, [&](int i, int j) { return kPhi * mu[i] * nu[j]; });
  std::ostringstream out;
  out << "* rc10k: RC(1) association in a 100 x 100 table\n"
      << "man 2\ndim 100 100\nlab A B\nmod {A,B,ass2(A B 5a)}\nsee 1234\nite " << c.iterations
      << "\ncri 0\n";
  WriteTable(out, c.table);
  c.input = out.str();
  std::ostringstream fit;
  fit << "association\nA B count\n";
  for (int i = 0; i < kSize; ++i) {
    for (int j = 0; j < kSize; ++j)
      fit << i + 1 << ' ' << j + 1 << ' ' << c.table[i * kSize + j] << '\n';
  }
  c.fit_data = fit.str();
  c.table.clear();
  c.description = "100 x 100 table; RC(1) association";
  return c;
}

// A cumulative logit model for an ordered response R of 10 categories given predictors A, B
// and C of 10 categories each, with linear effects of their scores (k - 5.5) / 4.5:
// P(R <= r | a, b, c) = logistic(theta_r + 0.5 s_a - 0.8 s_b + 0.3 s_c), the thresholds
// evenly spread from -3 to 3. 20000 records, the predictors uniform at random (about 20 per
// predictor cell), aggregated into the 10000-cell table.
BenchCase CumulativeTable(std::uint64_t seed) {
  constexpr int kSize = 10;
  constexpr int kRecords = 20000;
  const double effects[3] = {0.5, -0.8, 0.3};
  BenchCase c;
  c.name = "cum10k";
  c.family = "cumulative";
  c.iterations = kNewtonIterations;
  c.dims = {kSize, kSize, kSize, kSize};
  std::vector<double> score(kSize);
  for (int k = 0; k < kSize; ++k) score[k] = (k + 1 - 5.5) / 4.5;
  std::vector<double> threshold(kSize - 1);
  for (int r = 0; r < kSize - 1; ++r) threshold[r] = -3 + 6.0 * r / (kSize - 2);
  Generator random(seed);
  c.table.assign(CellCount(c.dims), 0.0);
  c.observations = kRecords;
  std::vector<int> answer(4);
  for (int n = 0; n < kRecords; ++n) {
    double eta = 0;
    for (int v = 0; v < 3; ++v) {
      answer[v] = std::min(static_cast<int>(random.Uniform() * kSize), kSize - 1);
      eta += effects[v] * score[answer[v]];
    }
    const double u = random.Uniform();
    int r = 0;
    while (r < kSize - 1 && u > 1 / (1 + std::exp(-(threshold[r] + eta)))) ++r;
    answer[3] = r;
    c.table[CellOf(c.dims, answer)] += 1;
  }
  c.patterns = NonEmpty(c.table);

  std::ostringstream out;
  out << "* cum10k: cumulative logit model, 3 predictors and a response of 10 categories\n"
      << "man 4\ndim 10 10 10 10\nlab A B C R\nmod ABC R|ABC cum(a) {cov(A 1) cov(B 1) cov(C 1)}\n"
      << "des [";
  for (int v = 0; v < 3; ++v) {
    out << "\n";
    for (double s : score) out << ' ' << Number(s);
  }
  out << " ]\nsee 1234\nite " << c.iterations << "\ncri 0\n";
  WriteTable(out, c.table);
  c.input = out.str();

  std::ostringstream fit;
  fit << "cumulative\nA B C R sA sB sC count\n";
  std::int64_t cell = 0;
  for (int a = 0; a < kSize; ++a) {
    for (int b = 0; b < kSize; ++b) {
      for (int cc = 0; cc < kSize; ++cc) {
        for (int r = 0; r < kSize; ++r, ++cell) {
          fit << a + 1 << ' ' << b + 1 << ' ' << cc + 1 << ' ' << r + 1 << ' ' << Number(score[a])
              << ' ' << Number(score[b]) << ' ' << Number(score[cc]) << ' ' << c.table[cell]
              << '\n';
        }
      }
    }
  }
  c.fit_data = fit.str();
  c.table.clear();
  c.description = "predictors of 10 10 10 categories and a response of 10; cumulative logit";
  return c;
}

// Marginal homogeneity of a 20 x 20 table, written as a user would: 19 restrictions
// P(A = i) - P(B = i) = 0, each term bringing its values over its own margin. The counts are
// Poisson with means exp(a_i + b_j - 0.3 |i - j|), the row and column effects uniform in -0.5
// to 0.5 (so that the margins differ a little), and an expected total of 50000.
BenchCase MarginalTable(std::uint64_t seed) {
  constexpr int kSize = 20;
  BenchCase c;
  c.name = "mh20";
  c.family = "marginal";
  c.iterations = 10;
  c.dims = {kSize, kSize};
  Generator random(seed);
  DrawSquareTable(c, random, kSize, 50000, [](int i, int j) { return -0.3 * std::abs(i - j); });

  std::ostringstream out;
  out << "* mh20: marginal homogeneity of a 20 x 20 table\n"
      << "man 2\ndim 20 20\nlab A B\nmod AB {mar(A B a " << kSize - 1 << ")}\ndes [";
  for (int sign : {1, -1}) {
    for (int k = 0; k + 1 < kSize; ++k) {
      out << "\n";
      for (int i = 0; i < kSize; ++i) out << ' ' << (i == k ? sign : 0);
    }
  }
  out << " ]\nsee 1234\nite " << c.iterations << "\ncri 0\n";
  WriteTable(out, c.table);
  c.input = out.str();

  std::ostringstream fit;
  fit << "marginal\nA B count\n";
  for (int i = 0; i < kSize; ++i) {
    for (int j = 0; j < kSize; ++j)
      fit << i + 1 << ' ' << j + 1 << ' ' << c.table[i * kSize + j] << '\n';
  }
  c.fit_data = fit.str();
  c.table.clear();
  c.description = "20 x 20 table; marginal homogeneity (19 restrictions)";
  return c;
}

// An ordered latent class model: 3 classes of sizes 0.3, 0.4, 0.3 and 6 items of 4 categories
// whose answers are stochastically higher in every next class, as continuation ratios
// (or1(c) for every item). 10000 records drawn from such a model: in class x (0 to 2) item v
// answers category k with probability proportional to exp(k (x - 1) (0.6 + 0.1 v)).
BenchCase OrdinalLatentRecords(std::uint64_t seed) {
  constexpr int kItems = 6;
  constexpr int kCategories = 4;
  constexpr int kRecords = 10000;
  BenchCase c;
  c.name = "lcord10k";
  c.family = "ordinal";
  c.iterations = 50;
  c.dims.assign(kItems, kCategories);
  Generator random(seed);
  const std::vector<double> classes = {0.3, 0.7, 1.0};    // cumulative
  std::vector<std::vector<std::vector<double>>> item(3);  // [class][item] cumulative
  for (int x = 0; x < 3; ++x) {
    for (int v = 0; v < kItems; ++v) {
      std::vector<double> p(kCategories);
      double total = 0;
      for (int k = 0; k < kCategories; ++k) total += p[k] = std::exp(k * (x - 1) * (0.6 + 0.1 * v));
      double running = 0;
      for (double& value : p) value = running += value / total;
      item[x].push_back(p);
    }
  }
  std::ostringstream out;
  out << "* lcord10k: 3 ordered latent classes, 6 items of 4 categories, individual records\n"
      << "lat 1\nman " << kItems << "\ndim 3" << JoinDims(c.dims) << "\nlab X";
  for (int v = 0; v < kItems; ++v) out << ' ' << Label(v);
  out << "\nmod X";
  for (int v = 0; v < kItems; ++v) out << ' ' << Label(v) << "|X or1(c)";
  out << "\nrec " << kRecords << "\nsee 1234\nite " << c.iterations << "\ncri 0\ndat [\n";
  std::set<std::int64_t> seen;
  std::vector<int> answer(kItems);
  for (int n = 0; n < kRecords; ++n) {
    const int x = Draw(classes, random.Uniform());
    for (int v = 0; v < kItems; ++v) answer[v] = Draw(item[x][v], random.Uniform());
    seen.insert(CellOf(c.dims, answer));
    for (int v = 0; v < kItems; ++v) out << (v > 0 ? " " : "") << answer[v] + 1;
    out << "\n";
  }
  out << "]\n";
  c.patterns = static_cast<std::int64_t>(seen.size());
  c.observations = kRecords;
  c.input = out.str();
  c.description = "3 ordered classes; 6 items of 4 categories; or1(c); records";
  return c;
}

// Data drawn from a model with given parameters: 10,000,000 records from the independence
// model of five variables of 10 categories (100,000 cells), P(category k) proportional to k for
// every variable. Timed: the start iteration and the simulation, which writes the records.
BenchCase SimulationCase() {
  BenchCase c;
  c.name = "sim10m";
  c.family = "simulation";
  c.iterations = 0;
  c.dims.assign(5, 10);
  c.observations = 10000000;
  std::ostringstream out;
  out << "* sim10m: 10,000,000 records drawn from a model of 100,000 cells\n"
      << "man 5\ndim" << JoinDims(c.dims) << "\nlab A B C D E\nmod {A,B,C,D,E}\n";
  for (int v = 0; v < 5; ++v) {
    out << "sta " << Label(v) << " [";
    for (int k = 1; k <= 10; ++k) out << ' ' << k;
    out << " ]\n";
  }
  out << "sim " << c.observations << " sim10m.dat\nsee 1234\n";
  c.input = out.str();
  // For bench/sim.R: every cell's probability and record line.
  std::ostringstream fit;
  fit << "simulation\n" << c.observations << "\n";
  for (std::int64_t cell = 0; cell < 100000; ++cell) {
    double p = 1;
    std::string line;
    std::int64_t rest = cell;
    std::vector<int> category(5);
    for (int v = 4; v >= 0; --v) {
      category[v] = static_cast<int>(rest % 10) + 1;
      rest /= 10;
    }
    for (int k : category) {
      p *= k / 55.0;
      line += (k < 10 ? "  " : " ") + std::to_string(k);
    }
    fit << Number(p) << '\t' << line << '\n';
  }
  c.fit_data = fit.str();
  c.description = "10000000 records drawn from 100000 cells; sim";
  return c;
}

// The results document of the largest latent class case: lc12x3_records with a wjs request.
// Timed: the report with the document, after the fit (not timed); its peer is the same report
// without the document.
BenchCase ResultsDocumentCase() {
  BenchCase c = LatentRecords(202);
  c.name = "lc12x3_wjs";
  c.family = "results";
  c.input.insert(c.input.find("dat [\n"), "wjs lc12x3.json\n");
  c.description = "report and wjs of lc12x3_records after 50 iterations";
  return c;
}

// Multiple correspondence analysis of 10 variables of 3 categories (59,049 cells): 20,000
// records from a latent class model of 4 classes, the saturated model fitted to them and the
// analysis of its estimated table with the scores of every response pattern. Timed: the
// estimation and the report. For bench/mca.R the records again, one per line.
BenchCase CorrespondenceCase(std::uint64_t seed) {
  BenchCase c;
  c.name = "mca10";
  c.family = "correspondence";
  c.iterations = 0;
  c.dims.assign(10, 3);
  c.observations = 20000;
  Generator random(seed);
  const LatentModel model(random, 4, c.dims, 1.5);
  std::set<std::int64_t> seen;
  std::ostringstream records;
  std::vector<int> answer(c.dims.size());
  for (std::int64_t r = 0; r < c.observations; ++r) {
    model.Respond(random, answer);
    seen.insert(CellOf(c.dims, answer));
    for (std::size_t v = 0; v < answer.size(); ++v) records << (v > 0 ? " " : "") << answer[v] + 1;
    records << "\n";
  }
  c.patterns = static_cast<std::int64_t>(seen.size());
  std::ostringstream out;
  out << "* mca10: multiple correspondence analysis of 10 variables, 20,000 records\n"
      << "man 10\ndim" << JoinDims(c.dims) << "\nlab A B C D E F G H I J\nmod {ABCDEFGHIJ} cor\n"
      << "rec " << c.observations << "\nsee 1234\ndat [\n"
      << records.str() << "]\n";
  c.input = out.str();
  c.fit_data = "correspondence\n" + records.str();
  c.description = "MCA of 10 variables of 3 categories; 20000 records";
  return c;
}

// The hazard part's M-step goes on until its fitted events settle, so that a model without
// latent variables is at its maximum after iteration 1; iteration 2 gains only rounding.
constexpr int kHazardIterations = 2;

// A discrete-time logit model of one event, fitted to 100,000 person-records: covariates A (3
// categories) and B (2), ten periods, logit h = -2.2 + 0.12 t + a_A + b_B with a = (-0.4, 0,
// 0.4) and b = (-0.3, 0.3); one record in five is censored at a period drawn uniformly.
// Records: A, B, the last period observed and the state then.
BenchCase DiscreteHazardCase(std::uint64_t seed) {
  constexpr int kRecords = 100000;
  constexpr int kPeriods = 10;
  const double a[3] = {-0.4, 0.0, 0.4};
  const double b[2] = {-0.3, 0.3};
  BenchCase c;
  c.name = "dthaz100k";
  c.family = "hazard";
  c.iterations = kHazardIterations;
  c.dims = {3, 2};
  c.observations = kRecords;
  Generator random(seed);
  std::ostringstream records;
  std::set<std::int64_t> seen;
  for (int n = 0; n < kRecords; ++n) {
    const int x = std::min(static_cast<int>(random.Uniform() * 3), 2);
    const int y = std::min(static_cast<int>(random.Uniform() * 2), 1);
    const int limit =
        random.Uniform() < 0.2
            ? 1 + std::min(static_cast<int>(random.Uniform() * kPeriods), kPeriods - 1)
            : kPeriods;
    int t = 1;
    int state = 0;
    for (; t <= limit; ++t) {
      const double logit = -2.2 + 0.12 * t + a[x] + b[y];
      if (random.Uniform() < 1 / (1 + std::exp(-logit))) {
        state = 1;
        break;
      }
    }
    if (state == 0) t = limit;
    seen.insert((x * 2 + y) * kPeriods + t);
    records << x + 1 << ' ' << y + 1 << ' ' << t << ' ' << state << '\n';
  }
  c.patterns = static_cast<std::int64_t>(seen.size());
  std::ostringstream out;
  out << "* dthaz100k: discrete-time logit model, 100,000 person-records\n"
      << "man 2\ndim 3 2\nlab A B\nmod {AB}\ndis\ntim " << kPeriods
      << "\nhaz AB {A.R, B.R, T.R}\nrec " << kRecords << "\nsee 1234\nite " << c.iterations
      << "\ncri 0\nnse\ndat [\n"
      << records.str() << "]\n";
  c.input = out.str();
  c.fit_data = "discrete_hazard\nA B time state\n" + records.str();
  c.description = "discrete-time logit hazard; covariates of 3 and 2 categories; 10 periods";
  return c;
}

// Two competing risks in continuous time with piecewise-constant rates over ten intervals of
// length 1: 50,000 records with a covariate A (2 categories), rates 0.05 exp(0.3 (A = 2)) of
// risk 1 and 0.03 exp(0.05 t) of risk 2 (t the interval), censoring uniform over 2 to 10.
// Times exact to three decimals (exp 1). Records: A, the time, the state (0, 1 or 2).
BenchCase CompetingRisksCase(std::uint64_t seed) {
  constexpr int kRecords = 50000;
  constexpr int kIntervals = 10;
  BenchCase c;
  c.name = "cr10int";
  c.family = "hazard";
  c.iterations = kHazardIterations;
  c.dims = {2};
  c.observations = kRecords;
  Generator random(seed);
  std::ostringstream records;
  std::set<std::int64_t> seen;
  for (int n = 0; n < kRecords; ++n) {
    const int x = std::min(static_cast<int>(random.Uniform() * 2), 1);
    const double censor = 2 + 8 * random.Uniform();
    double time = 0;
    int state = 0;
    // Interval by interval: the first of the two exponential times that ends inside it.
    for (int j = 0; j < kIntervals && state == 0; ++j) {
      const double rate1 = 0.05 * std::exp(0.3 * x);
      const double rate2 = 0.03 * std::exp(0.05 * (j + 1));
      const double wait = -std::log(random.Uniform()) / (rate1 + rate2);
      if (j + wait < j + 1) {
        time = j + wait;
        state = random.Uniform() < rate1 / (rate1 + rate2) ? 1 : 2;
      }
    }
    if (state == 0 || time > censor) {
      time = std::min(censor, static_cast<double>(kIntervals));
      state = 0;
    }
    time = std::max(std::round(time * 1000) / 1000, 0.001);
    seen.insert(x * 3 + state);
    records << x + 1 << ' ' << Number(time) << ' ' << state << '\n';
  }
  c.patterns = static_cast<std::int64_t>(seen.size());
  std::ostringstream out;
  out << "* cr10int: two competing risks, ten intervals, 50,000 records\n"
      << "man 1\ndim 2\nlab A\nmod {A}\ntim " << kIntervals << "\nris 3 [0 1] [0 2]\n"
      << "haz A {A.R, T.R}\nexp 1\nrec " << kRecords << "\nsee 1234\nite " << c.iterations
      << "\ncri 0\nnse\ndat [\n"
      << records.str() << "]\n";
  c.input = out.str();
  c.fit_data = "competing_risks\nA time state\n" + records.str();
  c.description = "two competing risks; piecewise constant rates over 10 intervals";
  return c;
}

}  // namespace

std::vector<std::string> CaseNames() {
  return {"ll4k",      "ll16k",  "ll65k",     "ll65k_8var", "lc12x2_table", "lc12x3_records",
          "design10k", "cum10k", "mh20",      "lcord10k",   "sim10m",       "lc12x3_wjs",
          "mca10",     "rc10k",  "dthaz100k", "cr10int"};
}

bool FitsToConvergence(const BenchCase& c) {
  return c.family == "design" || c.family == "cumulative" || c.family == "marginal" ||
         c.family == "ordinal" || c.family == "association" || c.family == "hazard";
}

BenchCase MakeCase(const std::string& name) {
  if (name == "ll4k") return AllTwoWay(name, {8, 8, 8, 8}, 101);
  if (name == "ll16k") return AllTwoWay(name, {8, 8, 16, 16}, 102);
  if (name == "ll65k") return AllTwoWay(name, {16, 16, 16, 16}, 103);
  if (name == "ll65k_8var") return AllTwoWay(name, {4, 4, 4, 4, 4, 4, 4, 4}, 104);
  if (name == "lc12x2_table") return LatentTable(201);
  if (name == "design10k") return DesignTable(301);
  if (name == "cum10k") return CumulativeTable(302);
  if (name == "mh20") return MarginalTable(303);
  if (name == "lcord10k") return OrdinalLatentRecords(304);
  if (name == "sim10m") return SimulationCase();
  if (name == "lc12x3_wjs") return ResultsDocumentCase();
  if (name == "mca10") return CorrespondenceCase(401);
  if (name == "rc10k") return AssociationTable(305);
  if (name == "dthaz100k") return DiscreteHazardCase(507);
  if (name == "cr10int") return CompetingRisksCase(509);
  return LatentRecords(202);
}

std::string LoglinFile(const BenchCase& c) {
  std::ostringstream out;
  out << c.iterations << "\n";
  for (std::size_t v = 0; v < c.dims.size(); ++v) out << (v > 0 ? " " : "") << c.dims[v];
  out << "\n";
  for (const auto& margin : c.margins) {
    for (std::size_t v = 0; v < margin.size(); ++v) out << (v > 0 ? " " : "") << margin[v] + 1;
    out << "\n";
  }
  out << "table\n";
  for (double x : c.table) out << x << "\n";
  return out.str();
}

}  // namespace tav::bench
