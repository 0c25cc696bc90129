#include "report/results_document.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <utility>

#include "core/log.h"
#include "input/reader.h"

namespace tav {
namespace {

using Json = nlohmann::ordered_json;

// The length of the well-formed UTF-8 sequence at text[i] (shortest form, no surrogates, at
// most U+10FFFF), or 0 when the byte there begins none.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned lead = byte(i);
  std::size_t length = 0;
  unsigned low = 0x80;  // the range of the second byte
  unsigned high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (length == 0 || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

// text with every byte that is not part of a well-formed UTF-8 sequence written as the four
// characters \xHH (upper-case hexadecimal); well-formed text is returned unchanged. Labels of
// different bytes thus stay different in the document.
std::string EscapeInvalidUtf8(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length > 0) {
      escaped.append(text, i, length);
      i += length;
      continue;
    }
    const auto value = static_cast<unsigned char>(text[i++]);
    escaped += "\\x";
    escaped += kHex[value >> 4];
    escaped += kHex[value & 15];
  }
  return escaped;
}

// EscapeInvalidUtf8 on every string and key of the document.
void EscapeStrings(Json& value) {
  if (value.is_string()) {
    std::string& text = value.get_ref<std::string&>();
    text = EscapeInvalidUtf8(text);
  } else if (value.is_array()) {
    for (Json& element : value) EscapeStrings(element);
  } else if (value.is_object()) {
    bool keys_kept = true;
    for (auto& [key, element] : value.items()) {
      EscapeStrings(element);
      keys_kept = keys_kept && EscapeInvalidUtf8(key) == key;
    }
    if (keys_kept) return;
    Json escaped = Json::object();
    for (auto& [key, element] : value.items()) escaped[EscapeInvalidUtf8(key)] = std::move(element);
    value = std::move(escaped);
  }
}

// A number, or null when it is not finite.
Json Number(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

std::vector<std::string> Labels(const ModelState& model, const Membership& marks, int code) {
  std::vector<std::string> labels;
  for (int v = 0; v < model.VariableCount; ++v) {
    if (marks[v] == code) labels.push_back(model.VariableLabel[v]);
  }
  return labels;
}

std::string Role(const ModelState& model, int v) {
  if (v < model.ResCount) return "subgroup";
  if (v < model.FirstManifest()) return "latent";
  return "manifest";
}

// Appends entry to the array of key in the document.
void Append(RunState& run, const char* key, Json entry) {
  Json& list = (*run.results)[key];
  if (!list.is_array()) list = Json::array();
  list.push_back(std::move(entry));
}

// The last entry of the array of key, or nullptr.
Json* Last(RunState& run, const char* key) {
  if (!run.results || !run.results->contains(key)) return nullptr;
  Json& list = (*run.results)[key];
  return list.is_array() && !list.empty() ? &list.back() : nullptr;
}

Json Figures(const ParameterFigures& figures) {
  return {{"beta", Number(figures.beta)},
          {"std_err", Number(figures.std_err)},
          {"z", Number(figures.z)},
          {"exp_beta", Number(figures.exp_beta)}};
}

Json Wald(const WaldFigures& wald) {
  return {{"w", Number(wald.w)}, {"df", wald.df}, {"p", Number(wald.p)}};
}

// A table of log-linear parameters with its effects.
Json TableEntry(const TableResults& table) {
  Json effects = Json::array();
  for (const EffectResults& effect : table.effects) {
    Json cells = Json::array();
    for (const EffectCell& cell : effect.cells) {
      Json row = {{"categories", cell.figures.categories}};
      row.update(Figures(cell.figures));
      cells.push_back(row);
    }
    Json entry = {{"effect", effect.listed && effect.constant ? "main" : effect.term},
                  {"cells", cells}};
    if (effect.wald.df > 0) entry["wald"] = Wald(effect.wald);
    effects.push_back(entry);
  }
  return {{"table", table.term},
          {"probabilities", table.labelled ? table.label : std::string()},
          {"effects", effects}};
}

// The label of a parameter line without the blanks around it.
std::string Trimmed(const std::string& label) {
  const std::size_t start = label.find_first_not_of(' ');
  if (start == std::string::npos) return std::string();
  return label.substr(start, label.find_last_not_of(' ') - start + 1);
}

// The values of an association term's side that the document lists, each named by the side,
// its block (when a side of scores has several) and its category (scores, or several
// association parameters).
void AddSideValues(const SideResults& side, Json& parameters) {
  const int n = side.n;
  const int blocks = n > 0 ? static_cast<int>(side.values.size()) / n : 0;
  for (std::size_t i = 0; i < side.recorded.size(); ++i) {
    const int b = static_cast<int>(i) / n;
    std::string name = side.label;
    if (blocks > 1 && !side.parameter) name += " " + IntegerText(b + 1);
    if (!side.parameter || n > 1) name += " " + IntegerText(static_cast<int>(i) % n + 1);
    Json row = {{"label", name}};
    row.update(Figures(side.recorded[i]));
    parameters.push_back(row);
  }
}

// A block after the tables, or null for one without figures (a heading of tables).
Json BlockEntry(const BlockResults& block) {
  if (block.kind == BlockResults::Kind::kTableHeading) return nullptr;
  Json parameters = Json::array();
  for (const BlockRow& row : block.rows) {
    Json entry = {{"label", Trimmed(row.label)}};
    entry.update(Figures(row.figures));
    parameters.push_back(entry);
  }
  for (const SideResults& side : block.sides) AddSideValues(side, parameters);
  Json entry = {{"table", block.table}, {"block", block.heading}, {"parameters", parameters}};
  if (block.wald.df > 0) entry["wald"] = Wald(block.wald);
  return entry;
}

void RecordBlocks(RunState& run, const std::vector<BlockResults>& blocks) {
  for (const BlockResults& block : blocks) {
    Json entry = BlockEntry(block);
    if (!entry.is_null()) Append(run, "special_parameters", std::move(entry));
  }
}

void RecordPart(RunState& run, const SubmodelParameters& part) {
  if (part.table_shown) Append(run, "parameters", TableEntry(part.table));
  RecordBlocks(run, part.after_table);
  RecordBlocks(run, part.after_end);
}

}  // namespace

void StartResultsDocument(RunState& run) {
  run.results.reset();
  if (run.settings.file_results_json.empty() && run.context.results_path.empty()) return;
  const ModelState& model = run.model;
  auto document = std::make_shared<Json>();
  Json& root = *document;
  root["program"] = "tav95";
  root["format"] = 1;
  Json variables = Json::array();
  for (int v = 0; v < model.VariableCount; ++v) {
    variables.push_back({{"label", model.VariableLabel[v]},
                         {"categories", model.Dimension[v]},
                         {"role", Role(model, v)}});
    // Read from a file of named columns: the column and the meaning of the categories.
    for (const VariableSource& source : run.data.sources) {
      if (source.variable != v) continue;
      Json categories = Json::array();
      for (const VariableSource::Category& category : source.categories) {
        categories.push_back(
            {{"code", category.code}, {"value", category.value}, {"label", category.label}});
      }
      variables.back()["source"] = {{"file", run.data.source_file},
                                    {"column", source.column},
                                    {"column_label", source.column_label},
                                    {"categories", categories}};
    }
  }
  root["model"]["variables"] = variables;
  Json submodels = Json::array();
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    Json conditioning = Json::array();
    // The conditioning variables form the first margin of every submodel but the first.
    if (r > 0 && submodel.MarginCount() > 0) {
      conditioning = Labels(model, submodel.EffectVariables[0], 1);
    }
    Json all = Json::array();
    for (int v = 0; v < model.VariableCount; ++v) {
      if (submodel.SubmodelVariables[v] != 0) all.push_back(model.VariableLabel[v]);
    }
    submodels.push_back({{"term", submodel.term},
                         {"variables", all},
                         {"conditioning", conditioning},
                         {"cells", static_cast<std::int64_t>(submodel.cell_count)}});
  }
  root["model"]["submodels"] = submodels;
  root["model"]["seed"] = run.estimation.random.seed_used;
  const Settings& settings = run.settings;
  if (!settings.simulate_file.empty()) {
    root["simulation"] = {{"file", settings.simulate_file},
                          {"count", settings.simulate_count},
                          {"expected", settings.simulate_count < 1},
                          {"total", Number(run.simulated_total)}};
  }
  run.results = document;
}

