#include "data/settings_section.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <system_error>

#include "core/distributions.h"
#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "data/data_reader.h"
#include "data/design_reader.h"
#include "data/record_columns.h"
#include "data/tabular_file.h"
#include "input/command_table.h"
#include "input/model_codes.h"
#include "input/reader.h"
#include "input/sections.h"

namespace tav {
namespace {

constexpr const char* kStartName = "sta(rting_values)";
constexpr const char* kHazardStartName = "st(art_)h(azard)";
constexpr int kMaxMarginalRequests = 101;
constexpr double kInt32Max = std::numeric_limits<std::int32_t>::max();
// Seeds beyond the exactly representable integers are reduced by the generator's modulus,
// which leaves the stream it produces unchanged and keeps its arithmetic finite.
constexpr double kExactSeedLimit = 9007199254740992.0;  // 2^53
constexpr double kGeneratorModulus = 2796203.0;

// What the pass keeps for the checks after its loop.
struct PassState {
  double cases = -1;          // `cas`; -1: no check
  bool data_inline = false;   // the last `dat` had its data inline
  bool design_named = false;  // `des` named a file
};

// The setting that a handler shared by several commands fills: a result file with the message
// for a missing name, an output switch, or a real with the check of its values.
struct Operand {
  std::string Settings::*file = nullptr;
  const char* message = nullptr;
  bool Settings::*flag = nullptr;
  double Settings::*value = nullptr;
  bool (*possible)(double) = nullptr;
};

// What the handler of one command of the section works on.
struct SettingsCommand {
  Reader& reader;
  DataRun& run;
  const std::string& command;  // the word as written
  PassState& pass;
  const Operand& operand;
};

// A word that cannot be a file name, an effect or a variable list: the end of a list.
bool NotAName(const std::string& word) { return EndsList(word); }

// After inline numbers: a "]" must close them, as the character after the last number or as
// the next word.
void ExpectClosingBracket(Reader& reader, TextFile& file, const std::string& message) {
  if (reader.word == "]") return;
  if (ReadWord(file) != "]") StopRun(message);
}

// The word without a "[" clinging to its end; opened tells whether there was one.
std::string WithoutBracket(const std::string& word, bool& opened) {
  opened = word.size() > 1 && word.back() == '[';
  return opened ? word.substr(0, word.size() - 1) : word;
}

// Stops the run unless count reals fit in the memory budget.
std::int64_t CheckedRealCount(const InputRun& run, double count) {
  run.CheckMemory(std::max(count, 0.0) * sizeof(double));
  return static_cast<std::int64_t>(std::max(count, 0.0));
}

double TableCellCount(const ModelState& model) {
  if (model.subgroup_cell_count.empty()) return static_cast<double>(model.ManifestCellCount);
  double cells = 0;
  for (std::int32_t count : model.subgroup_cell_count) cells += count;
  return cells;
}

// ---------------------------------------------------------------------------------------------
// Start values.

// The value list of a start-value request, read from the input or a file (m reals; with the
// log flag their exponentials, capped at exp(600)).
void ReadValueList(Reader& reader, DataRun& run, TextFile& file, std::vector<double>& values,
                   bool log_scale) {
  for (double& value : values) {
    value = ReadReal(reader, run, file);
    if (log_scale) value = Exp(std::min(value, 600.0));
  }
}

// `nor` or `nor(t r)`: the values spread as a normal distribution.
void ReadNormalValues(Reader& reader, DataRun& run, const std::string& word,
                      std::vector<double>& values) {
  int type = 1;
  double range = 8;
  if (word.back() == '(') {
    type = ReadInteger(reader, run, reader.input);
    range = ReadReal(reader, run, reader.input);
    if (reader.word != ")" && ReadWord(reader.input) != ")") {
      StopRun("  Error: a \")\" expected in command \"nor\"");
    }
  }
  values = NormalStartValues(static_cast<std::int64_t>(values.size()), type, range);
}

// True when the design's variable codes fit the effect's variables: every variable of the
// effect is in the design's term (or marked -2), no other variable is.
bool DesignFits(const Design& design, const Membership& flags) {
  for (int v = 0; v < kVectorSize; ++v) {
    const int code = SignedCode(design.DesignVariables[v]);
    if (flags[v] != 0 ? (code != 1 && code != -2) : code == 1) return false;
  }
  return true;
}

bool SameVariables(const Membership& effect, const Membership& flags) {
  for (int v = 0; v < kVectorSize; ++v) {
    if ((effect[v] != 0) != (flags[v] != 0)) return false;
  }
  return true;
}

// The effect that a start-value request names, as read.
struct StartEffect {
  bool log_scale = false;
  std::optional<DesignFamily> family;  // a typed effect: the family of a design
  SpecialModel special_model;          // and for spe its model
  std::string text;                    // as written, for messages
  bool bracket = false;                // the values follow in "[" glued to the effect
  Membership flags{};                  // its variables
  double count = 1;                    // the number of values of a plain effect
};

// The family of a design that a typed effect names by its first word.
std::optional<DesignFamily> TypedEffectFamily(const std::string& key) {
  if (key == "cov") return DesignFamily::kCovariate;
  if (key == "eff") return DesignFamily::kEffect;
  if (key == "fac") return DesignFamily::kFactor;
  if (key == "fix" || key == "wei") return DesignFamily::kFixedWeights;
  if (key == "spe") return DesignFamily::kSpecial;
  return std::nullopt;
}

// Reads the effect: `log`, then a plain term or a typed effect with its variables (and for spe
// its model number); returns the word of its variables.
std::string ReadStartEffectWords(Reader& reader, const std::string& name, StartEffect& effect) {
  TextFile& in = reader.input;
  std::string word = ReadWord(in);
  if (CommandKey(word) == "log") {
    effect.log_scale = true;
    word = ReadWord(in);
  }
  if (NotAName(word)) StopRun("  Error: effect not specified in command " + name);
  effect.family = TypedEffectFamily(CommandKey(word));
  effect.text = word;
  if (!effect.family) {
    effect.text = WithoutBracket(word, effect.bracket);
    return effect.text;
  }
  const std::string variables_word = ReadWord(in);
  effect.text += variables_word;
  if (effect.family == DesignFamily::kSpecial) {
    const std::string model_number = ReadWord(in);
    effect.text += "," + model_number;
    if (model_number.size() < 2 || model_number[0] < '1' || model_number[0] > '8' ||
        (model_number[1] != 'a' && model_number[1] != 'b')) {
      StopRun("  Error: wrong model number in " + effect.text + " in command " + name);
    }
    effect.special_model = *SpecialModelOf(model_number[0], model_number[1]);
  }
  if (effect.text.back() != ')') {
    if (ReadWord(in) != ")") {
      StopRun("  Error: a \")\" expected after " + effect.text + " in command " + name);
    }
    effect.text += ")";
  }
  return variables_word;
}

// The effect's variables, over all variables (`sta`) or the hazard variables (`sth`), and the
// number of cells of their table.
void ReadStartVariables(Reader& reader, DataRun& run, const std::string& variables_word,
                        int variable_count, StartEffect& effect) {
  reader.word = variables_word;
  ParseTerm(reader, run.model, variables_word, effect.flags, variable_count, false);
  for (int v = 0; v < variable_count; ++v) {
    if (effect.flags[v] != 0) {
      effect.count = std::min(effect.count * std::max(run.model.Dimension[v], 0), 1e18);
    }
  }
}

// The submodel of the request: the hazard submodel, or the first that holds every variable of
// the effect (the `all` submodel last).
int StartSubmodel(const DataRun& run, bool hazard, int variable_count, const StartEffect& effect,
                  const std::string& name) {
  const ModelState& model = run.model;
  const int submodel_total = static_cast<int>(model.submodels.size());
  const auto not_found = [&] {
    StopRun("  Error: effect " + effect.text + " specified in " + name + " not found");
  };
  if (hazard) {
    const int chosen = model.SubmodelCount;
    for (int v = 0; v < variable_count; ++v) {
      if (effect.flags[v] != 0 &&
          (chosen >= submodel_total || model.submodels[chosen].SubmodelVariables[v] == 0)) {
        StopRun("  Error: wrong variabele (" + model.VariableLabel[v] + ") in command " + name);
      }
    }
    if (chosen < 0 || chosen >= submodel_total) not_found();
    return chosen;
  }
  std::vector<int> candidates;
  for (int v = 0; v < model.SubmodelCount && v < submodel_total; ++v) candidates.push_back(v);
  if (model.HasAllSubmodel && model.SubmodelCount + 1 < submodel_total) {
    candidates.push_back(model.SubmodelCount + 1);
  }
  for (int candidate : candidates) {
    const Membership& marks = model.submodels[candidate].SubmodelVariables;
    bool holds = true;
    for (int v = 0; v < variable_count && holds; ++v) holds = effect.flags[v] == 0 || marks[v] != 0;
    if (holds) return candidate;
  }
  not_found();
  return -1;
}

// The effect or design inside the submodel that takes the values, and their number: a whole
// table for restricted probabilities, cumulative models, fixed margins and restricted
// submodels; a design's parameters for a typed effect.
double FindStartTarget(const DataRun& run, const StartEffect& effect, const std::string& name,
                       StartValueRequest& request) {
  const Submodel& submodel = run.model.submodels[request.submodel];
  const auto not_found = [&] {
    StopRun("  Error: effect " + effect.text + " specified in " + name + " not found");
  };
  const bool table_kind = submodel.HasRestrictedCells() || submodel.IsSaturatedFixed() ||
                          submodel.IsCumulative() || submodel.LinLogSubmodel ||
                          submodel.MarSubmodel != MarRestrictions::kNone;
  if (!effect.family) {
    if (table_kind) {
      request.whole_table = true;
      return effect.count;
    }
    // Effect 0 of a submodel after the first is its conditioning margin, which takes no start
    // values; the first submodel and the hazard submodel begin with effects of their own.
    for (int e = request.submodel == 0 || request.of_hazard_part ? 0 : 1;
         e < submodel.MarginCount(); ++e) {
      if (SameVariables(submodel.EffectVariables[e], effect.flags)) {
        request.effect = e;
        return effect.count;
      }
    }
    not_found();
  }
  for (int i = 0; i < submodel.DesignTermCount(); ++i) {
    const Design& design = submodel.designs[i];
    const bool same_model =
        design.family != DesignFamily::kSpecial || design.special_model == effect.special_model;
    if (design.family == *effect.family && same_model && DesignFits(design, effect.flags)) {
      request.design = i;
      break;
    }
  }
  if (request.design < 0) not_found();
  const Design& design = submodel.designs[request.design];
  if (effect.family == DesignFamily::kFixedWeights) return effect.count;
  double count = std::max(design.DesignCountParam, 0);
  if (design.interaction == DesignInteraction::kC) {
    count *= design.group_multiplier != 0 ? std::fabs(static_cast<double>(design.group_multiplier))
                                          : CodedCells(run.model, design.DesignVariables, -1);
  }
  return count;
}

// The values: inline in "[ ]", spread by `nor`, or from a file (read in DataFile, so that an
// error names the line of that file).
void ReadStartValueList(Reader& reader, DataRun& run, const StartEffect& effect,
                        const std::string& name, StartValueRequest& request) {
  TextFile& in = reader.input;
  const std::string values_word = effect.bracket ? std::string("[") : ReadFileName(in);
  if (values_word == "[") {
    ReadValueList(reader, run, in, request.values, effect.log_scale);
    if (request.values.empty()) reader.word.clear();
    ExpectClosingBracket(reader, in, "  Error: a \"]\" expected in command " + name);
  } else if (CommandKey(values_word) == "nor") {
    ReadNormalValues(reader, run, values_word, request.values);
  } else {
    if (NotAName(values_word)) StopRun("  Error: file with " + name + " not specified");
    OpenTextFile(run, run.DataFile, values_word, "r");
    ReadValueList(reader, run, run.DataFile, request.values, effect.log_scale);
    run.DataFile.Close();
    run.settings.start_value_files.push_back(values_word);
  }
}

// `sta` and `sth`: start values for one effect. A later request for the same target replaces
// an earlier one.
void ParseStartValues(Reader& reader, DataRun& run, bool hazard) {
  const std::string name = hazard ? kHazardStartName : kStartName;
  reader.command = name;
  StartEffect effect;
  const std::string variables_word = ReadStartEffectWords(reader, name, effect);
  const int variable_count =
      std::clamp(hazard ? run.history.HazardVarCount : run.model.VariableCount, 0, kVectorSize);
  ReadStartVariables(reader, run, variables_word, variable_count, effect);

  StartValueRequest request;
  request.submodel = StartSubmodel(run, hazard, variable_count, effect, name);
  request.of_hazard_part = hazard;
  request.effect_text = effect.text;
  const double count = FindStartTarget(run, effect, name, request);
  Submodel& submodel = run.model.submodels[request.submodel];
  if (submodel.HasRestrictedCells() || submodel.IsSaturatedFixed() || submodel.LinLogSubmodel ||
      submodel.MarSubmodel != MarRestrictions::kNone) {
    submodel.random_start = false;
  }
  request.values.assign(static_cast<std::size_t>(CheckedRealCount(run, count)), 0.0);
  ReadStartValueList(reader, run, effect, name, request);

  std::vector<StartValueRequest>& requests = run.settings.start_values;
  const auto same_target = [&](const StartValueRequest& other) {
    return other.submodel == request.submodel && other.effect == request.effect &&
           other.design == request.design && other.whole_table == request.whole_table;
  };
  const auto earlier = std::find_if(requests.begin(), requests.end(), same_target);
  if (earlier != requests.end()) {
    *earlier = std::move(request);
  } else {
    requests.push_back(std::move(request));
  }
}

// ---------------------------------------------------------------------------------------------
// Result files.

// The result files, in the order they are checked against each other (`wse` and `wsd` share
// theirs).
constexpr std::string Settings::*kResultFiles[] = {
    &Settings::file_frequencies,   &Settings::file_data,       &Settings::file_observed,
    &Settings::file_probabilities, &Settings::file_parameters, &Settings::file_covariances,
    &Settings::file_failures,      &Settings::file_hazards,    &Settings::file_exposures,
    &Settings::file_survival,      &Settings::file_latent,     &Settings::file_posterior,
    &Settings::file_results_json,
};

// The path under which a file named in the input is opened.
std::filesystem::path NamedPath(const DataRun& run, const std::string& name) {
  return std::filesystem::path(run.FilePrefix + name);
}

// No file the run writes may replace another file of the run: the report and the log must not
// name the data, design or start-value files, and a result file must name neither a file the run
// reads (the input, data, design and start-value files), nor the report or the log, nor another
// result file (a repeated `wma` name appends to its own file).
void CheckResultFiles(const DataRun& run) {
  const Settings& settings = run.settings;
  std::vector<std::filesystem::path> kept;  // the files a result file must not name
  if (!run.InputFileName.empty()) kept.emplace_back(run.InputFileName);
  std::vector<std::pair<std::string, std::string>> inputs;  // data, design, start values
  if (!settings.data_file.empty()) inputs.emplace_back("data", settings.data_file);
  if (!settings.design_file.empty()) inputs.emplace_back("design", settings.design_file);
  for (const std::string& file : settings.start_value_files) {
    inputs.emplace_back("start-value", file);
  }
  std::vector<std::pair<std::string, std::string>> written;  // report and log
  if (!run.OutputFileName.empty()) written.emplace_back("report", run.OutputFileName);
  if (run.WritesLogFile()) written.emplace_back("log", run.LogFileName());
  for (const auto& [what, name] : inputs) {
    const std::filesystem::path path = NamedPath(run, name);
    kept.push_back(path);
    for (const auto& [writer, file] : written) {
      if (SameFile(file, path)) {
        StopRun("  Error: " + writer + " file would overwrite the " + what + " file " + name);
      }
    }
  }
  for (const auto& written_file : written) kept.emplace_back(written_file.second);

  // The result files, each once: wse and wsd share theirs, and wma may repeat its own, under any
  // spelling.
  std::vector<std::string> results;
  for (std::string Settings::*file : kResultFiles) results.push_back(settings.*file);
  std::vector<std::string> marginal;
  for (const MarginalRequest& request : settings.marginal_requests) {
    const auto same = [&](const std::string& name) {
      return SameFile(NamedPath(run, name), NamedPath(run, request.file));
    };
    if (std::none_of(marginal.begin(), marginal.end(), same)) marginal.push_back(request.file);
  }
  results.insert(results.end(), marginal.begin(), marginal.end());
  results.push_back(settings.simulate_file);
  for (const std::string& name : results) {
    if (name.empty()) continue;
    const std::filesystem::path path = NamedPath(run, name);
    for (const std::filesystem::path& other : kept) {
      if (SameFile(path, other)) {
        StopRun("  Error: result file " + name + " would overwrite a file of this run");
      }
    }
    kept.push_back(path);
  }
  if (!run.results_path.empty()) {
    for (const std::filesystem::path& other : kept) {
      if (SameFile(std::filesystem::path(run.results_path), other)) {
        StopRun("  Error: results document " + run.results_path +
                " (TAV_RESULTS_JSON) would overwrite a file of this run");
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The other commands.

void ParseData(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  const std::string& command = c.command;
  PassState& pass = c.pass;
  run.data.data_given = true;
  bool inline_data = command.back() == '[';
  std::string operand;
  if (!inline_data) {
    operand = ReadFileName(reader.input);
    inline_data = operand == "[";
  }
  if (inline_data) {
    reader.word.clear();
    ReadData(reader, run, reader.input, true);
    ExpectClosingBracket(reader, reader.input, "  Error: a \"]\" expected in command \"dat\"");
    pass.data_inline = true;
    run.settings.data_file.clear();
  } else {
    if (NotAName(operand)) StopRun("  Error: file containing data not specified");
    pass.data_inline = false;
    run.settings.data_file = operand;
  }
}

const char* const kColumnsWithoutFile =
    "  Error: col names columns of a data file .csv, .tsv, .sav, .zsav, .por, .dta, .sas7bdat "
    "or .xpt";

// col [name ...]: the columns of the data file that make up a record, in reading order.
void ParseDataColumns(SettingsCommand& c) {
  Reader& reader = c.reader;
  TextFile& in = reader.input;
  if (c.command.back() != '[' && ReadWord(in) != "[") {
    StopRun("  Error: a \"[\" expected in command col");
  }
  std::vector<std::string>& columns = c.run.settings.data_columns;
  columns.clear();
  for (;;) {
    std::string word = ReadWord(in);
    if (word.empty()) StopRun("  Error: a \"]\" expected in command col");
    const bool last = word.back() == ']';
    if (last) word.pop_back();
    if (!word.empty()) columns.push_back(word);
    if (last) break;
  }
  if (columns.empty()) StopRun("  Error: no columns given in command col");
  reader.word.clear();
}

// The records of a data file of named columns (.csv, .sav, ...): read as the record format
// reads them, all of the file's records unless `rec` gives their number.
void ReadColumnData(Reader& reader, DataRun& run, TabularKind kind) {
  const Settings& settings = run.settings;
  const std::string path = run.FilePrefix + settings.data_file;
  // Only the columns a record reads: those of col, or those named by the manifest labels.
  std::vector<std::string> wanted = settings.data_columns;
  if (wanted.empty()) {
    for (int k = 0; k < std::clamp(run.model.ManifestCount, 0, kVectorSize); ++k) {
      wanted.push_back(run.model.VariableLabel[run.model.FirstManifest() + k]);
    }
  }
  RecordColumns columns = ColumnsToRecords(ReadTabularFile(path, settings.data_file, kind, wanted),
                                           settings.data_columns, run, settings.data_file);
  EventHistoryState& history = run.history;
  if (!history.RecordFormat) {
    // As `rec` with the file's number of records would have it.
    history.PerRecordOutput = !history.HazardModel && run.model.CovariateCount <= 0;
    history.RecordFormat = true;
    history.MissingCode = 0;
  }
  if (columns.records > 2147483647) StopRun("  Error: impossible number of records in command rec");
  history.RecordCount = static_cast<std::int32_t>(columns.records);
  ReadRecordColumns(reader, run, columns);
}

void ParseDesigns(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  const std::string& command = c.command;
  PassState& pass = c.pass;
  bool inline_designs = false;
  const std::string written = WithoutBracket(command, inline_designs);
  const int count = UserDesignCount(run);
  if (count == 0) {
    StopRun("  Error: command \"" + written + "\" without user defined designs");
  }
  std::string operand;
  if (!inline_designs) {
    operand = ReadFileName(reader.input);
    inline_designs = operand == "[";
  }
  if (inline_designs) {
    reader.word.clear();
    ReadDesigns(reader, run, reader.input);
    run.designs.designs_given_inline = count;
    ExpectClosingBracket(reader, reader.input, "  Error: a \"]\" expected in command \"des\"");
    pass.design_named = false;
    run.settings.design_file.clear();
  } else {
    if (NotAName(operand)) StopRun("  Error: file with design matrix not specified");
    pass.design_named = true;
    run.settings.design_file = operand;
  }
}

void ParseSeed(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  const std::string& command = c.command;
  const double seed = std::fabs(ReadReal(reader, run, reader.input));
  if (!std::isfinite(seed)) StopRun("  Error: impossible value in command " + command);
  run.settings.random_seed = seed <= kExactSeedLimit ? seed : std::fmod(seed, kGeneratorModulus);
  run.settings.random_amplitude = SeedAmplitude(seed);
}

void ParseNewton(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  if (NewtonUnavailable(run.model)) {
    StopRun("  Error: Newton-type algorithms not available for this type of model");
  }
  Settings& settings = run.settings;
  settings.newton_start_iteration = ReadReal(reader, run, reader.input);
  // Iterations are counted from 0: a switch before the first has no meaning.
  if (!(settings.newton_start_iteration >= 0) || !std::isfinite(settings.newton_start_iteration)) {
    StopRun("  Error: impossible value in command new");
  }
  const std::int32_t code = ReadInteger(reader, run, reader.input);
  if (code < 1 || code > 6) StopRun("  Error: impossible value in command new");
  if (code <= 4) {
    settings.newton_algorithm = static_cast<NewtonAlgorithm>(code);
  } else {
    // 5 and 6 are 1 and 4 with Levenberg-Marquardt damping.
    settings.newton_algorithm =
        code == 5 ? NewtonAlgorithm::kNewtonRaphson : NewtonAlgorithm::kNewtonRaphsonWithEm;
    settings.newton_lambda = 1;
  }
}

void ParseDummyCoding(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  const ModelState& model = run.model;
  Settings& settings = run.settings;
  const auto read_reference = [&](int categories) {
    const std::int32_t reference = ReadInteger(reader, run, reader.input);
    if (reference < -1 || reference > categories) {
      StopRun("  Error: impossible reference category for dummy coding");
    }
    return reference;
  };
  const int count =
      std::clamp(model.VariableCount - (model.CovariateCount > 0 ? 1 : 0), 0, kMaxVariables);
  for (int v = 0; v < count; ++v) settings.dummy_reference[v] = read_reference(model.Dimension[v]);
  if (run.history.HazardModel && run.history.TimePointCount > 1 &&
      model.VariableCount < static_cast<int>(settings.dummy_reference.size())) {
    settings.dummy_reference[model.VariableCount] = read_reference(run.history.TimePointCount);
  }
  settings.dummy_coding = true;
}

void ParseMarginalRequest(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  Settings& settings = run.settings;
  if (static_cast<int>(settings.marginal_requests.size()) >= kMaxMarginalRequests) {
    StopRun("  Error: more then " + std::to_string(kMaxMarginalRequests) +
            " marginal tables specified to print");
  }
  const std::string variables = ReadWord(reader.input);
  if (NotAName(variables)) StopRun("  Error in command wma");
  MarginalRequest request;
  reader.word = variables;
  ParseTerm(reader, run.model, variables, request.variables,
            std::clamp(run.model.VariableCount, 0, kVectorSize), false);
  request.file = ReadFileName(reader.input);
  if (NotAName(request.file)) {
    StopRun("  Error: file to write estimated marginal frequencies not specified");
  }
  settings.marginal_requests.push_back(std::move(request));
}

void ParseSimulation(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  Settings& settings = run.settings;
  // The number of records (or, negative, the total of the expected data): a 32-bit count, and
  // data of size 0 are none.
  const double count = std::round(ReadReal(reader, run, reader.input));
  if (count == 0 || !(std::fabs(count) <= kInt32Max)) {
    StopRun("  Error: impossible value in command sim");
  }
  settings.simulate_count = static_cast<std::int32_t>(count);
  const std::string file = ReadFileName(reader.input);
  if (NotAName(file)) StopRun("  Error: file to write simulated data not specified");
  settings.simulate_file = file;
}

void ParseUserScores(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  Settings& settings = run.settings;
  settings.user_scores_given = true;
  settings.user_scores.assign(
      static_cast<std::size_t>(CheckedRealCount(run, std::max(run.model.assoc_score_count, 0))),
      0.0);
  for (double& score : settings.user_scores) score = ReadReal(reader, run, reader.input);
}

// `sta` and `sth`.
void ParseStartValues(SettingsCommand& c) { ParseStartValues(c.reader, c.run, false); }
void ParseHazardStartValues(SettingsCommand& c) { ParseStartValues(c.reader, c.run, true); }

// The result files: a file name.
void ParseResultFile(SettingsCommand& c) {
  const std::string name = ReadFileName(c.reader.input);
  if (NotAName(name)) StopRun(c.operand.message);
  c.run.settings.*c.operand.file = name;
}

// The output switches: a report section left out.
void ParseSwitch(SettingsCommand& c) { c.run.settings.*c.operand.flag = false; }

// `npa` leaves out the standard errors with the parameters.
void ParseNoParameters(SettingsCommand& c) {
  ParseSwitch(c);
  c.run.settings.show_std_errors = false;
}

// The real-valued settings, each with the values that have a meaning for it. Step sizes divide
// parameter changes: a divisor of 0 or below would make every step infinite. A negative number
// of iterations or of inner passes would leave the model unfitted while the report shows it as
// a fit (ite 0 is the model at its start values); the M-step cycles of an iteration are
// counted whole, from 1. The convergence criterion may be 0 or below: the iterations then run
// to `ite`.
bool AnyFinite(double value) { return std::isfinite(value); }
bool Positive(double value) { return std::isfinite(value) && value > 0; }
bool NotNegative(double value) { return std::isfinite(value) && value >= 0; }
bool AtLeastOne(double value) { return std::isfinite(value) && value >= 1; }
bool WholeFromOne(double value) { return AtLeastOne(value) && value == std::floor(value); }

void ParseRealSetting(SettingsCommand& c) {
  const double value = ReadReal(c.reader, c.run, c.reader.input);
  if (!c.operand.possible(value)) StopRun("  Error: impossible value in command " + c.command);
  c.run.settings.*c.operand.value = value;
}

void ParseCases(SettingsCommand& c) { c.pass.cases = ReadReal(c.reader, c.run, c.reader.input); }

void ParseAddedConstant(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  if (run.history.RecordFormat) StopRun("  Error: \"add\" cannot be used with record format input");
  if (run.data.data_given) StopRun("  Error: \"add\" must be specified before \"dat\"");
  run.settings.added_constant = ReadReal(reader, run, reader.input);
}

// The memory budget in megabytes, for the arrays allocated after it (so before dat).
void ParseMemoryBudget(SettingsCommand& c) {
  Reader& reader = c.reader;
  DataRun& run = c.run;
  const int megabytes = ReadInteger(reader, run, reader.input);
  if (megabytes < 1) StopRun("  Error: impossible value in command " + c.command);
  run.settings.memory_megabytes = megabytes;
  run.memory_budget =
      std::min(static_cast<std::int64_t>(megabytes) << 20, run.largest_memory_budget);
}

// `acc` takes no value: it asks for the accelerated EM iterations, which the estimation applies
// where the model allows them (and otherwise leaves plain with a warning).
void ParseAcceleration(SettingsCommand& c) { c.run.settings.accelerate_em = true; }

// 0 asks for the hardware concurrency; more threads than a machine could hold are refused.
void ParseThreads(SettingsCommand& c) {
  const int threads = ReadInteger(c.reader, c.run, c.reader.input);
  if (threads < 0 || threads > kMaxThreads) {
    StopRun("  Error: impossible value in command " + c.command);
  }
  c.run.settings.threads = threads;
}

void ParseRandomStarts(SettingsCommand& c) {
  const int starts = ReadInteger(c.reader, c.run, c.reader.input);
  if (starts < 1 || starts > kMaxRandomStarts) {
    StopRun("  Error: impossible value in command " + c.command);
  }
  c.run.settings.random_starts = starts;
}

// `st3`; 0: the step of the restrictions is never halved.
void ParseStepInterval(SettingsCommand& c) {
  const int interval = ReadInteger(c.reader, c.run, c.reader.input);
  if (interval < 0) StopRun("  Error: impossible value in command " + c.command);
  c.run.settings.restriction_step_interval = interval;
}

void ParseScoreScaling(SettingsCommand& c) {
  const std::int32_t scaling = ReadInteger(c.reader, c.run, c.reader.input);
  if (scaling < 1 || scaling > 6) StopRun("  Error: impossible value in command " + c.command);
  c.run.settings.score_scaling = scaling;
}

// The commands that the earlier sections read in their fixed order.
void InEarlierSection(SettingsCommand& c) {
  StopRun("  Error: command " + c.command + " not allowed at this place");
}

// One row of the command list as the settings section dispatches it.
struct SettingsRow {
  std::string_view name;
  void (*parse)(SettingsCommand&);
  Operand operand;
};

constexpr SettingsRow kSettingsRows[] = {
#define TAV_NONE \
  Operand {}
#define TAV_FILE(member, text) \
  Operand { .file = &Settings::member, .message = text }
#define TAV_SWITCH(member) \
  Operand { .flag = &Settings::member }
#define TAV_REAL(member, check) \
  Operand { .value = &Settings::member, .possible = check }
#define TAV_HANDLER_kModel(handler) InEarlierSection
#define TAV_HANDLER_kEventHistory(handler) InEarlierSection
#define TAV_HANDLER_kRecordFormat(handler) InEarlierSection
#define TAV_HANDLER_kSettings(handler) handler
#define TAV_HANDLER_kNone(handler) InEarlierSection
#define TAV_COMMAND(word, section, listed, role, handler, operand) \
  {word, TAV_HANDLER_##section(handler), operand},
#include "input/commands.def"
#undef TAV_COMMAND
#undef TAV_HANDLER_kNone
#undef TAV_HANDLER_kSettings
#undef TAV_HANDLER_kRecordFormat
#undef TAV_HANDLER_kEventHistory
#undef TAV_HANDLER_kModel
#undef TAV_REAL
#undef TAV_SWITCH
#undef TAV_FILE
#undef TAV_NONE
};

// The row of the command word, or nullptr when it names no command.
const SettingsRow* FindSettingsRow(const std::string& command) {
  const std::string key = CommandKey(command);
  for (const SettingsRow& row : kSettingsRows) {
    if (row.name == key) return &row;
  }
  return nullptr;
}

// The checks and reading after the last command: the data file, the simulation set-up, the
// number of cases, the designs, and the result-file names.
void FinishSettings(Reader& reader, DataRun& run, const PassState& pass) {
  Settings& settings = run.settings;
  const bool simulation = !settings.simulate_file.empty();
  // A simulation reads data only for the values of the continuous covariates, which the model
  // needs record by record.
  const bool covariate_values = simulation && run.model.CovariateCount > 0;
  if (!pass.data_inline && (!simulation || covariate_values)) {
    if (!run.data.data_given) {
      StopRun(covariate_values ? "  Error: no data specified (simulated data take the values of "
                                 "the continuous covariates from the records)"
                               : "  Error: no data specified");
    }
    const TabularKind kind = TabularKindOf(settings.data_file);
    if (kind != TabularKind::kNone) {
      ReadColumnData(reader, run, kind);
    } else {
      if (!settings.data_columns.empty()) StopRun(kColumnsWithoutFile);
      OpenTextFile(run, run.DataFile, settings.data_file, "r");
      ReadData(reader, run, run.DataFile, false);
      run.DataFile.Close();
    }
  } else if (pass.data_inline && !settings.data_columns.empty()) {
    StopRun(kColumnsWithoutFile);
  }
  if (simulation) {
    // The model is evaluated at its start values, with a total of 1, and no data of the input
    // reach the estimation: they are not the data of this run.
    DataStore& data = run.data;
    data.ClearEntries();
    data.entry_categories.clear();
    data.subgroup_total.assign(data.subgroup_total.size(), 0.0);
    data.total_count = 1;
    if (!covariate_values) run.history.RecordCount = 0;
    for (Submodel& submodel : run.model.submodels) submodel.random_start = false;
    settings.max_iterations = 0;
    settings.show_std_errors = false;
  }
  if (pass.cases != -1 && std::fabs(pass.cases - run.data.total_count) > 1e-5) {
    StopRun("  Error: number of cases is wrong (" + FormatReal(0, 2, run.data.total_count) +
            " and not " + FormatReal(0, 2, pass.cases) + ")");
  }
  if (!run.designs.read) {
    const int needed = UserDesignCount(run) - run.designs.designs_given_inline;
    TextFile& file = run.DataFile;
    if (needed > 0) {
      if (!pass.design_named) StopRun("  Error: no design matrix specified");
      OpenTextFile(run, file, settings.design_file, "r");
    }
    ReadDesigns(reader, run, file.IsOpen() ? file : reader.input);
    file.Close();
  }
  CheckResultFiles(run);
}

}  // namespace

bool NewtonUnavailable(const ModelState& model, bool with_mar, bool with_assoc) {
  const bool mar = with_mar && model.AnyMar;
  if (model.AnyLinLog || mar || (with_assoc && model.assoc_score_count > 0)) return true;
  for (const Submodel& submodel : model.submodels) {
    if (submodel.HasRestrictedCells()) return true;
    if ((with_assoc && submodel.AssocCount() > 0) || submodel.LinLogSubmodel ||
        (with_mar && submodel.MarSubmodel != MarRestrictions::kNone)) {
      return true;
    }
    for (const Design& design : submodel.designs) {
      if (!design.IsRestriction() && design.interaction == DesignInteraction::kB) return true;
    }
  }
  return false;
}

std::vector<double> NormalStartValues(std::int64_t m, int type, double range) {
  std::vector<double> values(static_cast<std::size_t>(std::max<std::int64_t>(m, 0)));
  if (m <= 0) return values;
  if (m == 1) {
    values[0] = 1;
    return values;
  }
  // A negative range would reverse the intervals and give negative probabilities.
  range = std::fabs(range);
  const double step = range / static_cast<double>(m - 1);
  const double scale = static_cast<double>(m);
  if (type == 1) {
    double sum = 0;
    for (std::int64_t k = 0; k < m; ++k) {
      values[k] = NormalDensity(-range / 2 + static_cast<double>(k) * step);
      sum += values[k];
    }
    // Points so far out that every density vanishes: the limit of the weights is uniform.
    if (!(sum > 0) || !std::isfinite(sum)) {
      std::fill(values.begin(), values.end(), 1.0);
      return values;
    }
    for (double& value : values) value = value / sum * scale;
    return values;
  }
  const auto cut = [&](std::int64_t j) {
    return NormalCdf(-range / 2 + step / 2 + static_cast<double>(j) * step);
  };
  values[0] = cut(0);
  for (std::int64_t k = 1; k + 1 < m; ++k) values[k] = cut(k) - cut(k - 1);
  values[m - 1] = 1 - cut(m - 2);
  for (double& value : values) value *= scale;
  return values;
}

void SetSettingDefaults(DataRun& run) {
  const ModelState& model = run.model;
  Settings& settings = run.settings;
  settings = Settings{};
  run.designs = DesignStore{};

  if (model.AnyLinLog || model.AnyMar) settings.convergence_criterion = 1e-8;
  settings.restriction_step_min = model.AnyLinLog ? 2.0 : 1.0;
  settings.dummy_reference.fill(-1);
  if (run.history.HazardModel && run.history.TimePointCount > 1 && model.VariableCount >= 0 &&
      model.VariableCount < static_cast<int>(settings.dummy_reference.size())) {
    settings.dummy_reference[model.VariableCount] = 0;
  }
  // The cumulative model i marks the special model type, which has no frequency table.
  const bool covariate = model.CovariateCount > 0;
  settings.show_frequencies = !covariate && !model.CumulativeI;
  settings.show_latent = !covariate && !model.CumulativeI;
  const bool first_fixed = !model.submodels.empty() && model.submodels[0].IsSaturatedFixed();
  settings.include_first_submodel = !covariate && !first_fixed;
  settings.show_std_errors = !NewtonUnavailable(model, false, false) &&
                             !(model.AnyMar && (model.ResCount > 0 || model.LatentCount > 0));
  settings.show_zero_cells = TableCellCount(model) <= 1000;
}

void ParseSettings(Reader& reader, DataRun& run) {
  SetSettingDefaults(run);
  PassState pass;
  while (!reader.command.empty()) {
    const std::string command = reader.command;
    const SettingsRow* row = FindSettingsRow(command);
    if (row == nullptr) StopRun("  Error: command " + command + " does not exist");
    SettingsCommand handled{reader, run, command, pass, row->operand};
    row->parse(handled);
    reader.command = ReadWord(reader.input);
  }
  FinishSettings(reader, run, pass);
}

}  // namespace tav
