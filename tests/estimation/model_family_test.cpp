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
  ProgramRun run;
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
  // Result files the model cannot give stop the run rather than leave a stale file looking
  // current.
  EXPECT_EQ(FitWith(nullptr, "man 2 dim 2 2 mod {A,B} dat [ 1 2 3 4 ] wha h.txt"),
            "  Error: command wha needs an event history model (haz)");
}

// Combinations whose parameters would not be identified, or which the M-step has no table for,
// are refused with the reason.
TEST(FamilyRegistry, CombinationsWithoutASoundEstimateAreRefusedWithTheReason) {
  auto refused = [](const std::string& text, const std::string& start) {
    const std::string message = FitWith(nullptr, text);
    EXPECT_EQ(message.substr(0, start.size()), start) << text;
    EXPECT_NE(message.find(": "), std::string::npos) << message;
    EXPECT_LE(message.size(), 255u);
  };
  const std::string dat = " dat [ 1 2 3 4 5 6 7 8 9 ]";
  refused("man 2 dim 3 3 mod {A,B,ass(A B 2a),lin(AB a 1)} des [ 1 0 0 0 1 0 0 0 -1 ]" + dat,
          "  Error: association models (ass) are not possible beside lin() or log()");
  refused("man 2 dim 3 3 mod {mar(A B a 2),ass(A B 2a)} des [1 0 0 0 1 0 -1 0 0 0 -1 0]" + dat,
          "  Error: association models (ass) are not possible beside mar() restrictions alone");
  refused("man 2 dim 3 3 mod A B|A cum(a) {ass(A B 2a)}" + dat,
          "  Error: association models (ass) are not possible in a cumulative submodel");
  refused("man 2 dim 2 2 lab A B mod {lin(AB 1),cov(AB 1)} des [ 1 0 0 0 1 2 3 4 ]" +
              std::string(" dat [ 1 2 3 4 ]"),
          "  Error: design effects are not possible beside lin() or log() restrictions of "
          "subtable AB");
  // `all` aims its items at the subtable AB: its lin() makes AB a restricted subtable.
  refused(
      "man 2 dim 3 3 lab A B mod A B|A all {cov(AB 1), lin(AB a 1)} "
      "des [ 1 2 3 4 5 6 7 8 9  1 0 0 -1 0 0 0 0 0 ]" +
          dat,
      "  Error: design effects in all are not possible aimed at subtable B|A");
  // In discrete time a term of the hazard part must contrast the risks.
  const std::string records = " rec 2 dat [1 1 1\n2 2 0]";
  refused("man 1 dim 2 lab A mod {A} dis tim 2 haz A {A.R, R, ass(A T 2a)}" + records,
          "  Error: association models (ass) in a discrete-time haz need the risk variable R");
  EXPECT_EQ(
      FitWith(nullptr, "man 1 dim 2 lab A mod {A} dis tim 2 haz A {A.R, R, ass(T R 2a)}" + records),
      "");
}

}  // namespace
}  // namespace tav
