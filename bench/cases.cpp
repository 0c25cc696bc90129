#include "cases.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

namespace tav::bench {
namespace {

// SplitMix64: small, fast and the same on every platform (the standard library's
// distributions are not).
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in (0, 1).
  double Uniform() { return (static_cast<double>(Next() >> 11) + 0.5) / 9007199254740992.0; }

 private:
  std::uint64_t state_;
};

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
  c.latent = true;
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
  c.latent = true;
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

}  // namespace

std::vector<std::string> CaseNames() {
  return {"ll4k", "ll16k", "ll65k", "ll65k_8var", "lc12x2_table", "lc12x3_records"};
}

BenchCase MakeCase(const std::string& name) {
  if (name == "ll4k") return AllTwoWay(name, {8, 8, 8, 8}, 101);
  if (name == "ll16k") return AllTwoWay(name, {8, 8, 16, 16}, 102);
  if (name == "ll65k") return AllTwoWay(name, {16, 16, 16, 16}, 103);
  if (name == "ll65k_8var") return AllTwoWay(name, {4, 4, 4, 4, 4, 4, 4, 4}, 104);
  if (name == "lc12x2_table") return LatentTable(201);
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
