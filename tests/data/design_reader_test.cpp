#include "data/design_reader.h"

#include <gtest/gtest.h>

#include "core/stop_run.h"
#include "input/model_codes.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ReaderInput;

using Ints = std::vector<std::int32_t>;
using Reals = std::vector<double>;

// A model built by hand: manifest variables A, B, ... with the given numbers of categories and
// the submodels that Add makes; Read runs the design reader on a stream of numbers.
struct Model {
  explicit Model(std::vector<int> dims) {
    run.memory_budget = 100'000'000;  // the stores below are measured against 100 MB
    ModelState& m = run.model;
    m.ManifestCount = m.VariableCount = static_cast<int>(dims.size());
    for (int v = 0; v < m.VariableCount; ++v) {
      m.Dimension[v] = dims[v];
      m.VariableLabel[v] = std::string(1, static_cast<char>('A' + v));
    }
  }
  int Add(const std::string& labels, SubmodelKindCode kind = SubmodelKindCode::kLogLinear) {
    ModelState& m = run.model;
    const int index = m.SubmodelCount++;
    Submodel& s = NewSubmodel(m, index);
    s.SubmodelKind = kind;
    for (char c : labels) s.SubmodelVariables[c - 'A'] = 1;
    return index;
  }
  // A design of the given family and count over the labelled variables; labels after "|" are
  // grouping variables.
  Design& AddDesign(int s, DesignFamily family, const std::string& labels, int count, int terms = 1,
                    DesignInteraction interaction = DesignInteraction::kA,
                    SpecialModel special_model = {}) {
    Submodel& sub = run.model.submodels[s];
    Design& d = NewDesign(sub, sub.DesignTermCount());
    d.family = family;
    d.interaction = interaction;
    d.special_model = special_model;
    d.DesignCountParam = count;
    d.DesignSpecTerms = terms;
    std::uint8_t code = 1;
    for (char c : labels) {
      if (c == '|') {
        code = 255;
      } else {
        d.DesignVariables[c - 'A'] = code;
      }
    }
    return d;
  }
  // An association effect with rows and columns given by labels "rows|columns".
  AssocEffect& AddAssociation(int s, const std::string& labels, int r_code, int s_code,
                              int column_position) {
    Submodel& sub = run.model.submodels[s];
    AssocEffect& a = NewRowColumnEffect(sub, sub.AssocCount());
    std::uint8_t code = 1;
    for (char c : labels) {
      if (c == '|') {
        code = 2;
      } else {
        a.AssocVariables[c - 'A'] = code;
      }
    }
    a.AssocDimensions = {r_code, s_code, 0};
    a.column_score_position = column_position;
    return a;
  }
  // Reads the designs from numbers; returns the stop message or "".
  std::string Read(const std::string& numbers) {
    ReaderInput input(numbers);
    try {
      ReadDesigns(reader, run, input.file());
    } catch (const StopRunError& stop) {
      return stop.message();
    }
    return "";
  }
  const DesignStore& store() const { return run.designs; }
  const DesignSlot& slot(int s, int d) const { return run.designs.design_slots[s][d]; }

  Reader reader;
  DataRun run;
};

const char* kTooFew = "  Error: too few numbers encountered when reading design_matrix";

TEST(DesignReader, FactorNumbersAreChecked) {
  // A factor effect over A and B (4 cells) with 2 factors reads 4 integers from 0 to 2.
  Model m({2, 2});
  m.Add("AB");
  m.AddDesign(0, DesignFamily::kFactor, "AB", 2);
  EXPECT_EQ(UserDesignCount(m.run), 1);
  ASSERT_EQ(m.Read("0 1 2 1"), "");
  EXPECT_EQ(m.store().factor, (Ints{0, 1, 2, 1}));
  EXPECT_EQ(m.slot(0, 0).factor_start, 0);
  EXPECT_TRUE(m.store().read);
  EXPECT_EQ(m.reader.command, "design_matrix");
  EXPECT_EQ(m.Read("0 1 3 1"), "  Error: wrong number in factor");
  EXPECT_EQ(m.Read("0 -1 0 1"), "  Error: wrong number in factor");
  EXPECT_EQ(m.Read("0 1 2"), kTooFew);
  EXPECT_EQ(m.Read("0 1 2 1.5"),
            "  Error: a real where an integer is expected when reading design_matrix");
  // Every call starts the stores afresh.
  ASSERT_EQ(m.Read("2 2 2 2 9"), "");
  EXPECT_EQ(m.store().factor, (Ints{2, 2, 2, 2}));
}

