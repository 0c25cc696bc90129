// The family registry: the availability check, the cycle and the parameter count go through
// the families a run uses.

#include "estimation/model_family.h"

#include <gtest/gtest.h>

#include "estimation/estimate.h"
#include "estimation/families/families.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::StopMessageOrEmpty;
using testing::TempDir;

// What a new family that is not built yet looks like: its accessor in a file of its own...
const ModelFamily& RowEffectsFamily() {
  static const NotBuiltFamily family(
      "row effects", "estimation of row effects is", [](const EstimationRun& run, int r) {
        const Submodel* submodel = SubmodelAt(run.model, r);
        return submodel != nullptr && submodel->SubmodelVarCount >= 3;
      });
  return family;
}

std::string FitWith(const FamilyList* families, const std::string& text) {
  TempDir dir;
  RunState run;
  std::string message = ParseText(run, text, dir);
  if (!message.empty()) return message;
  run.families = families;
  return StopMessageOrEmpty([&run] { CheckEstimationAvailable(run); });
}

TEST(FamilyRegistry, AStubFamilyTakesOneFileAndOneRegistryLine) {
  FamilyList families = ModelFamilies();
  families.push_back(&RowEffectsFamily());  // ... and its line in the registry
  const std::string three_way = "man 3 dim 2 2 2 mod {AB,C} dat [ 1 2 3 4 5 6 7 8 ]";
  EXPECT_EQ(FitWith(nullptr, three_way), "");
  EXPECT_EQ(FitWith(&families, three_way),
            "  Error: estimation of row effects is not available in this version");
  EXPECT_EQ(FitWith(&families, "man 2 dim 2 2 mod {A,B} dat [ 1 2 3 4 ]"), "");
}

TEST(FamilyRegistry, FamiliesNotBuiltYetStopTheRunAtOnce) {
  const std::string not_available = " not available in this version";
  EXPECT_EQ(FitWith(nullptr,
                    "man 2 dim 3 3 mod {A,B,ass(A B 2a),lin(AB a 1)} des [ 1 0 0 0 1 0 0 0 -1 ] "
                    "dat [ 1 2 3 4 5 6 7 8 9 ]"),
            "  Error: association models beside lin() and log() restrictions are" + not_available);
  EXPECT_EQ(FitWith(nullptr,
                    "man 2 dim 2 2 mod {lin(AB 1),cov(AB 1)} des [ 1 0 0 0 1 2 3 4 ] "
                    "dat [ 1 2 3 4 ]"),
            "  Error: design effects beside lin() and log() restrictions are" + not_available);
  // Result files the model cannot give stop the run rather than leave a stale file looking
  // current.
  EXPECT_EQ(FitWith(nullptr, "man 2 dim 2 2 mod {A,B} dat [ 1 2 3 4 ] wha h.txt"),
            "  Error: command wha needs an event history model (haz)");
}

}  // namespace
}  // namespace tav
