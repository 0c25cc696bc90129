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

const FamilyList& FamiliesOf(const EstimationRun& run) {
  return run.families != nullptr ? *run.families : ModelFamilies();
}

std::int64_t CountSubmodelParameters(const EstimationRun& run, int t) {
  std::int64_t count = 0;
  for (const ModelFamily* family : FamiliesOf(run)) count += family->ParameterCount(run, t);
  return count;
}

}  // namespace tav