TEST(DesignReader, DesignValuesColumnByColumn) {
  // cov over A (2 cells, 2 parameters): 4 reals, the cells of parameter 1 first. eff over AB
  // (4 cells, 1 parameter): 4 integers, unchecked.
  Model m({2, 2});
  m.Add("AB");
  m.AddDesign(0, DesignFamily::kCovariate, "A", 2);
  m.AddDesign(0, DesignFamily::kEffect, "AB", 1);
  m.AddDesign(0, DesignFamily::kCovariate, "B", 1, 1, DesignInteraction::kB);
  ASSERT_EQ(m.Read("1.5 -2 3 4  -5 99 0 7  .25 .75"), "");
  EXPECT_EQ(m.store().real_design, (Reals{1.5, -2, 3, 4, .25, .75}));
  EXPECT_EQ(m.store().int_design, (Ints{-5, 99, 0, 7}));
  EXPECT_EQ(m.slot(0, 0).real_start, 0);
  EXPECT_EQ(m.slot(0, 1).int_start, 0);
  EXPECT_EQ(m.slot(0, 2).real_start, 4);
  EXPECT_EQ(m.slot(0, 1).real_start, -1);
}

TEST(DesignReader, FixedAndPrespecifiedDesignsTakeNoNumbers) {
  Model m({2, 3});
  m.Add("AB");
  m.AddDesign(0, DesignFamily::kFixedWeights, "AB", 1);  // wei
  m.AddDesign(0, DesignFamily::kSpecial, "AB", 2);       // spe 1a: room for 6 x 2 generated values
  m.AddDesign(0, DesignFamily::kSpecial, "A", 1, 1, DesignInteraction::kA,
              SpecialModelOf('2', 'b').value());     // spe 2b
  m.AddDesign(0, DesignFamily::kCovariate, "B", 1);  // cov: 3 values after the room
  EXPECT_EQ(UserDesignCount(m.run), 1);
  ASSERT_EQ(m.Read("7 8 9"), "");
  ASSERT_EQ(m.store().real_design.size(), 12u + 2u + 3u);
  EXPECT_EQ(m.slot(0, 1).real_start, 0);
  EXPECT_EQ(m.slot(0, 2).real_start, 12);
  EXPECT_EQ(m.slot(0, 3).real_start, 14);
  EXPECT_EQ(m.store().real_design[14], 7);
  EXPECT_EQ(m.store().real_design[16], 9);
  Model only({2, 3});
  only.Add("AB");
  only.AddDesign(0, DesignFamily::kSpecial, "AB", 2);
  EXPECT_EQ(UserDesignCount(only.run), 0);
  EXPECT_EQ(only.Read(""), "");
}

TEST(DesignReader, GroupNumbersAndMultipliers) {
  // fac over A (2 cells, 3 factors) grouped by B (3 categories) with 2 groups.
  Model m({2, 3});
  m.Add("AB");
  m.AddDesign(0, DesignFamily::kFactor, "A|B", 3).group_multiplier = 2;
  ASSERT_EQ(m.Read("3 0  0 1 2"), "");
  EXPECT_EQ(m.store().factor, (Ints{3, 0}));
  EXPECT_EQ(m.store().group, (Ints{0, 1, 2}));
  EXPECT_EQ(m.slot(0, 0).group_start, 0);
  EXPECT_EQ(m.Read("3 0  0 3 2"), "  Error: wrong number in group");
  EXPECT_EQ(m.Read("3 0  0 -1 2"), "  Error: wrong number in group");
  // A negative multiplier: |m| reals per group category into the second store.
  Model real({2, 3});
  real.Add("AB");
  real.AddDesign(0, DesignFamily::kCovariate, "A|B", 1, 1, DesignInteraction::kC).group_multiplier =
      -2;  // cov, interaction c
  ASSERT_EQ(real.Read("1 2  .1 .2 .3 .4 .5 .6"), "");
  EXPECT_EQ(real.store().real_design, (Reals{1, 2}));
  EXPECT_EQ(real.store().second_real, (Reals{.1, .2, .3, .4, .5, .6}));
  // A fixed effect with groups takes only its group numbers.
  Model fixed({2, 3});
  fixed.Add("AB");
  fixed.AddDesign(0, DesignFamily::kFixedWeights, "A|B", 1).group_multiplier = 1;
  EXPECT_EQ(UserDesignCount(fixed.run), 1);
  ASSERT_EQ(fixed.Read("1 0 1"), "");
  EXPECT_EQ(fixed.store().group, (Ints{1, 0, 1}));
}

