#include "input/command_table.h"

namespace tav {
namespace {

using enum Section;

constexpr std::array<CommandEntry, kCommandCount> kCommands = {{
    {"res", kModel, "variables that define the subgroups"},
    {"lat", kModel, "number of latent variables"},
    {"man", kModel, "number of manifest variables"},
    {"con", kModel, "continuous covariate"},
    {"dim", kModel, "numbers of categories"},
    {"lab", kModel, "variable labels"},
    {"ind", kModel, "indicator variables"},
    {"str", kModel, "structural model"},
    {"mod", kModel, "the model"},
    {"mea", kModel, "measurement model"},
    {"all", kModel, "restrictions for all subgroups"},
    {"eq1", kModel, "equal parameters of two submodels"},
    {"eq2", kModel, "equality restrictions on probabilities"},
    {"eq3", kModel, "equality restrictions on probabilities"},
    {"or1", kModel, "ordinal restriction of the first kind"},
    {"or2", kModel, "ordinal restriction of the second kind"},
    {"cum", kModel, "cumulative model"},
    {"cor", kModel, "correspondence or association analysis"},
    {"tim", kEventHistory, "time variable"},
    {"ris", kEventHistory, "risks"},
    {"mul", kEventHistory, "multiple risks"},
    {"haz", kEventHistory, "hazard model"},
    {"zer", kEventHistory, "zero option of the hazard model"},
    {"exp", kEventHistory, "exposure time"},
    {"_we", kEventHistory, "last boundary as the number of time points"},
    {"dis", kEventHistory, "discrete time"},
    {"rec", kRecordFormat, "number of records"},
    {"rt0", kRecordFormat, "records begin with an entry time"},
    {"epi", kRecordFormat, "episodes per record"},
    {"rco", kRecordFormat, "records carry a count"},
    {"ski", kRecordFormat, "records or columns to skip"},
    {"mis", kRecordFormat, "a missing code of its own"},
    {"noc", kRecordFormat, "no per-record output"},
    {"rsu", kRecordFormat, "missing code -9753"},
    {"sim", kSettings, "simulate data"},
    {"ite", kSettings, "maximum number of iterations"},
    {"cri", kSettings, "convergence criterion"},
    {"see", kSettings, "seed of the random generator"},
    {"rst", kSettings, "number of random starts"},
    {"ste", kSettings, "step size"},
    {"mit", kSettings, "M-step cycles per iteration"},
    {"thr", kSettings, "number of threads"},
    {"mem", kSettings, "memory budget in megabytes"},
    {"sca", kSettings, "scaling of association scores"},
    {"dum", kSettings, "dummy coding"},
    {"new", kSettings, "Newton-type algorithm"},
    {"oit", kSettings, "inner iterations of restricted M-steps"},
    {"sta", kSettings, "start values"},
    {"sth", kSettings, "start values of the hazard model"},
    {"fre", kSettings, "frequencies in the input file"},
    {"dat", kSettings, "data file"},
    {"cas", kSettings, "number of cases"},
    {"des", kSettings, "design matrix file"},
    {"add", kSettings, "value added to every cell"},
    {"npa", kSettings, "no parameters and standard errors"},
    {"nec", kSettings, "no input echo"},
    {"nfr", kSettings, "no frequencies"},
    {"nla", kSettings, "no latent class output"},
    {"nlo", kSettings, "no detailed output"},
    {"nco", kSettings, "no conditional probabilities"},
    {"nfi", kSettings, "leave out the first submodel"},
    {"nR2", kSettings, "no pseudo R-squared measures"},
    {"nse", kSettings, "no standard errors"},
    {"nze", kSettings, "leave out zero cells"},
    {"ndi", kSettings, "no latent class diagnostics"},
    {"wda", kSettings, "write the data"},
    {"wma", kSettings, "write estimated marginal frequencies"},
    {"wfi", kSettings, "write estimated frequencies"},
    {"wfr", kSettings, "write (estimated) observed frequencies"},
    {"wco", kSettings, "write estimated probabilities"},
    {"wse", kSettings, "write variances, covariances and correlations"},
    {"wla", kSettings, "write latent probabilities"},
    {"wpo", kSettings, "write posterior probabilities"},
    {"wha", kSettings, "write estimated hazard rates"},
    {"wfa", kSettings, "write observed failures"},
    {"wex", kSettings, "write exposures"},
    {"wsu", kSettings, "write estimated survival probabilities"},
    {"wpa", kSettings, "write parameter estimates"},
    {"wjs", kSettings, "write the results as a JSON document"},
    {"[", kNone, "an opening bracket"},
}};

}  // namespace

const std::array<CommandEntry, kCommandCount>& CommandTable() { return kCommands; }

std::string CommandKey(std::string_view word) { return std::string(word.substr(0, 3)); }

const CommandEntry* FindCommand(std::string_view word) {
  const std::string key = CommandKey(word);
  for (const CommandEntry& entry : kCommands) {
    if (entry.name == key) return &entry;
  }
  return nullptr;
}

bool IsCommand(std::string_view word) { return FindCommand(word) != nullptr; }

bool EndsList(std::string_view word) {
  if (word.find('.') != std::string_view::npos) return false;
  return word.empty() || IsCommand(word);
}

}  // namespace tav
