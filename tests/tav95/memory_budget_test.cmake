# The memory budget (`mem`) holds for the large tables of a run: the program either works within
# it or stops with "problem too big to fit in memory", and its peak resident memory stays within
# the budget plus 40 MB for the program itself. Each input below needs several times its budget
# in tables of one kind (a simulation's cells, a hazard model's time grid, the standard errors'
# derivative and share tables); before the budget counted them they took 100 to 190 MB whatever
# `mem` said.
# Variables: TAV95 (the program), PEAK (tests/tav95/peak_memory), WORK (a scratch directory).
include(${CMAKE_CURRENT_LIST_DIR}/program_test_support.cmake)

# run_within(<name> <budget MB> <expected: RUNS or STOPS>): runs WORK/name.inp (its `mem` is the
# budget) and checks the outcome and the peak.
function(run_within name budget outcome)
  execute_process(COMMAND ${PEAK} ${TAV95} ${WORK}/${name}.inp ${WORK}/${name}.out ${WORK}/
                          ${WORK}/${name}.log -log
                  WORKING_DIRECTORY ${WORK} OUTPUT_VARIABLE measured ERROR_QUIET)
  string(REGEX MATCH "^([0-9]+) (-?[0-9]+)" found "${measured}")
  expect(found MESSAGE "${name}: no measurement: '${measured}'")
  set(kilobytes ${CMAKE_MATCH_1})
  set(status ${CMAKE_MATCH_2})
  math(EXPR limit "(${budget} + 40) * 1024")
  expect(kilobytes LESS_EQUAL limit
         MESSAGE "${name}: peak ${kilobytes} KB beyond the budget of ${budget} MB plus 40 MB")
  file(READ ${WORK}/${name}.log log)
  if(outcome STREQUAL "RUNS")
    expect(status EQUAL 0 MESSAGE "${name}: status ${status}, the run should fit: ${log}")
  else()
    expect(status EQUAL 1 MESSAGE "${name}: status ${status}, the run should stop: ${log}")
    string(FIND "${log}" "Error: problem too big to fit in memory" at)
    expect(at GREATER -1 MESSAGE "${name}: no budget message: ${log}")
  endif()
endfunction()

# sim on 2^20 cells: the cumulative probabilities (8 MB) beside the fitted and expected tables
# (16 MB); the record lines are no longer kept per cell.
set(labels A B C D E F G H I J K L M N O P Q R S T)
string(REPLACE ";" " " names "${labels}")
string(REPLACE ";" "," effects "${labels}")
string(REPEAT "2 " 20 dims)
foreach(budget 12 30)
  file(WRITE ${WORK}/sim${budget}.inp "man 20\ndim ${dims}\nlab ${names}\nmod {${effects}}\n"
             "mem ${budget}\nsim 10 sim${budget}.dat\nsee 123\n")
endforeach()
run_within(sim12 12 STOPS)
run_within(sim30 30 RUNS)

# A continuous-time hazard model on a grid of 1,000,000 intervals: the time grid, the rates and
# the exposures, and for the standard errors the derivative and share tables of the rates.
set(records "")
foreach(k RANGE 1 50)
  math(EXPR group "${k} % 2 + 1")
  math(EXPR time "(${k} * 19997) % 990000 + 1")
  math(EXPR event "(${k} % 3 + 1) / 2")
  string(APPEND records "${group} ${time}.5 ${event}\n")
endforeach()
foreach(budget 100 180)
  file(WRITE ${WORK}/hazard${budget}.inp "man 1\ndim 2\nlab A\nmod {A}\ntim 1000000\n"
             "haz A {A}\nrec 50\nsee 1\nmem ${budget}\ndat [\n${records}]\n")
endforeach()
run_within(hazard100 100 STOPS)
run_within(hazard180 180 RUNS)

# Standard errors of a latent class model of 16 items whose items' joint table (2^17 cells) is
# the one conditional table: 65,536 patterns in 16 shares of sums, 8 MB each.
set(items A B C D E F G H I J K L M N O P)
string(REPLACE ";" " " names "${items}")
string(REPLACE ";" "" joint "${items}")
set(effects "")
foreach(item ${items})
  list(APPEND effects X${item})
endforeach()
string(REPLACE ";" "," effects "${effects}")
string(REPEAT "2 " 17 dims)
string(REPEAT "0 1 2 3 1 1 2 0 " 8192 counts)
foreach(budget 20 45)
  file(WRITE ${WORK}/errors${budget}.inp "lat 1\nman 16\ndim ${dims}\nlab X ${names}\n"
             "mod X ${joint}|X {${effects}}\nite 20\nsee 11\nmem ${budget}\ndat [ ${counts}]\n")
endforeach()
run_within(errors20 20 STOPS)
run_within(errors45 45 RUNS)
file(READ ${WORK}/errors45.log log)
string(FIND "${log}" "standard errors" at)
expect(at GREATER -1 MESSAGE "errors45: no standard errors: ${log}")