TEST(DesignReader, TermsOfOneSpecificationShareTheirGroups) {
  // eff(A C 1 B a 2): two designs of one specification, the group numbers after the second.
  // A and B have 2 categories, C 3.
  Model m({2, 2, 3});
  m.Add("ABC");
  m.AddDesign(0, DesignFamily::kEffect, "A|B", 1, 2).group_multiplier = 2;
  m.AddDesign(0, DesignFamily::kEffect, "C|B", 1, 2).group_multiplier = 2;
  EXPECT_TRUE(IsFreeDesign(m.run.model.submodels[0], 0));
  EXPECT_FALSE(IsFreeDesign(m.run.model.submodels[0], 1));
  ASSERT_EQ(m.Read("1 2  3 4 5  0 2"), "");
  EXPECT_EQ(m.store().int_design, (Ints{1, 2, 3, 4, 5}));
  EXPECT_EQ(m.store().group, (Ints{0, 2}));
  EXPECT_EQ(m.slot(0, 0).group_start, 0);
  EXPECT_EQ(m.slot(0, 1).group_start, 0);
}

TEST(DesignReader, FreeDesigns) {
  Model m({2, 2});
  m.Add("AB");
  m.AddDesign(0, DesignFamily::kLinLog, "A", 1, 2);
  m.AddDesign(0, DesignFamily::kLinLog, "B", 1, 2);
  m.AddDesign(0, DesignFamily::kLinLog, "A", 1, 2).reserved = true;
  m.AddDesign(0, DesignFamily::kLinLog, "B", 1, 2).reserved = true;
  m.AddDesign(0, DesignFamily::kEffect, "AB", 1);
  const Submodel& s = m.run.model.submodels[0];
  EXPECT_TRUE(IsFreeDesign(s, 0));
  EXPECT_FALSE(IsFreeDesign(s, 1));
  EXPECT_FALSE(IsFreeDesign(s, 2));
  EXPECT_FALSE(IsFreeDesign(s, 3));
  EXPECT_TRUE(IsFreeDesign(s, 4));
  EXPECT_FALSE(IsFreeDesign(s, 5));
}

TEST(DesignReader, ContinuousCovariate) {
  // The covariate x (variable C, one category) as an effect variable of cov takes no design
  // values; as a grouping variable with a negative multiplier no multipliers either.
  Model m({2, 2, 1});
  m.run.model.CovariateCount = 2;
  m.Add("ABC");
  m.AddDesign(0, DesignFamily::kCovariate, "C", 2);
  m.AddDesign(0, DesignFamily::kCovariate, "A|C", 1, 1, DesignInteraction::kC).group_multiplier =
      -2;
  EXPECT_EQ(CovariateMark(m.run.model, m.run.model.submodels[0].designs[0]), 1);
  EXPECT_EQ(CovariateMark(m.run.model, m.run.model.submodels[0].designs[1]), -1);
  EXPECT_EQ(UserDesignCount(m.run), 1);  // the second still reads its design values
  ASSERT_EQ(m.Read("5 6"), "");
  EXPECT_EQ(m.store().real_design, (Reals{5, 6}));
  EXPECT_TRUE(m.store().second_real.empty());
}

TEST(DesignReader, RestrictionCodes) {
  // B|A eq3 over 2 x 3 cells: one code per probability, each at least -1.
  Model m({2, 3});
  m.Add("A");
  m.Add("AB", SubmodelKindCode::kEqualityRestricted);
  EXPECT_EQ(UserDesignCount(m.run), 1);
  ASSERT_EQ(m.Read("-1 0 1  2 1 0"), "");
  EXPECT_EQ(m.store().restriction_codes, (Ints{-1, 0, 1, 2, 1, 0}));
  EXPECT_EQ(m.store().restriction_start, (std::vector<std::int64_t>{-1, 0}));
  EXPECT_EQ(m.Read("-1 0 1  2 -2 0"),
            "  Error: wrong number in restrictions on (conditional) probabilities");
  EXPECT_EQ(m.Read("0 0 0 0 0"), kTooFew);
}

