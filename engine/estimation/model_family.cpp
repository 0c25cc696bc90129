#include "estimation/model_family.h"

namespace tav {

std::string ModelFamily::UnavailableConstruct(const EstimationRun&, int) const { return ""; }

std::string ModelFamily::Refusal(const EstimationRun&, int) const { return ""; }

void ModelFamily::SetUp(EstimationRun&) const {}

void ModelFamily::CheckEstimates(EstimationRun&) const {}

void ModelFamily::StartValues(EstimationRun&, int) const {}

void ModelFamily::FitSubmodel(EstimationRun&, int) const {}

void ModelFamily::FitAfterVisits(EstimationRun&) const {}

std::int64_t ModelFamily::ParameterCount(const EstimationRun&, int) const { return 0; }

void ModelFamily::ListFreeParameters(const EstimationRun&, ParameterGroup,
                                     FreeParameterList&) const {}

std::vector<ParameterBlock> ModelFamily::ParameterBlocks(const EstimationRun&, BlockPlace,
                                                         int) const {
  return {};
}

std::unique_ptr<FamilyState> ModelFamily::NewState() const { return nullptr; }

int ModelFamily::TableOf(const EstimationRun&, const FreeParameter& parameter) const {
  return parameter.submodel;
}

bool ModelFamily::CovariancesOwnStep(const EstimationRun&, int) const { return false; }

void ModelFamily::WriteCovarianceBlocks(const EstimationRun&, std::vector<double>&, int) const {}

ParameterDirection ModelFamily::DirectionOf(const EstimationRun&, const FreeParameter&) const {
  return {};
}

bool ModelFamily::Perturb(EstimationRun&, const FreeParameter&, double) const { return false; }

double ModelFamily::CurvatureStep(const EstimationRun&, const FreeParameter&, double step) const {
  return step;
}

bool ModelFamily::CentralDifferences(const EstimationRun&, const FreeParameter&) const {
  return false;
}

void ModelFamily::AddSubmodelValues(const EstimationRun&, int, SubmodelValues&) const {}

TableForm ModelFamily::FormOfTable(const EstimationRun&, int, ParameterDirection::Kind) const {
  return TableForm::kNotOwned;
}

void ModelFamily::LinkedScores(const EstimationRun&, int,
                               const std::vector<const std::vector<double>*>&,
                               std::vector<double>&) const {}

void ModelFamily::LinkedInformation(const EstimationRun&, int,
                                    const std::vector<const std::vector<double>*>&, const double*,
                                    std::vector<double>&) const {}

std::unique_ptr<PatternPart> ModelFamily::NewPatternPart(const EstimationRun&, int,
                                                         std::vector<std::vector<double>>) const {
  return nullptr;
}

std::int64_t ModelFamily::PatternSumSize(const EstimationRun&) const { return 0; }

double ModelFamily::PatternWorkSize(const EstimationRun&) const { return 0; }

bool ModelFamily::FactorsCompletions(const EstimationRun&) const { return false; }

TableForm TableFormOf(const EstimationRun& run, int t, ParameterDirection::Kind kind) {
  for (const ModelFamily* family : FamiliesOf(run)) {
    const TableForm form = family->FormOfTable(run, t, kind);
    if (form != TableForm::kNotOwned) return form;
  }
  return TableForm::kUncovered;
}

const ModelFamily* TableFamily(const EstimationRun& run, int t) {
  for (const ModelFamily* family : FamiliesOf(run)) {
    if (family->FormOfTable(run, t, ParameterDirection::Kind::kCells) != TableForm::kNotOwned) {
      return family;
    }
  }
  return nullptr;
}

bool AnyCompletionFactors(const EstimationRun& run) {
  for (const ModelFamily* family : FamiliesOf(run)) {
    if (family->FactorsCompletions(run)) return true;
  }
  return false;
}

int FamilyPlace(const EstimationRun& run, const ModelFamily& family) {
  const FamilyList& families = FamiliesOf(run);
  for (std::size_t i = 0; i < families.size(); ++i) {
    if (families[i] == &family) return static_cast<int>(i);
  }
  return -1;
}

void MakeFamilyStates(EstimationRun& run) {
  const FamilyList& families = FamiliesOf(run);
  FamilyStates& states = run.estimation.family_states;
  for (std::size_t place = 0; place < families.size(); ++place) {
    const int at = static_cast<int>(place);
    if (states.At(at) != nullptr) continue;
    std::unique_ptr<FamilyState> state = families[place]->NewState();
    if (state != nullptr) states.Set(at, std::move(state));
  }
}

const ModelFamily& FamilyOf(const EstimationRun& run, const FreeParameter& parameter) {
  const FamilyList& families = FamiliesOf(run);
  if (parameter.family < 0 || parameter.family >= static_cast<int>(families.size())) {
    StopRun("  Error: free parameter of an unknown model family");
  }
  return *families[parameter.family];
}

bool CovariancesFromOwnStep(const EstimationRun& run, const FreeParameter& parameter) {
  const int table = FamilyOf(run, parameter).TableOf(run, parameter);
  if (table < 0) return false;
  for (const ModelFamily* family : FamiliesOf(run)) {
    if (family->CovariancesOwnStep(run, table)) return true;
  }
  return false;
}

bool AnyCovariancesOwnStep(const EstimationRun& run) {
  for (const ModelFamily* family : FamiliesOf(run)) {
    if (family->CovariancesOwnStep(run, -1)) return true;
  }
  return false;
}

const FamilyList& FamiliesOf(const EstimationRun& run) {
  return run.families != nullptr ? *run.families : ModelFamilies();
}

std::int64_t CountSubmodelParameters(const EstimationRun& run, int t) {
  std::int64_t count = 0;
  for (const ModelFamily* family : FamiliesOf(run)) count += family->ParameterCount(run, t);
  return count;
}

}  // namespace tav
