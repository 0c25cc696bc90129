#ifndef TAV_ENGINE_DATA_SETTINGS_H_
#define TAV_ENGINE_DATA_SETTINGS_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/model_state.h"

namespace tav {

// The Newton-type algorithms of `new`. The run's standard errors use the same machinery
// (kStandardErrors), which takes no step.
enum class NewtonAlgorithm {
  kStandardErrors = 0,
  kNewtonRaphson = 1,  // Levenberg-Marquardt when newton_lambda is not 0
  kSteepestDescent = 2,
  kBfgs = 3,
  kNewtonRaphsonWithEm = 4,  // as Newton-Raphson, with the EM M-steps running beside it
};

// A `wma` request: the variables of a marginal table and the file to write it to.
struct MarginalRequest {
  Membership variables{};
  std::string file;
};

// Start values given with `sta` or `sth` for one effect of one submodel, already on the
// multiplicative scale (exp of the values given with `log`, capped at exp(600); spread by `nor`).
// A later request for the same effect replaces an earlier one.
struct StartValueRequest {
  int submodel = 0;
  int effect = -1;              // index of the log-linear effect, or -1
  int design = -1;              // index of the special effect (design), or -1
  bool whole_table = false;     // the values cover the submodel's whole table, from its first cell
  bool of_hazard_part = false;  // given with `sth` (submodel is then the hazard submodel)
  std::string effect_text;      // the effect as written, for messages
  std::vector<double> values;
};

// The largest number of threads `thr` accepts.
inline constexpr int kMaxThreads = 1024;
// The largest number of random starts `rst` accepts: the distinct seeds of one amplitude.
inline constexpr int kMaxRandomStarts = 9990;

// The settings of a run, with their defaults before the model adjusts them.
struct Settings {
  double max_iterations = 5000;
  double convergence_criterion = 1e-6;
  double em_cycles_per_iteration = 1;
  double max_inner_iterations = 10;
  double newton_start_iteration = 2147483647.0;
  NewtonAlgorithm newton_algorithm = NewtonAlgorithm::kNewtonRaphson;
  double newton_lambda = 0;
  double added_constant = 0;
  double step_size = 1.0;
  double restriction_step = 4.0;
  double restriction_step_min = 1.0;
  int restriction_step_interval = 2;
  std::array<std::int32_t, kVectorSize + 1> dummy_reference{};  // -1 for effect coding
  bool dummy_coding = false;                                    // `dum` was given
  int score_scaling = 1;
  // Threads of the run's parallel work (`thr`): 0 for the hardware concurrency.
  int threads = 0;
  // The EM iterations are accelerated by squared extrapolation (`acc`) where the model allows.
  bool accelerate_em = false;
  // Random starts (`rst`): the model is fitted from this many seeds and the best fit is kept;
  // 0 for a single fit from the run's seed.
  int random_starts = 0;
  // The memory budget in megabytes as `mem` gave it (0: not given); RunContext::memory_budget
  // holds it in bytes.
  int memory_megabytes = 0;
  // The seed of the random generator as `see` gave it (reduced modulo the generator's modulus
  // when it is too large to be exact), and the random amplitude the seed gives (SeedAmplitude).
  double random_seed = 0;
  std::int32_t random_amplitude = 1;
  bool user_scores_given = false;
  std::vector<double> user_scores;
  std::int32_t simulate_count = 0;
  std::string simulate_file;

  // Output switches: true when the report section is written.
  bool show_details = true;
  bool show_echo = true;
  bool show_parameters = true;
  bool show_frequencies = true;
  bool show_latent = true;
  bool show_conditional = true;
  bool include_first_submodel = true;
  bool show_pseudo_r2 = true;
  bool show_std_errors = true;
  bool show_zero_cells = true;
  // The random starts, bivariate residuals and classification sections (`ndi` switches them
  // off).
  bool show_diagnostics = true;

  // Result files; empty when not requested.
  std::string file_frequencies;                    // wfi
  std::string file_data;                           // wda
  std::string file_observed;                       // wfr
  std::string file_probabilities;                  // wco
  std::string file_parameters;                     // wpa
  std::string file_covariances;                    // wse, wsd
  std::string file_failures;                       // wfa
  std::string file_hazards;                        // wha
  std::string file_exposures;                      // wex
  std::string file_survival;                       // wsu
  std::string file_latent;                         // wla
  std::string file_posterior;                      // wpo
  std::string file_results_json;                   // wjs
  std::vector<MarginalRequest> marginal_requests;  // wma, at most 101

  std::vector<StartValueRequest> start_values;
  std::vector<std::string> start_value_files;  // the files `sta` and `sth` read their values from

  // The data and design files named by `dat` and `des` (empty when inline or not given).
  std::string data_file;
  std::string design_file;
  // The columns of a data file of named columns that make up a record, in reading order (col);
  // empty: the columns named by the manifest variables' labels.
  std::vector<std::string> data_columns;
};

}  // namespace tav

#endif  // TAV_ENGINE_DATA_SETTINGS_H_
