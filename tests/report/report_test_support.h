#ifndef TAV_TESTS_REPORT_REPORT_TEST_SUPPORT_H_
#define TAV_TESTS_REPORT_REPORT_TEST_SUPPORT_H_

#include <cmath>
#include <string>
#include <vector>

#include "core/log.h"
#include "newton/run_state.h"
#include "test_support.h"

namespace tav::testing {

// A model parsed from an input text (data included), whose fitted and expected tables the
// test fills in by hand, as if estimation had left them.
struct FittedModel {
  explicit FittedModel(const std::string& text) { message = ParseText(run, text, dir); }

  void SetFitted(const std::vector<double>& fitted) { run.estimation.FittedTable = fitted; }
  void SetExpected(const std::vector<double>& expected) { run.estimation.ExpectedTable = expected; }

  // The fit sums and log-likelihood an E-step leaves for observed frequencies n, their
  // estimates m and the totals t of their subgroups.
  void SetFitSums(const std::vector<double>& n, const std::vector<double>& m,
                  const std::vector<double>& t) {
    EstimationState& e = run.estimation;
    e.HalfLSquared = e.PearsonSum = e.CressieReadSum = e.AbsResidualSum = e.ExpectedTotal = 0;
    e.LogLikelihood = 0;
    for (std::size_t i = 0; i < n.size(); ++i) {
      if (n[i] > 0) {
        e.HalfLSquared += n[i] * std::log(n[i] / m[i]);
        e.CressieReadSum += 1.8 * n[i] * (std::pow(n[i] / m[i], 2.0 / 3.0) - 1);
        e.PearsonSum += n[i] * (n[i] / m[i] - 1);
        e.LogLikelihood += n[i] * std::log(m[i] / t[i]);
      }
      e.AbsResidualSum += std::fabs(n[i] - m[i]);
      e.ExpectedTotal += m[i];
    }
  }

  // Runs write on a fresh report file and returns its lines.
  template <typename Write>
  std::vector<std::string> Report(Write write) {
    const std::string path = dir.File("report.out");
    run.FilePrefix.clear();
    OpenTextFile(run, run.ReportFile, path, "w");
    write(run);
    run.ReportFile.Close();
    return ReadLines(path);
  }

  TempDir dir;
  RunState run;
  std::string message;
};

}  // namespace tav::testing

#endif  // TAV_TESTS_REPORT_REPORT_TEST_SUPPORT_H_