TEST(DesignReader, MarginalRestrictionBlocks) {
  Model m({2, 3});  // the term AB has 6 cells
  m.Add("AB");
  Design& plain = m.AddDesign(0, DesignFamily::kMarginal, "AB", 2);
  EXPECT_EQ(m.Read("111111111111"), kTooFew);  // one number where 12 are needed
  std::string numbers;
  for (int k = 0; k < 12; ++k) numbers += std::to_string(k) + " ";
  ASSERT_EQ(m.Read(numbers), "");  // P x n
  EXPECT_EQ(m.store().real_design.size(), 12u);
  plain.mar_b_elements = 3;  // P x m3 + m3 x n = 6 + 18
  numbers.clear();
  for (int k = 0; k < 24; ++k) numbers += "1 ";
  ASSERT_EQ(m.Read(numbers), "");
  EXPECT_EQ(m.store().real_design.size(), 24u);
  plain.mar_c_elements = 2;  // P x m4 + m4 x m3 + m3 x n = 4 + 6 + 18
  EXPECT_EQ(m.Read(numbers), kTooFew);
  ASSERT_EQ(m.Read(numbers + "1 1 1 1"), "");
  EXPECT_EQ(m.store().real_design.size(), 28u);

  // A margin specification of 2 margins: |m2| x P reals, then one margin number per cell.
  Model margins({2, 3});
  margins.Add("AB");
  margins.AddDesign(0, DesignFamily::kMarginal, "AB", 2).mar_extra = 2;
  ASSERT_EQ(margins.Read(".5 .5 .5 .5  0 1 2 2 1 0"), "");
  EXPECT_EQ(margins.store().real_design.size(), 4u);
  EXPECT_EQ(margins.store().group, (Ints{0, 1, 2, 2, 1, 0}));
  EXPECT_EQ(margins.Read(".5 .5 .5 .5  0 1 3 2 1 0"),
            "  Error: wrong number in specification of margin");
  // A negative m2: a real matrix of |m2| rows over the cells in the second store.
  Model matrix({2, 3});
  matrix.Add("AB");
  matrix.AddDesign(0, DesignFamily::kMarginal, "AB", 1).mar_extra = -1;
  ASSERT_EQ(matrix.Read("9  1 1 1 0 0 0"), "");
  EXPECT_EQ(matrix.store().real_design, (Reals{9}));
  EXPECT_EQ(matrix.store().second_real, (Reals{1, 1, 1, 0, 0, 0}));
  // The design reserved by restriction letter c over no cells reads only its P values.
  Model reserved({2, 3});
  reserved.Add("AB");
  reserved.AddDesign(0, DesignFamily::kMarginal, "AB", 2).DesignRestriction = {
      MarginalForm::kMargins, RestrictionSense::kEqualityToTarget};
  Design& extra =
      reserved.AddDesign(0, DesignFamily::kMarginal, "AB", 2);  // a copy of the term's design
  extra.DesignRestriction = {MarginalForm::kMargins, RestrictionSense::kEqualityToTarget};
  extra.reserved = true;
  numbers.clear();
  for (int k = 0; k < 12 + 2; ++k) numbers += "1 ";
  ASSERT_EQ(reserved.Read(numbers), "");
  EXPECT_EQ(reserved.store().real_design.size(), 14u);
  EXPECT_EQ(reserved.slot(0, 1).real_start, 12);
  // lin with letter c: the reserved design reads its P values only.
  Model lin({2, 3});
  lin.Add("AB");
  lin.AddDesign(0, DesignFamily::kLinLog, "AB", 1).DesignRestriction = {
      MarginalForm::kMargins, RestrictionSense::kEqualityToTarget};
  lin.AddDesign(0, DesignFamily::kLinLog, "AB", 1).reserved = true;
  ASSERT_EQ(lin.Read("1 2 3 4 5 6  7"), "");
  EXPECT_EQ(lin.store().real_design, (Reals{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(lin.slot(0, 1).real_start, 6);
}

TEST(DesignReader, AssociationScores) {
  // Rows A (3 categories), columns B (2 categories).
  Model m({3, 2});
  m.Add("AB");
  m.AddAssociation(0, "A|B", 2, 0, 3);
  EXPECT_EQ(UserDesignCount(m.run), 1);
  ASSERT_EQ(m.Read("1 2 2"), "");
  EXPECT_EQ(m.store().factor, (Ints{1, 2, 2}));
  EXPECT_EQ(m.Read("1 0 2"), "  Error: wrong number in association model scores/effects");
  EXPECT_EQ(m.Read("1 3 2"), "  Error: wrong number in association model scores/effects");

  Model fixed({3, 2});
  fixed.Add("AB");
  fixed.AddAssociation(0, "A|B", -1, -2, 3);
  ASSERT_EQ(fixed.Read("-1 0 1   1 2  3 4"), "");
  EXPECT_EQ(fixed.store().real_design, (Reals{-1, 0, 1}));
  EXPECT_EQ(fixed.store().second_real, (Reals{1, 2, 3, 4}));
  EXPECT_EQ(fixed.store().assoc_slots[0][0].row_start, 0);
  EXPECT_EQ(fixed.store().assoc_slots[0][0].column_start, 0);

  // Two effects that share their column scores read them once, after the second.
  Model shared({3, 2});
  shared.Add("AB");
  shared.AddAssociation(0, "A|B", 0, 1, 3);
  shared.AddAssociation(0, "A|B", 0, 1, 3);
  shared.AddAssociation(0, "A|B", 0, 2, 5);
  EXPECT_EQ(UserDesignCount(shared.run), 2);
  ASSERT_EQ(shared.Read("0 1  2 1"), "");
  EXPECT_EQ(shared.store().group, (Ints{0, 1, 2, 1}));
  EXPECT_EQ(shared.store().assoc_slots[0][0].column_start, 0);
  EXPECT_EQ(shared.store().assoc_slots[0][1].column_start, 0);
  EXPECT_EQ(shared.store().assoc_slots[0][2].column_start, 2);
  EXPECT_EQ(shared.Read("0 2  2 1"), "  Error: wrong number in association model scores/effects");
}

TEST(DesignReader, CumulativeColumnsAreGenerated) {
  auto columns = [](char model_letter) {
    Model m({3});
    m.Add("A", SubmodelKindCode::kCumulative);
    m.run.model.submodels[0].CumulativeModel = CumulativeFormOfLetter(model_letter).value();
    m.AddDesign(0, DesignFamily::kCovariate, "A", 2);
    EXPECT_EQ(UserDesignCount(m.run), 0);
    EXPECT_EQ(m.Read(""), "");
    return m.store().real_design;
  };
  EXPECT_EQ(columns('a'), (Reals{1, 0, 0, 0, 1, 0}));  // model a: identity columns
  EXPECT_EQ(columns('d'), (Reals{1, 0, 0, 0, 1, 0}));
  EXPECT_EQ(columns('e'), (Reals{1, 1, 1, -0.5, 0.5, 1.5}));  // ones, scores k - (3 - 2) / 2
  EXPECT_EQ(columns('i'), (Reals{1, 1, 1}));                  // model i: ones only
}

TEST(DesignReader, StoresObeyTheMemoryBudget) {
  Model ints({1000, 1000});
  ints.Add("AB");
  ints.AddDesign(0, DesignFamily::kEffect, "AB", 30);  // 30,000,000 integers
  EXPECT_EQ(ints.Read("1"), "  Error: problem too big to fit in memory");
  Model reals({1000, 1000});
  reals.Add("AB");
  reals.AddDesign(0, DesignFamily::kCovariate, "AB", 13);  // 13,000,000 reals
  EXPECT_EQ(reals.Read("1"), "  Error: problem too big to fit in memory");
  Model skip({1000, 1000});
  skip.Add("AB");
  skip.AddDesign(0, DesignFamily::kSpecial, "AB", 2000000000);
  EXPECT_EQ(skip.Read(""), "  Error: problem too big to fit in memory");
}

TEST(DesignReader, SubmodelsInOrder) {
  // Submodel 0: fac over A; submodel 1 (B|A eq2): codes; submodel 2: cov over B.
  Model m({2, 2});
  m.Add("A");
  m.AddDesign(0, DesignFamily::kFactor, "A", 1);
  m.Add("AB", SubmodelKindCode::kEqualityRestricted);
  m.Add("B");
  m.AddDesign(2, DesignFamily::kCovariate, "B", 1);
  EXPECT_EQ(UserDesignCount(m.run), 3);
  ASSERT_EQ(m.Read("1 0   0 0 1 1   .5 .7"), "");
  EXPECT_EQ(m.store().factor, (Ints{1, 0}));
  EXPECT_EQ(m.store().restriction_codes, (Ints{0, 0, 1, 1}));
  EXPECT_EQ(m.store().real_design, (Reals{.5, .7}));
}

}  // namespace
}  // namespace tav