void RecordStatistics(RunState& run, const StatisticsResults& results) {
  if (!run.results) return;
  Json statistics;
  statistics["iterations"] = results.iterations;
  statistics["convergence_criterion"] = Number(results.convergence_criterion);
  statistics["seed"] = results.seed;
  using Figure = std::pair<const char*, double>;
  auto put = [&](std::initializer_list<Figure> list) {
    for (const auto& [key, value] : list) statistics[key] = Number(value);
  };
  auto test = [](const FitTest& figure) {
    return Json{{"value", Number(figure.value)}, {"p", Number(figure.p)}};
  };
  const bool fit_block = !results.hazard_model && results.fit_block && !results.simulated;
  const double df = static_cast<double>(results.df);
  if (fit_block) {
    statistics["x_squared"] = test(results.x_squared);
    statistics["l_squared"] = test(results.l_squared);
    statistics["cressie_read"] = test(results.cressie_read);
    if (results.has_dissimilarity) put({{"dissimilarity_index", results.dissimilarity}});
    put({{"degrees_of_freedom", df}});
  } else if (results.simulated && !results.hazard_model && results.fit_block) {
    put({{"degrees_of_freedom", df}});
  }
  if (results.hazard_model && !results.simulated && !results.grouped_hazard) {
    Json hazard;
    hazard["x_squared"] = test(results.hazard_x_squared);
    hazard["l_squared"] = test(results.hazard_l_squared);
    hazard["degrees_of_freedom"] = Number(static_cast<double>(results.hazard_df));
    hazard["log_likelihood"] = Number(results.hazard_log_likelihood);
    hazard["parameters"] = Number(static_cast<double>(results.hazard_parameters));
    statistics["hazard_model"] = hazard;
  }
  // Simulated data have no likelihood: those figures are null. The parameters are those the
  // report shows: with the hazard part's in an event-history model, which has no fixed ones.
  const double unless_simulated = results.simulated ? NAN : 1.0;
  const auto parameters = results.hazard_model ? results.all_parameters : results.parameters;
  const auto fixed = results.hazard_model ? 0 : results.fixed_parameters;
  put({{"log_likelihood", results.log_likelihood * unless_simulated},
       {"parameters", static_cast<double>(parameters)},
       {"fixed_parameters", static_cast<double>(fixed)},
       {"sample_size", results.sample_size}});
  if (fit_block) {
    put({{"bic_l_squared", results.bic_l_squared}, {"aic_l_squared", results.aic_l_squared}});
  }
  put({{"bic_log_likelihood", results.bic_log_likelihood * unless_simulated},
       {"aic_log_likelihood", results.aic_log_likelihood * unless_simulated}});
  Json eigenvalues = Json::array();
  for (double value : results.eigenvalues) eigenvalues.push_back(Number(value));
  statistics["eigenvalues"] = eigenvalues;
  statistics["warnings"] = results.warnings;
  (*run.results)["statistics"] = statistics;

  // The frequency tables, each subgroup with its variables and the cells listed.
  const ModelState& model = run.model;
  for (const FrequencyTable& table : results.frequencies) {
    if (table.rows.empty()) continue;
    std::vector<std::string> labels;
    for (const int v : table.variables) labels.push_back(model.VariableLabel[v]);
    Json cells = Json::array();
    for (const FrequencyRow& row : table.rows) {
      cells.push_back({{"categories", row.categories},
                       {"observed", Number(row.observed)},
                       {"estimated", Number(row.estimated)},
                       {"residual", Number(row.residual)}});
    }
    Append(run, "frequencies",
           {{"subgroup", table.subgroup + 1}, {"variables", labels}, {"cells", cells}});
  }
}

