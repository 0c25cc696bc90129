#include "core/model_state.h"

#include <algorithm>

#include "core/stop_run.h"

namespace tav {
namespace {

template <typename T>
T& AddToList(std::vector<T>& list, int index, const char* message) {
  if (index > kMaxListIndex || index < 0) StopRun(message);
  if (static_cast<int>(list.size()) <= index) list.resize(index + 1);
  return list[index];
}

}  // namespace

std::vector<int> SubmodelsSharingCells(const ModelState& model, int t) {
  std::vector<int> sharing;
  for (int r = 0; r < model.SubmodelCount; ++r) {
    if (r == t || (model.submodels[r].IsTied() && model.submodels[r].tied_to == t)) {
      sharing.push_back(r);
    }
  }
  return sharing;
}

void CheckVariableCount(int n, bool with_covariate) {
  if (n > kMaxVariables || (with_covariate && n + 1 > kMaxVariables)) {
    StopRun("  Error: more than the maximum number of variables");
  }
}

void NewSubgroupPatterns(ModelState& model) {
  if (model.SubgroupCount > kMaxSubgroups) {
    StopRun("  Error: too many subgroups (or nonresponse patterns)");
  }
  model.SubgroupPattern.assign(model.SubgroupCount, Membership{});
}

Submodel& NewSubmodel(ModelState& model, int index) {
  if (index > kMaxListIndex || index < 0) StopRun("  Error: too many submodels");
  if (static_cast<int>(model.submodels.size()) <= index) model.submodels.resize(index + 1);
  Submodel& submodel = model.submodels[index];
  submodel = Submodel{};
  return submodel;
}

Membership& NewEffect(Submodel& submodel, int index) {
  return AddToList(submodel.EffectVariables, index, "  Error: too many log-linear effects");
}

Design& NewDesign(Submodel& submodel, int index) {
  return AddToList(submodel.designs, index,
                   "  Error: too many user defined or prespecified designs");
}

AssocEffect& NewRowColumnEffect(Submodel& submodel, int index) {
  return AddToList(submodel.assoc, index, "  Error: too many row and column effects");
}

int NextSubmodel(const ModelState& model, int b) {
  const int s = model.SubmodelCount;
  if (b < s - 1) return b + 1;
  if (b == s - 1) return model.HasAllSubmodel ? s + 1 : s;
  if (b == s + 1) return s;
  return s + 2;
}

std::vector<int> CellCategories(const ModelState& model, const std::vector<int>& vars,
                                std::int64_t cell) {
  std::vector<int> category(vars.size(), 0);
  for (int k = static_cast<int>(vars.size()) - 1; k >= 0; --k) {
    const int dim = std::max(model.Dimension[vars[k]], 1);
    category[k] = static_cast<int>(cell % dim);
    cell /= dim;
  }
  return category;
}

std::vector<int> SubmodelVariableList(const ModelState& model, int index) {
  std::vector<int> variables;
  if (index < 0 || index >= static_cast<int>(model.submodels.size())) return variables;
  const Membership& marks = model.submodels[index].SubmodelVariables;
  for (int v = 0; v < kVectorSize; ++v) {
    if (marks[v] != 0) variables.push_back(v);
  }
  return variables;
}

std::string TermText(const ModelState& model, const Membership& vector, int selection) {
  std::string text;
  bool first = true;
  // The time and risk variables of a hazard model follow the declared ones.
  for (int v = 0; v < kVectorSize; ++v) {
    const int mark = vector[v];
    if (mark == 0 || (selection != 0 && mark != selection)) continue;
    if (!first && model.LongLabels) text += '.';
    text += model.VariableLabel[v];
    first = false;
  }
  if (text.size() > 80) text.resize(80);
  return text;
}

}  // namespace tav
