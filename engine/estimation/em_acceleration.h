#ifndef TAV_ENGINE_ESTIMATION_EM_ACCELERATION_H_
#define TAV_ENGINE_ESTIMATION_EM_ACCELERATION_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "estimation/estimation_state.h"

namespace tav {

// Squared extrapolation of the EM iterations (`acc`): SQUAREM, scheme S3 of Varadhan and Roland
// (Scandinavian Journal of Statistics 35, 2008).
//
// The parameter vector theta is what an EM iteration changes: the fitted tables (submodel 0 as
// frequencies, the others as conditional probabilities) and the multiplicative parameters of
// their margins, both on the log scale. From theta0, the fitted tables after the E-step of the
// last iteration, one accelerated iteration takes two EM steps, theta1 = F(theta0) and
// theta2 = F(theta1), and with
//   r = theta1 - theta0,  v = theta2 - 2 theta1 + theta0,  alpha = -|r| / |v|  (alpha <= -1)
// (norms over the logs of the fitted cells that are positive in all three; alpha is bounded
// below by -B, where B starts at 1, grows fourfold after an iteration whose alpha met the bound
// and whose point was kept, and shrinks fourfold, not below 1, after one whose point was
// dropped, as the authors' implementation does: the step grows as far as it proves sound) the
// point
//   theta' = theta0 - 2 alpha r + alpha^2 v,
// whose weights add up to 1: every conditional distribution is renormalised, the first table
// to the total of theta2, and the parameters of a margin that holds the conditioning variables
// keep the level per conditioning cell they have at theta2, as the proportional fitting keeps
// it. The E-step at theta' gives its log-likelihood; a point that is no number, leaves out
// observations theta2 kept, or has a lower log-likelihood than theta0 is dropped for theta2.
// A stabilising EM step from the point kept ends the iteration with the E-step that writes its
// line. With alpha = -1 the point is theta2 itself and costs no E-step. The log-likelihood
// never falls from one accelerated iteration to the next (each EM step raises it), and a fixed
// point of EM is one of the accelerated iterations.
//
// An accelerated iteration costs three M-steps and four E-steps (three when alpha = -1).

// Why `acc` cannot serve the model of run, or "" when it can: the models whose EM iterations
// consist of proportional fitting alone, with or without latent variables and subgroups (every
// submodel log-linear or tied to one by eq1; no design effects, association terms, lin, log,
// mar or `all` restrictions, no hazard part, no Newton-type iterations).
std::string AccelerationRefusal(const EstimationRun& run);

// The work of the accelerated iterations of one fit: the three points of an iteration and the
// expected tables of theta2, counted against the memory budget while the accelerator lives.
class EmAccelerator {
 public:
  // Sets up the work for the model of run, which AccelerationRefusal accepts.
  explicit EmAccelerator(EstimationRun& run);
  EmAccelerator(const EmAccelerator&) = delete;
  EmAccelerator& operator=(const EmAccelerator&) = delete;

  // One accelerated iteration from the fitted tables of the last E-step. m_step runs the M-step
  // cycles of one EM iteration; the iteration ends with EStep, which writes its line and sets
  // the stop criterion to the change of the log-likelihood over the whole iteration.
  void Iterate(const std::function<void()>& m_step);

  // The step length alpha of the last iteration and whether its extrapolated point was kept.
  double last_alpha() const { return last_alpha_; }
  bool last_kept() const { return last_kept_; }

 private:
  struct Point {
    std::vector<double> fitted;
    std::vector<double> parameters;
  };
  // A conditional submodel whose parameters keep their level: the margin that holds the
  // conditioning variables, and the conditioning cell of each of its cells.
  struct Level {
    int submodel = 0;
    int margin = 0;
    std::vector<std::int64_t> condition_cell;
  };

  // The bytes of the three points and of theta2's expected tables.
  static double TableBytes(const EstimationState& est);
  void Capture(Point& point) const;
  void Restore(const Point& point);
  // Writes theta' into the fitted tables and parameters; false when it is no usable point.
  bool Extrapolate(double alpha);
  // The sums over the response cells of the product of submodel r's margin parameters, per
  // conditioning cell.
  std::vector<double> LevelOf(int r, const double* parameters) const;

  EstimationRun& run_;
  MemoryReservation reserved_;
  Point theta0_, theta1_, theta2_;
  std::vector<double> expected2_;
  std::vector<double> fitted_margins2_;
  std::vector<Level> levels_;
  double last_alpha_ = -1;
  double step_bound_ = 1;
  bool last_kept_ = false;
};

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_EM_ACCELERATION_H_
