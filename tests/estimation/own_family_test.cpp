// A model family added from outside the engine: one file (this one) and one line in the family
// list. Its working state lives in the fit, and the Newton-type iterations and the standard
// errors take its parameter through the family's hooks alone.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/elementary.h"
#include "estimation/e_step.h"
#include "estimation/free_parameters.h"
#include "estimation/model_family.h"
#include "estimation/submodel_form.h"
#include "newton/newton_iteration.h"
#include "newton/parameter_effects.h"
#include "newton/score.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::StopMessageOrEmpty;
using testing::TempDir;

// The family's state: the scores u_i v_j of the cells of the first submodel (two variables,
// the second fastest, both scored 1, 2, ...), the place of its multiplier exp(theta) in the
// shared vector of multiplicative parameters, and how often the Newton code moved it.
struct LinearByLinearState : CopyableFamilyState<LinearByLinearState> {
  std::vector<double> x;
  std::int64_t offset = -1;
  int moves = 0;
};

// Linear-by-linear association of the two variables of the first submodel: theta u_i v_j added
// to the log of every cell. It has no M-step of its own: only the Newton-type iterations move
// it, along its direction x.
class LinearByLinear : public ModelFamily {
 public:
  std::string_view Name() const override { return "linear-by-linear"; }

  std::unique_ptr<FamilyState> NewState() const override {
    return std::make_unique<LinearByLinearState>();
  }

  void SetUp(EstimationRun& run) const override {
    LinearByLinearState& state = StateOf<LinearByLinearState>(run, *this);
    const int columns = run.model.Dimension[1];
    const auto cells = static_cast<std::int64_t>(run.model.submodels[0].cell_count);
    state.x.resize(cells);
    for (std::int64_t c = 0; c < cells; ++c) {
      state.x[c] = static_cast<double>((c / columns + 1) * (c % columns + 1));
    }
    state.offset = static_cast<std::int64_t>(run.estimation.Multipliers.size());
    run.estimation.Multipliers.push_back(1.0);
  }

  std::int64_t ParameterCount(const EstimationRun&, int t) const override { return t == 0; }

  void ListFreeParameters(const EstimationRun&, ParameterGroup group,
                          FreeParameterList& list) const override {
    if (group != ParameterGroup::kSpecialEffects) return;
    FreeParameter theta;
    theta.submodel = 0;
    list.AddEffect(theta, 1);
  }

  ParameterDirection DirectionOf(const EstimationRun& run, const FreeParameter&) const override {
    ParameterDirection direction;
    direction.kind = ParameterDirection::Kind::kCells;
    direction.table = 0;
    direction.x = StateOf<LinearByLinearState>(run, *this).x;
    return direction;
  }

  bool Perturb(EstimationRun& run, const FreeParameter&, double delta) const override {
    LinearByLinearState& state = StateOf<LinearByLinearState>(run, *this);
    ++state.moves;
    double* fitted = run.estimation.FittedTable.data();
    const double total = SubmodelTotal(run, 0, fitted);
    for (std::size_t c = 0; c < state.x.size(); ++c) fitted[c] *= Exp(delta * state.x[c]);
    RestoreSubmodelForm(run, 0, fitted, total);
    run.estimation.Multipliers[state.offset] *= Exp(delta);
    return true;
  }

  void AddSubmodelValues(const EstimationRun& run, int r, SubmodelValues& values) const override {
    if (r == 0) values.ranges.emplace_back(StateOf<LinearByLinearState>(run, *this).offset, 1);
  }
};

const ModelFamily& LinearByLinearFamily() {
  static const LinearByLinear family;
  return family;
}

// The families of this version and, in the line below, the new one.
const FamilyList& WithLinearByLinear() {
  static const FamilyList families = [] {
    FamilyList list = ModelFamilies();
    list.push_back(&LinearByLinearFamily());
    return list;
  }();
  return families;
}

const LinearByLinearState& State(const RunState& run) {
  return StateOf<LinearByLinearState>(run, LinearByLinearFamily());
}

// A 3 x 3 table whose independence model leaves an association of the scores 1, 2, 3.
const std::string kTable = "man 2 dim 3 3 lab A B mod {A,B} dat [ 30 15 10  20 25 15  10 20 35 ]\n";

std::string Fit(ProgramRun& run, const TempDir& dir, const std::string& text) {
  const std::string message = ParseText(run, text, dir);
  if (!message.empty()) return message;
  run.families = &WithLinearByLinear();
  return StopMessageOrEmpty([&run] { FitModel(run); });
}

// Proportional fitting leaves theta at 0, the independence fit F = n_i. n_.j / N. There the
// score of theta is sum u_i v_j (n_ij - F_ij) = 785 - 740 = 45, and its diagonal entry of the
// information sum F x^2 - (sum F x)^2 / N = 12320 / 3 - 740^2 / 180 = 9580 / 9 (the table
// being one block).
TEST(OwnFamily, ItsDirectionGivesItsScoreAndInformation) {
  TempDir dir;
  ProgramRun run;
  ASSERT_EQ(Fit(run, dir, kTable), "");
  const LinearByLinearState& state = State(run);
  EXPECT_EQ(run.estimation.Multipliers[state.offset], 1.0);
  BuildParameterList(run);
  PrepareParameterEffects(run);
  const int n = run.estimation.free_parameters.Count();
  ASSERT_EQ(n, 5);  // A and B, two each, then theta
  EXPECT_EQ(run.estimation.free_parameters.parameters[4].family,
            FamilyPlace(run, LinearByLinearFamily()));
  ASSERT_TRUE(ScoreAvailable(run));
  EXPECT_NEAR(ComputeScore(run)[4], 45.0, 1e-5);
  std::vector<double> information;
  ScoreInformation(run, information);
  EXPECT_NEAR(information[4 * n + 4], 9580.0 / 9, 1e-5);

  // The fit's state is its own: a copy of the fit's states copies it.
  FamilyStates copy = run.estimation.family_states;
  auto* copied =
      dynamic_cast<LinearByLinearState*>(copy.At(FamilyPlace(run, LinearByLinearFamily())));
  ASSERT_NE(copied, nullptr);
  EXPECT_NE(copied, &state);
  EXPECT_EQ(copied->x, state.x);
  copied->x.clear();
  EXPECT_EQ(state.x.size(), 9u);
}

// Newton-Raphson from the start moves theta with the model terms to the maximum, and the
// standard errors cover it. R: coef and vcov of glm(n ~ A + B + I(u * v), family = poisson),
// u and v the row and column numbers: theta 0.62379805456231, standard error 0.130074234165142.
TEST(OwnFamily, TheNewtonIterationsFitItsParameter) {
  TempDir dir;
  ProgramRun run;
  ASSERT_EQ(Fit(run, dir, kTable + "new 0 1\n"), "");
  const LinearByLinearState& state = State(run);
  EXPECT_GT(state.moves, 0);
  EXPECT_NEAR(Log(run.estimation.Multipliers[state.offset]), 0.62379805456231, 1e-6);
  ComputeStandardErrors(run, [&run] { return EvaluateModel(run); });
  ASSERT_TRUE(run.newton.std_errors_computed);
  const int n = run.estimation.free_parameters.Count();
  EXPECT_NEAR(std::sqrt(run.newton.information_matrix[4 * n + 4]), 0.130074234165142, 1e-6);
}

}  // namespace
}  // namespace tav
