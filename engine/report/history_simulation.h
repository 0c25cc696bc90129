#ifndef TAV_ENGINE_REPORT_HISTORY_SIMULATION_H_
#define TAV_ENGINE_REPORT_HISTORY_SIMULATION_H_

#include <cstdint>

#include "core/random.h"
#include "core/text_file.h"
#include "newton/run_state.h"

namespace tav {

// Event histories drawn from an event-history model (sim with haz), written in the form the same
// input reads.
//
// Every record first draws a cell of the complete table of the model's log-linear part (the
// `res`, latent and manifest variables) from its estimated probabilities: the record's subgroup,
// the categories it observes, and the covariate cell c of the hazard part, latent classes and
// unobserved covariates included. Its history then follows the hazard part at the model's
// values, on the time grid t_0 < ... < t_T, from t_0 in state 0:
//   continuous time (kinds 0, 2, 3): in state a from time s, every risk q of a (a -> b, b != a)
//     draws a time of its own, where its cumulative hazard from s reaches -ln u for a uniform u:
//     within interval j it grows by lambda(c, j, q) (hi - lo), kinds 2 and 3 by
//     lambda(c, j, q) (hi^alpha_q - lo^alpha_q), and is inverted in closed form. The earliest of
//     the risks' times ends the episode with its transition; when none comes before t_T the
//     episode is censored at t_T;
//   discrete time (kind 1): unit after unit from s + 1, each in the interval of its end, a
//     transition of a drawn from the probabilities lambda(c, j, q) of a's risks, the stay
//     included; staying through t_T is censored at t_T.
// This is the process whose likelihood the hazard part's is (estimation/hazard_model.h), so that
// a fit of the file recovers the rates.
//
// The forms of the record (after its leading fields, RecordFields, and with rco the count 1):
//   episodes (default): with rt0 the entry t_0 and state 0; then per episode its exit time and
//     the state then, until censoring (the state stays), the episode slots (epi) are used up, a
//     state that cannot be left, or a transition at t_T. With zer the clock of every episode
//     starts at t_0 (time is the duration in the state), and the times written add up the
//     durations;
//   mul: every process s (the risk s -> s + 1) an episode of its own from t_0: with rt0 its
//     start, then its end and 1 for the event, 0 for none;
//   rsu: every slot s a spell in state s from t_0 to t_T (with rt0 its start), then the end and
//     the number of events of the risk s -> s + 1 in it: a Poisson number of mean its cumulative
//     hazard (one interval, rates of shape 1 or fixed shapes; CheckHistorySimulation);
//   table form (no rec): per subgroup, cell of its observed table and interval the number of
//     events, then in a second table of the same layout the number censored, all at t_T in the
//     last interval; a count below 1 writes the expected numbers of -count records instead:
//     -count P(cell) (S(t_j) - S(t_(j+1))) and -count P(cell) S(t_T), S the survival of state 0.
// Exit times are written as the record reader reads them, t + 1 - x for the exposure time x (1
// in discrete time), entry times as they are, each as the shortest decimal that reads back as
// the same number; an episode is kept at least 1E-9 of the time grid long, and an event within
// that of the end of the grid is censored there, so that every written episode reads back.
//
// The draws come from the run's generator through the shuffle of ShuffledRandom, the cell first,
// then the history, record after record.

// Stops the run, before estimation, for the event-history constructs that cannot be simulated,
// saying why: expected data of records (a count below 1: histories have no finite table of
// cells), counts of events (rsu) with more than one interval, in discrete time or with
// estimated shapes (their likelihood gives all events of a spell the rate of its last interval
// and the time of its end), discrete time on boundaries that are not whole numbers (its units
// are of length 1), and a risk from a state to itself in continuous time (no record can show
// such an event).
void CheckHistorySimulation(const RunState& run);

// Draws the histories of run.settings.simulate_count records, or the expected tables, into file;
// returns the total count of the data written.
double SimulateHistories(RunState& run, TextFile& file, ShuffledRandom& random);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_HISTORY_SIMULATION_H_