void RecordParameters(RunState& run, const ParameterResults& results) {
  if (!run.results) return;
  for (const SubmodelParameters& part : results.submodels) RecordPart(run, part);
  RecordBlocks(run, results.after_submodels);
  if (results.hazard_shown) RecordPart(run, results.hazard_part);
}

void RecordProbabilities(RunState& run, const ProbabilityResults& results) {
  if (!run.results) return;
  for (const ProbabilityTable& table : results.tables) {
    for (const ProbabilityCell& cell : table.cells) {
      Json* last = Last(run, "probabilities");
      if (last == nullptr || (*last)["probabilities"] != table.label) {
        Append(run, "probabilities", {{"probabilities", table.label}, {"cells", Json::array()}});
        last = Last(run, "probabilities");
      }
      (*last)["cells"].push_back({{"categories", cell.categories},
                                  {"probability", Number(cell.probability)},
                                  {"std_err", Number(cell.std_err_known ? cell.std_err : NAN)}});
    }
  }
}

void RecordLatentClasses(RunState& run, const LatentClassFigures& figures) {
  if (!run.results) return;
  const ModelState& model = run.model;
  Json classes = Json::array();
  for (const LatentClassFigures::Class& one : figures.classes) {
    Json items = Json::array();
    for (std::size_t i = 0; i < one.items.size(); ++i) {
      Json probabilities = Json::array();
      for (double value : one.items[i]) probabilities.push_back(Number(value));
      items.push_back({{"variable", model.VariableLabel[model.FirstManifest() + i]},
                       {"probabilities", probabilities}});
    }
    classes.push_back({{"latent", one.latent}, {"size", Number(one.size)}, {"items", items}});
  }
  (*run.results)["latent_classes"] = {
      {"classes", classes},
      {"classification_errors", Number(figures.classification_errors)},
      {"lambda", Number(figures.lambda)}};
}

