#include "report/posterior_writer.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tav {
namespace {

using testing::FittedModel;

// Writes the lines of body to a fresh result file and returns them.
template <typename Body>
std::vector<std::string> ResultLines(FittedModel& f, Body body) {
  const std::string path = f.dir.File("result.txt");
  f.run.context.FilePrefix.clear();
  OpenTextFile(f.run.context, f.run.context.ResultFile, path, "w");
  body(f.run);
  f.run.context.ResultFile.Close();
  return testing::ReadLines(path);
}

TEST(PosteriorLine, ClassSumsModalClassAndPosteriors) {
  // Three classes, one unobserved dichotomous variable carried per class: six completions.
  FittedModel f("lat 1 man 2 dim 3 2 2 mod X A|X B|X\ndat [ 3 0 5 2 ]\n");
  ASSERT_EQ(f.message, "");
  const std::vector<double> p{0.1, 0.1, 0.2, 0.3, 0.1, 0.2};
  auto lines = ResultLines(f, [&p](RunState& run) {
    WritePosteriorLine(run, PosteriorFile::kLatentClasses, 2, 6,
                       p);  // entry 2: A = 2, B = 2, count 2
    WritePosteriorLine(run, PosteriorFile::kCompletions, 0, 6, p);
  });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "  2  2    2.0000 0.2000 0.5000 0.3000   2 0.5000");
  EXPECT_EQ(lines[1], "  1  1    3.0000 0.1000 0.1000 0.2000 0.3000 0.1000 0.2000");
}

TEST(PosteriorLine, VectorOfNoPatternIsNormalisedAndGetsADrawnClass) {
  FittedModel f("lat 1 man 1 dim 3 2 mod X A|X\ndat [ 3 5 ]\n");
  ASSERT_EQ(f.message, "");
  f.run.estimation.random.state = 1;  // the next state is 125: u = 125 / 2796203, below 0.3
  f.run.parsed_input.model.submodels[0].random_start = false;
  const std::vector<double> frequencies{0.0, 3.0, 7.0, 99.0};  // only the first three count
  auto lines = ResultLines(f, [&frequencies](RunState& run) {
    WritePosteriorLine(run, PosteriorFile::kLatentClasses, -1, 3, frequencies);
  });
  ASSERT_EQ(lines.size(), 1u);
  // Class 1 has probability 0, so the draw lands in class 2.
  EXPECT_EQ(lines[0], " 0.0000 0.3000 0.7000   3 0.3000   2 0.7000");
  EXPECT_EQ(f.run.estimation.random.state, 125);
  // The draw takes the run's generator as it is and leaves the model alone.
  EXPECT_FALSE(f.run.model.submodels[0].random_start);
}

}  // namespace
}  // namespace tav
