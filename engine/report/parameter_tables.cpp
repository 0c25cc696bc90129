#include "report/parameter_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <tuple>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
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
#include "report/write_report.h"

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

// The line part of a parameter's standard error and z-value. The z-value is beta over the
// standard error (ln of exp(beta), taken before the exponential can overflow).
std::string WriteStdErrAndZ(const RunState& run, int position, double beta, bool positive,
                            std::vector<int>& shown, ParameterFigures* figures = nullptr) {
  const double v = Covariances(run)(position, position);
  // beta and v belong to the fitted (perhaps scaled) column; z does not depend on its scale.
  const double std_err = v > 0 ? std::sqrt(v) / FreeParameterScale(run, position) : NAN;
  if (figures != nullptr) {
    figures->std_err = std_err;
    figures->z = positive && v > 0 ? beta / std::sqrt(v) : NAN;
  }
  std::string text = v > 0 ? FormatReal(8, 4, std_err) + " " : "  ****** ";
  text += positive && v > 0 ? FormatReal(8, 3, beta / std::sqrt(v)) + " " : "   ***** ";
  shown.push_back(position);
  return text;
}

// The position in the covariance matrix of the parameter of effect cell `cell`, or -1 when
// it is not free.
int ParameterPosition(const RunState& run, const ReferenceCategories& reference, int t,
                      const LogLinearEffect& effect, std::int64_t cell) {
  return ParameterIndex(run, reference.data(), t, effect.variables, cell);
}

// The Wald columns of an effect whose shown parameters sit at `positions` with values b:
// W = b' V^-1 b over the block of the covariance matrix that belongs to them, its degrees of
// freedom and its chi-squared tail probability.
std::string WriteWaldTest(RunState& run, const std::vector<int>& positions,
                          const std::vector<double>& b, WaldFigures* figures = nullptr) {
  const Covariances v(run);
  const int k = static_cast<int>(positions.size());
  std::vector<double> block(static_cast<std::size_t>(k) * k);
  for (int i = 0; i < k; ++i) {
    for (int j = 0; j < k; ++j) block[i * k + j] = v(positions[i], positions[j]);
  }
  InvertInformation(run, block, k, InversionMode::kInternal);
  double w = 0.0;
  for (int i = 0; i < k; ++i) {
    for (int j = 0; j < k; ++j) w += b[i] * block[i * k + j] * b[j];
  }
  if (figures != nullptr) *figures = {w, k, ChiSquaredProbability(k, w)};
  return FormatReal(8, 2, w) + " " + FormatReal(3, 0, k) + " " +
         FormatReal(5, 3, ChiSquaredProbability(k, w));
}

// The report as the families' blocks write to it: lines of the report file, the covariance
// matrix of the standard errors, and the parameters shown with a standard error for the
// covariance file.
class ReportBlockWriter : public ParameterBlockWriter {
 public:
  ReportBlockWriter(RunState& run, std::vector<int>& shown, int t)
      : run_(run), shown_(shown), table_(TableName(run, t)) {}
  void WriteLine(const std::string& line) override { run_.context.ReportFile.WriteLine(line); }
  void BeginBlock(const std::string& heading) override { RecordBlock(run_, table_, heading); }
  bool ShowsStdErrors() const override { return tav::ShowsStdErrors(run_); }
  std::string StdErrAndZ(int i, double x) override {
    return WriteStdErrAndZ(run_, i, x > 0 ? Log(x) : 0.0, x > 0, shown_);
  }
  std::string WaldTest(const std::vector<int>& positions, const std::vector<double>& b) override {
    WaldFigures wald;
    const std::string text = WriteWaldTest(run_, positions, b, &wald);
    RecordBlockWald(run_, wald);
    return text;
  }
  void RecordParameter(const std::string& label, double x, int position, double scale) override {
    ParameterFigures figures;
    figures.beta = x > 0 ? (scale == 1 ? Log(x) : Log(x) / scale) : NAN;
    figures.exp_beta = scale == 1 || !(x > 0) ? x : Exp(figures.beta);
    if (!std::isfinite(figures.exp_beta)) figures.exp_beta = NAN;
    if (position >= 0 && tav::ShowsStdErrors(run_)) {
      const double v = Covariances(run_)(position, position);
      figures.std_err = v > 0 ? std::sqrt(v) / scale : NAN;
      figures.z = x > 0 && v > 0 ? Log(x) / std::sqrt(v) : NAN;
    }
    const std::size_t start = label.find_first_not_of(' ');
    const std::size_t end = label.find_last_not_of(' ');
    RecordBlockParameter(
        run_, start == std::string::npos ? std::string() : label.substr(start, end - start + 1),
        figures);
  }
  void RecordValue(const std::string& label, double value, double std_err) override {
    ParameterFigures figures;
    figures.beta = value;
    figures.std_err = std_err;
    figures.z = std_err > 0 ? value / std_err : NAN;
    figures.exp_beta = NAN;
    RecordBlockParameter(run_, label, figures);
  }
  bool ShowsExpBeta(int t) const override { return tav::ShowsExpBeta(run_, t); }
  std::string ColumnHeader(int t) const override { return WriteColumnHeader(run_, t); }
  double Covariance(int i, int j) override {
    if (!tav::ShowsStdErrors(run_)) return NAN;
    return Covariances(run_)(i, j);
  }

