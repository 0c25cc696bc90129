#include "core/model_state.h"

#include <gtest/gtest.h>

#include "core/run_context.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::StopMessage;

// Arrays obey the run's memory budget (three quarters of the machine's memory unless `mem`
// sets it); integer arrays also their count limit.
TEST(Capacity, ArraysWithinTheMemoryBudget) {
  RunContext run;
  EXPECT_GE(run.memory_budget, std::int64_t{1} << 20);
  run.memory_budget = 100'000'000;
  EXPECT_EQ(AllocRealArray(run, 12'500'000).size(), 12'500'000u);
  EXPECT_EQ(StopMessage([&] { AllocRealArray(run, 12'500'001); }),
            "  Error: problem too big to fit in memory");
  EXPECT_EQ(AllocIntArray(run, 25'000'000).size(), 25'000'000u);
  EXPECT_EQ(StopMessage([&] { AllocIntArray(run, 25'000'001); }),
            "  Error: problem too big to fit in memory");
  EXPECT_EQ(StopMessage([&] { AllocIntArray(run, 400'000'001); }),
            "  Error: array too big to fit in memory");
  EXPECT_EQ(StopMessage([&] { AllocRealArray(run, -1); }),
            "  Error: problem too big to fit in memory");
  // A budget of 200 MB holds what 100 MB did not.
  run.memory_budget = 200'000'000;
  EXPECT_EQ(AllocRealArray(run, 12'500'001).size(), 12'500'001u);
}

// The arrays a run keeps and the buffers a step reserves share the budget: a use kept again
// replaces what it kept before, and a reservation gives its room back when it ends.
TEST(Capacity, KeptAndReservedMemoryShareTheBudget) {
  RunContext run;
  run.memory_budget = 100;
  run.KeepMemory(MemoryUse::kData, 60);
  EXPECT_EQ(StopMessage([&] { run.CheckMemory(41); }), "  Error: problem too big to fit in memory");
  run.KeepMemory(MemoryUse::kData, 30);  // in place of the 60
  {
    const MemoryReservation buffers(run, 50);
    EXPECT_EQ(run.MemoryAvailable(), 20);
    EXPECT_EQ(StopMessage([&] { run.KeepMemory(MemoryUse::kModelTables, 21); }),
              "  Error: problem too big to fit in memory");
    EXPECT_EQ(StopMessage([&] { MemoryReservation more(run, 21); }),
              "  Error: problem too big to fit in memory");
  }
  EXPECT_EQ(run.MemoryAvailable(), 70);
  run.KeepMemory(MemoryUse::kModelTables, 70);
  EXPECT_EQ(run.MemoryAvailable(), 0);
}

TEST(Capacity, Variables) {
  CheckVariableCount(500, false);
  CheckVariableCount(499, true);
  EXPECT_EQ(StopMessage([] { CheckVariableCount(501, false); }),
            "  Error: more than the maximum number of variables");
  EXPECT_EQ(StopMessage([] { CheckVariableCount(500, true); }),
            "  Error: more than the maximum number of variables");
}

TEST(Capacity, Subgroups) {
  ModelState model;
  model.SubgroupCount = 256;
  NewSubgroupPatterns(model);
  EXPECT_EQ(model.SubgroupPattern.size(), 256u);
  model.SubgroupCount = 257;
  EXPECT_EQ(StopMessage([&] { NewSubgroupPatterns(model); }),
            "  Error: too many subgroups (or nonresponse patterns)");
}

TEST(Capacity, SubmodelsAndTheirLists) {
  ModelState model;
  for (int i = 0; i <= 502; ++i) EXPECT_TRUE(NewSubmodel(model, i).random_start);
  EXPECT_EQ(model.submodels.size(), 503u);
  EXPECT_EQ(StopMessage([&] { NewSubmodel(model, 503); }), "  Error: too many submodels");

  Submodel& submodel = model.submodels[0];
  for (int i = 0; i <= 502; ++i) {
    NewEffect(submodel, i);
    NewDesign(submodel, i);
    NewRowColumnEffect(submodel, i);
  }
  EXPECT_EQ(submodel.MarginCount(), 503);
  EXPECT_EQ(submodel.DesignTermCount(), 503);
  EXPECT_EQ(submodel.AssocCount(), 503);
  EXPECT_EQ(StopMessage([&] { NewEffect(submodel, 503); }), "  Error: too many log-linear effects");
  EXPECT_EQ(StopMessage([&] { NewDesign(submodel, 503); }),
            "  Error: too many user defined or prespecified designs");
  EXPECT_EQ(StopMessage([&] { NewRowColumnEffect(submodel, 503); }),
            "  Error: too many row and column effects");
}

TEST(NextSubmodel, VisitsModelThenAllThenHazard) {
  ModelState model;
  for (int i = 0; i < 3; ++i) NewSubmodel(model, i);
  model.SubmodelCount = 3;
  std::vector<int> order;
  for (int b = 0; b != 5; b = NextSubmodel(model, b)) order.push_back(b);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));

  model.HasAllSubmodel = true;
  order.clear();
  for (int b = 0; b != 5; b = NextSubmodel(model, b)) order.push_back(b);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 4, 3}));
}

TEST(TermText, JoinsLabelsOfTheSelectedMarks) {
  ModelState model;
  model.VariableCount = 3;
  model.VariableLabel[0] = "A";
  model.VariableLabel[1] = "B";
  model.VariableLabel[2] = "C";
  Membership marks{};
  marks[0] = 1;
  marks[2] = 2;
  EXPECT_EQ(TermText(model, marks), "AC");
  EXPECT_EQ(TermText(model, marks, 1), "A");
  EXPECT_EQ(TermText(model, marks, 2), "C");
  EXPECT_EQ(TermText(model, Membership{}), "");

  model.LongLabels = true;
  model.VariableLabel[0] = "Sex";
  model.VariableLabel[2] = "Age";
  EXPECT_EQ(TermText(model, marks), "Sex.Age");
}

}  // namespace
}  // namespace tav