void RecordBivariateResiduals(RunState& run, const std::vector<BivariateResidualFigures>& pairs) {
  if (!run.results) return;
  Json list = Json::array();
  for (const BivariateResidualFigures& pair : pairs) {
    list.push_back({{"variables", {pair.first, pair.second}},
                    {"x_squared", Number(pair.x_squared)},
                    {"df", pair.df},
                    {"ratio", Number(pair.ratio)}});
  }
  (*run.results)["bivariate_residuals"] = list;
}

void RecordClassification(RunState& run, const ClassificationFigures& figures) {
  if (!run.results) return;
  Json classes = Json::array();
  for (const ClassificationFigures::Class& one : figures.classes) {
    Json averages = Json::array();
    for (double value : one.average_posteriors) averages.push_back(Number(value));
    classes.push_back(
        {{"latent", one.latent}, {"cases", Number(one.cases)}, {"average_posteriors", averages}});
  }
  (*run.results)["classification"] = {{"classes", classes},
                                      {"cases", Number(figures.cases)},
                                      {"entropy_r_squared", Number(figures.entropy_r_squared)}};
}

void RecordPseudoRSquared(RunState& run, const PseudoRSquaredResults& results) {
  if (!run.results) return;
  auto measure = [](double baseline, double fitted, double r_squared) {
    return Json{{"baseline", Number(baseline)},
                {"fitted", Number(fitted)},
                {"r_squared", Number(r_squared)}};
  };
  for (const PseudoRSquaredResults::Block& block : results.blocks) {
    const PseudoRSquared& r = block.figures;
    Json deviance = measure(r.deviance_baseline, r.deviance_fitted, r.deviance_r2);
    deviance["ratio"] = Number(r.deviance_ratio);
    Json likelihood = measure(r.likelihood_baseline, r.likelihood_fitted, r.likelihood_r2);
    likelihood["ratio"] = Number(r.likelihood_ratio);
    Append(
        run, "pseudo_r_squared",
        {{"probabilities", block.label},
         {"entropy", measure(r.entropy_baseline, r.entropy_fitted, r.entropy_r2)},
         {"qualitative_variance", measure(r.variance_baseline, r.variance_fitted, r.variance_r2)},
         {"classification_error", measure(r.error_baseline, r.error_fitted, r.error_r2)},
         {"minus_2_over_n_log_likelihood", deviance},
         {"likelihood_power_minus_2_over_n", likelihood}});
  }
}