 private:
  // The table whose blocks these are: its term, or "all" after all submodels.
  static std::string TableName(const RunState& run, int t) {
    if (t < 0 || t >= static_cast<int>(run.model.submodels.size())) return "all";
    return TermText(run.model, run.model.submodels[t].SubmodelVariables);
  }

  RunState& run_;
  std::vector<int>& shown_;
  std::string table_;
};

// The blocks of the families at place: after submodel t's table (thresholds of cumulative
// models, design effects), after the empty line that ends it (association terms), or after all
// submodels (t = -1: the `all` tables, the hazard parameters).
void WriteFamilyBlocks(RunState& run, BlockPlace place, int t, std::vector<int>& shown) {
  ReportBlockWriter writer(run, shown, t);
  for (const ModelFamily* family : FamiliesOf(run)) {
    family->WriteParameterBlocks(run, place, t, writer);
  }
}

// The betas of an effect of a discrete-time hazard submodel that holds the risk variable (its
// last variable, running fastest) less, in every block of risks, the beta of the stay of each
// risk's origin state, so that a stay shows 0.
void ContrastWithStaying(const RunState& run, LogLinearEffect& effect) {
  const HazardWork& hazard = run.estimation.hazard;
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

// The shape lines of the hazard part: per risk "alpha" and its shape, with estimated shapes and
// standard errors the standard error of the shape (the shape times that of its log).
void WriteShapeLines(RunState& run, std::vector<int>& shown) {
  const HazardWork& hazard = run.estimation.hazard;
  const bool estimated = hazard.kind == TimeModel::kEstimatedShapes && ShowsStdErrors(run);
  const FreeParameterList& list = run.estimation.free_parameters;
  ReportBlockWriter writer(run, shown, hazard.table);
  writer.BeginBlock("shape parameters");
  for (int k = 1; k <= hazard.risks; ++k) {
    const double alpha = HazardShape(run, k);
    std::string line = Blanks(2) + "alpha" + FormatReal(16, 4, alpha);
    double std_err = NAN;
    if (estimated) {
      int position = -1;
      for (std::size_t i = 0; i < list.parameters.size(); ++i) {
        if (list.parameters[i].shape && list.parameters[i].position == k - 1) {
          position = static_cast<int>(i);
        }
      }
      const double v = Covariances(run)(position, position);
      if (position >= 0) shown.push_back(position);
      std_err = v > 0 ? alpha * std::sqrt(v) : NAN;
      line += v > 0 ? FormatReal(9, 4, std_err) : "   ******";
    }
    writer.RecordValue("alpha " + std::to_string(k), alpha, std_err);
    run.context.ReportFile.WriteLine(line);
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

std::string WriteColumnHeader(const RunState& run, int t) {
  const bool std_errors = ShowsStdErrors(run);
  std::string line = Blanks(2) + "effect" + Blanks(6) + PadLeft("beta", 9);
  if (std_errors) line += PadLeft("std err", 9) + PadLeft("z-value", 9);
  if (ShowsExpBeta(run, t)) line += PadLeft("exp(beta)", 12);
  if (std_errors) line += PadLeft("Wald", 9) + PadLeft("df", 4) + PadLeft("prob", 6);
  return line;
}

void WriteSubmodelTable(RunState& run, int t, bool conditional, std::vector<int>& shown) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[t];
  TextFile& out = run.context.ReportFile;
  const bool std_errors = ShowsStdErrors(run);
  const bool exp_beta = ShowsExpBeta(run, t);

  std::string heading = "* TABLE " + TermText(model, submodel.SubmodelVariables);
  if (t < model.SubmodelCount) {
    heading += " [or " + ConditionalLabel(run, t) + "] *";
  } else {
    heading += " *";
  }
  const std::int64_t zeros = FittedZeroMargins(run, t, conditional);
  if (zeros > 0) {
    heading +=
        " (WARNING: " + FormatReal(0, 0, static_cast<double>(zeros)) + " fitted zero margins)";
  }
  out.WriteLine(heading);
  out.WriteLine("");
  const std::vector<double>& r_squared_of = CumulativeStateOf(run).r_squared;
  if (IsNormalCumulative(model, t) && t < static_cast<int>(r_squared_of.size())) {
    const double r_squared = r_squared_of[t];
    out.WriteLine(Blanks(2) + PadRight("R-squared", 12) + FormatReal(9, 4, r_squared));
    out.WriteLine(Blanks(2) + PadRight("R", 12) +
                  FormatReal(9, 4, r_squared > 0 ? std::sqrt(r_squared) : 0.0));
    out.WriteLine("");
  }
  out.WriteLine(WriteColumnHeader(run, t));
  RecordTable(run, TermText(model, submodel.SubmodelVariables),
              t < model.SubmodelCount ? ConditionalLabel(run, t) : std::string());

  const ReferenceCategories reference = TableReferences(run, t);
  const int risk = DiscreteRiskVariable(run, t);
  for (LogLinearEffect& effect : LogLinearParameters(run, t, conditional, reference)) {
    if (risk >= 0) {
      // Discrete time: only the effects that hold the risk variable, as contrasts with staying.
      if (effect.variables[risk] == 0) continue;
      ContrastWithStaying(run, effect);
    }
    if (!effect.members.empty()) out.WriteLine(Blanks(2) + TermText(model, effect.variables) + " ");
    const auto cells = static_cast<std::int64_t>(effect.beta.size());
    if (cells > kLargestListedTable) {
      // As the frequencies: an effect too large to read is not listed (nor its Wald test).
      out.WriteLine(NotListedText("effect", static_cast<double>(kLargestListedTable)));
      RecordEffect(run, TermText(model, effect.variables), {}, WaldFigures());
      continue;
    }
    std::vector<int> positions;  // of the effect's parameters shown with a standard error
    std::vector<double> betas;
    std::vector<ParameterFigures> recorded;
    for (std::int64_t e = 0; e < cells; ++e) {
      const std::vector<int> category = CellCategories(model, effect.members, e);
      std::string label = effect.members.empty() ? "main" : " ";
      bool at_reference = false;
      for (std::size_t k = 0; k < effect.members.size(); ++k) {
        label += CategoryLabel(category[k]) + " ";
        at_reference |= reference[effect.members[k]] == category[k] + 1;
      }
      const double beta = effect.beta[e];
      const bool estimated = effect.estimated[e];
      ParameterFigures figures;
      for (std::size_t k = 0; k < effect.members.size(); ++k) {
        figures.categories.push_back(category[k] + 1);
      }
      figures.beta = estimated ? beta : NAN;
      figures.exp_beta = estimated ? Exp(beta) : NAN;
      std::string line = Blanks(2) + PadRight(label, 12);
      line += estimated ? FormatReal(9, 4, beta) + " " : "   ****** ";
      if (std_errors) {
        const int position = at_reference ? -1 : ParameterPosition(run, reference, t, effect, e);
        if (position < 0) {
          line += Blanks(18);
        } else {
          line += WriteStdErrAndZ(run, position, beta, estimated, shown, &figures);
          positions.push_back(position);
          betas.push_back(beta);
        }
      }
      if (exp_beta) {
        if (!estimated) {
          line += " 0.00E+0000";
        } else {
          const double x = Exp(beta);
          line += (x >= 1000 || x <= 0.001 ? FormatReal(11, -1, x) : FormatReal(11, 4, x)) + " ";
        }
      }
      WaldFigures wald;
      if (e == cells - 1 && std_errors && !positions.empty()) {
        line += WriteWaldTest(run, positions, betas, &wald);
      }
      out.WriteLine(line);
      recorded.push_back(std::move(figures));
      if (e == cells - 1) {
        RecordEffect(run, effect.members.empty() ? "main" : TermText(model, effect.variables),
                     recorded, wald);
      }
    }
  }
}

void WriteParameterTables(RunState& run, int first) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  TextFile& out = run.context.ReportFile;
  std::vector<int> shown;
  first = std::max(first, 0);

  bool any_parameters = false;
  for (int t = 0; t < model.SubmodelCount; ++t) {
    const Submodel& submodel = model.submodels[t];
    any_parameters |= !submodel.designs.empty() || submodel.AssocCount() > 0 ||
                      CountSubmodelParameters(run, t) > 0;
  }
  if (settings.show_details && first < model.SubmodelCount && any_parameters) {
    out.WriteLine("");
    out.WriteLine("*** LOG-LINEAR PARAMETERS ***");
    out.WriteLine("");
    for (int t = first; t < model.SubmodelCount; ++t) {
      const Submodel& submodel = model.submodels[t];
      const bool conditional = t >= 1;
      bool plain_designs = true;
      for (const Design& design : submodel.designs) {
        plain_designs &= design.family == DesignFamily::kFixedWeights &&
                         design.interaction == DesignInteraction::kA;
      }
      if (t >= 1 && submodel.MarginCount() <= 1 && plain_designs && submodel.AssocCount() == 0) {
        WriteFamilyBlocks(run, BlockPlace::kAfterTable, t, shown);
        continue;
      }
      WriteSubmodelTable(run, t, conditional, shown);
      WriteFamilyBlocks(run, BlockPlace::kAfterTable, t, shown);
      out.WriteLine("");
      WriteFamilyBlocks(run, BlockPlace::kAfterTableEnd, t, shown);
    }
  }
  WriteFamilyBlocks(run, BlockPlace::kAfterSubmodels, -1, shown);
  const int hazard = run.estimation.hazard.table;
  if (hazard >= 0) {
    out.WriteLine("");
    out.WriteLine("");
    out.WriteLine("*** HAZARD PARAMETERS ***");
    out.WriteLine("");
    WriteSubmodelTable(run, hazard, false, shown);
    if (HasShapes(run.estimation.hazard.kind)) WriteShapeLines(run, shown);
    WriteFamilyBlocks(run, BlockPlace::kAfterTable, hazard, shown);
    out.WriteLine("");
    WriteFamilyBlocks(run, BlockPlace::kAfterTableEnd, hazard, shown);
  }
  out.WriteLine("");
  if (!settings.file_covariances.empty() && ShowsStdErrors(run)) WriteCovarianceFile(run, shown);
}

void WriteCovarianceFile(RunState& run, const std::vector<int>& shown) {
  const Covariances v(run);
  OpenTextFile(run.context, run.context.ResultFile, run.settings.file_covariances, "w",
               TextFile::Destination::kReplaceWhenComplete);
  TextFile& file = run.context.ResultFile;
  file.WriteLine("* Standard-errors and correlations *");
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const double vii = v(shown[i], shown[i]);
    std::string line;
    for (std::size_t j = 0; j <= i; ++j) {
      const double vjj = v(shown[j], shown[j]);
      if (j == i) {
        line += vii > 0 ? FormatReal(8, 4, std::sqrt(vii) / FreeParameterScale(run, shown[i]))
                        : "  ******";
      } else {
        line += vii > 0 && vjj > 0 ? FormatReal(8, 4, v(shown[i], shown[j]) / std::sqrt(vii * vjj))
                                   : "  ******";
      }
    }
    file.WriteLine(line);
  }
  file.WriteLine("");
  file.WriteLine("* Variances and covariances *");
  for (std::size_t i = 0; i < shown.size(); ++i) {
    std::string line;
    // A parameter left out of the inversion has no variance; two others can be uncorrelated
    // exactly (parameters of submodels that share no data), which shows as 0.
    const bool has_variance = v(shown[i], shown[i]) > 0;
    for (std::size_t j = 0; j <= i; ++j) {
      // In the user's units: scaled design columns divide by both scales.
      const double vij = v(shown[i], shown[j]) / FreeParameterScale(run, shown[i]) /
                         FreeParameterScale(run, shown[j]);
      line += std::isfinite(vij) && (vij != 0 || (has_variance && v(shown[j], shown[j]) > 0))
                  ? FormatReal(8, 4, vij)
                  : "  ******";
    }
    file.WriteLine(line);
  }
  file.WriteLine("");
  CloseTextFile(file);
}

}  // namespace tav