void RecordEventHistory(RunState& run, const EventHistoryResults& results) {
  if (!run.results || !results.hazard_part) return;
  static const char* const kKinds[] = {"piecewise constant rates", "discrete time",
                                       "rates with fixed shapes", "rates with estimated shapes"};
  const int kind = TimeModelNumber(results.kind);
  Json part = {
      {"kind", kind}, {"form", kKinds[kind]}, {"time_boundaries", results.time_boundaries}};
  Json risks = Json::array();
  for (const EventHistoryResults::Risk& r : results.risks) {
    Json risk = {{"risk", r.risk}, {"origin", r.origin}, {"destination", r.destination}};
    if (results.shapes) risk["shape"] = Number(r.shape);
    risks.push_back(risk);
  }
  part["risks"] = risks;
  part["covariates"] = results.covariates;
  Json cells = Json::array();
  for (const EventHistoryResults::Cell& c : results.cells) {
    cells.push_back({{"covariates", c.covariates},
                     {"interval", c.interval},
                     {"risk", c.risk},
                     {"rate", Number(c.rate)},
                     {"events", Number(c.events)},
                     {"exposure", Number(c.exposure)}});
  }
  part["cells"] = cells;
  Json survival = Json::array();
  for (const EventHistoryResults::Survival& s : results.survival) {
    survival.push_back({{"covariates", s.covariates},
                        {"interval", s.interval},
                        {"origin", s.origin},
                        {"survival", Number(s.survival)}});
  }
  part["survival"] = survival;
  Json curves = Json::array();
  for (const EventHistoryResults::Curve& c : results.curves) {
    Json points = Json::array();
    for (const auto& [time, value] : c.points) points.push_back({Number(time), Number(value)});
    curves.push_back({{"covariates", c.covariates}, {"origin", c.origin}, {"points", points}});
  }
  part["survival_curves"] = curves;
  (*run.results)["event_history"] = part;
}

void RecordCorrespondence(RunState& run, const CorrespondenceAnalysis& analysis) {
  if (!run.results) return;
  const ModelState& model = run.model;
  const int t = CorrespondenceNumber(analysis.type);
  static const char* const kNames[] = {"correspondence", "multiple correspondence", "association",
                                       "association with uniform weights"};
  Json part = {{"type", t},
               {"analysis", kNames[std::clamp(t, 1, 4) - 1]},
               {"left_out", analysis.left_out.empty() ? Json(nullptr) : Json(analysis.left_out)},
               {"sample_size", Number(analysis.total)}};
  Json dimensions = Json::array();
  for (std::size_t d = 0; d < analysis.dimensions.size(); ++d) {
    const CorrespondenceAnalysis::Dimension& figures = analysis.dimensions[d];
    Json dimension = {{"dimension", d + 1}, {"eigenvalue", Number(figures.eigenvalue)}};
    if (t == 2) {
      dimension["eigenvalue_per_variable"] = Number(figures.per_variable);
    } else {
      dimension[t == 1 ? "rho" : "phi"] = Number(figures.root);
    }
    if (t <= 2) {
      dimension["proportion"] = Number(figures.proportion);
      dimension["cumulative_proportion"] = Number(figures.cumulative_proportion);
    }
    if (t == 1) dimension["x_squared"] = Number(figures.x_squared);
    dimensions.push_back(dimension);
  }
  part["dimensions"] = dimensions;
  Json categories = Json::array();
  for (const CorrespondenceAnalysis::Category& c : analysis.categories) {
    Json scores = Json::array();
    for (double x : c.scores) scores.push_back(Number(x));
    categories.push_back({{"variable", model.VariableLabel[c.variable]},
                          {"side", t == 2     ? "both"
                                   : c.column ? "columns"
                                              : "rows"},
                          {"category", c.category + 1},
                          {"weight", Number(c.weight)},
                          {"scores", scores}});
  }
  part["categories"] = categories;
  if (t == 2) {
    Json variables = Json::array();
    for (int k = 0; k < analysis.variables && analysis.left_out.empty(); ++k) {
      Json discrimination = Json::array();
      Json contribution = Json::array();
      for (std::size_t d = 0; d < analysis.contributions.size(); ++d) {
        discrimination.push_back(Number(analysis.discriminations[d][k]));
        contribution.push_back(Number(analysis.contributions[d][k]));
      }
      variables.push_back({{"variable", model.VariableLabel[k]},
                           {"discrimination", discrimination},
                           {"contribution", contribution}});
    }
    part["variables"] = variables;
  }
  (*run.results)["correspondence"] = part;
}

void FinishResultsDocument(RunState& run) {
  if (!run.results) return;
  Json& root = *run.results;
  // The parts the report did not write are there, empty.
  for (const char* key :
       {"frequencies", "parameters", "special_parameters", "probabilities", "pseudo_r_squared"}) {
    if (!root.contains(key)) root[key] = Json::array();
  }
  Json iterations = Json::array();
  // Without data (sim) there is no likelihood to give.
  const double unless_simulated = run.settings.simulate_file.empty() ? 1.0 : NAN;
  const std::vector<IterationRecord>& history = run.estimation.iteration_history;
  for (const std::int64_t row : KeptIterationRows(static_cast<std::int64_t>(history.size()))) {
    const IterationRecord& record = history[static_cast<std::size_t>(row)];
    Json line = {{"iteration", record.iteration},
                 {"log_likelihood", Number(record.log_likelihood * unless_simulated)},
                 {"stop_criterion", Number(record.stop_criterion)}};
    if (record.has_l_squared) line["l_squared"] = Number(record.l_squared * unless_simulated);
    iterations.push_back(line);
  }
  root["iterations"] = iterations;
  // Labels are bytes: those that are not UTF-8 are escaped, so that the document is UTF-8.
  EscapeStrings(root);
  const std::string text = root.dump(1, ' ', false, Json::error_handler_t::replace);
  run.results.reset();
  // The wjs file under the run's prefix, the environment's path as it stands.
  const std::string prefix = run.context.FilePrefix;
  for (const auto& [name, prefixed] : {std::pair(run.settings.file_results_json, true),
                                       std::pair(run.context.results_path, false)}) {
    if (name.empty()) continue;
    run.context.FilePrefix = prefixed ? prefix : std::string();
    OpenTextFile(run.context, run.context.ResultFile, name, "w",
                 TextFile::Destination::kReplaceWhenComplete);
    run.context.ResultFile.WriteLine(text);
    CloseTextFile(run.context.ResultFile);
  }
  run.context.FilePrefix = prefix;
}

std::vector<std::int64_t> KeptIterationRows(std::int64_t count) {
  std::vector<std::int64_t> rows;
  if (count <= kIterationRowsKept) {
    for (std::int64_t i = 0; i < count; ++i) rows.push_back(i);
    return rows;
  }
  // The rows after the first ones, the last among them, share what is left.
  const std::int64_t room = kIterationRowsKept - kFirstIterationRows - 1;
  const std::int64_t later = count - kFirstIterationRows - 1;
  const std::int64_t step = (later + room - 1) / room;
  for (std::int64_t i = 0; i < kFirstIterationRows; ++i) rows.push_back(i);
  for (std::int64_t i = kFirstIterationRows; i < count - 1; i += step) rows.push_back(i);
  rows.push_back(count - 1);
  return rows;
}

}  // namespace tav
