# Runs the tav95 program into each of its long phases and stops it there with a signal: the run
# must end within a second of the signal, with status 2, the log's last line saying so, and no
# file of the user replaced. Each input keeps the program in its phase for many seconds.
# Variables: TAV95 (the program), SOURCE (the source tree), WORK (a scratch directory).
include(${CMAKE_CURRENT_LIST_DIR}/program_test_support.cmake)
cmake_policy(SET CMP0007 NEW)

# cancel_in(NAME <name> PHASE <log text> [SIGNAL <name>]): starts WORK/NAME/run.inp, waits (up to
# a minute) until the log shows the phase's line (with PHASE "-", until the log file is there:
# the lines written while the input is read are held back until it has been read), lets the
# phase run a fifth of a second, sends the signal and times the end. The earlier report and
# result file (NAME.out, NAME.dat) must stay as they were, with no temporary file beside them.
function(cancel_in)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;PHASE;SIGNAL" "")
  if(NOT arg_SIGNAL)
    set(arg_SIGNAL TERM)
  endif()
  set(dir ${WORK}/${arg_NAME})
  file(WRITE ${dir}/${arg_NAME}.out "the earlier report\n")
  file(WRITE ${dir}/${arg_NAME}.dat "the earlier data\n")
  set(script [=[
"$0" run.inp "$1.out" ./ run.log -log >/dev/null 2>&1 &
pid=$!
tries=0
until if [ "$2" = - ]; then [ -e run.log ]; else grep -q -e "$2" run.log 2>/dev/null; fi; do
  tries=$((tries + 1))
  if [ $tries -gt 1200 ] || ! kill -0 $pid 2>/dev/null; then echo "no phase"; exit 0; fi
  sleep 0.05
done
sleep 0.2
kill -0 $pid 2>/dev/null || { echo "ended early"; exit 0; }
start=$(date +%s%N)
kill -$3 $pid
wait $pid
status=$?
echo "$status $(( ($(date +%s%N) - start) / 1000000 ))"
]=])
  execute_process(COMMAND sh -c "${script}" ${TAV95} ${arg_NAME} "${arg_PHASE}" ${arg_SIGNAL}
                  WORKING_DIRECTORY ${dir} OUTPUT_VARIABLE result
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  message(STATUS "${arg_NAME}: status and milliseconds from SIG${arg_SIGNAL} to the end: ${result}")
  expect(result MATCHES "^[0-9]+ [0-9]+$"
         MESSAGE "${arg_NAME}: the run did not stay in its phase '${arg_PHASE}': ${result}")
  string(REPLACE " " ";" result "${result}")
  list(GET result 0 status)
  list(GET result 1 milliseconds)
  expect(status EQUAL 2 MESSAGE "${arg_NAME}: SIG${arg_SIGNAL} gave status ${status}")
  expect(milliseconds LESS 1000
         MESSAGE "${arg_NAME}: the run took ${milliseconds} ms to end after SIG${arg_SIGNAL}")
  file(STRINGS ${dir}/run.log log_lines)
  list(GET log_lines -1 last)
  expect(last STREQUAL "The run was cancelled." MESSAGE "${arg_NAME}: the log ends with '${last}'")
  file(READ ${dir}/${arg_NAME}.out report)
  file(READ ${dir}/${arg_NAME}.dat data)
  expect(report STREQUAL "the earlier report\n" AND data STREQUAL "the earlier data\n"
         MESSAGE "${arg_NAME}: a cancelled run replaced the earlier report or data")
  file(GLOB left ${dir}/*.tav-*)
  expect(NOT left MESSAGE "${arg_NAME}: temporary files were left: ${left}")
endfunction()

# The standard errors of 1,802 parameters (all two-way terms of four variables of 18
# categories): the information matrix, its eigenvalues and its inverse take many seconds.
file(MAKE_DIRECTORY ${WORK}/errors)
string(REPEAT "3 1 4 1 5 9 2 6 " 13122 counts)
file(WRITE ${WORK}/errors/run.inp
     "man 4 dim 18 18 18 18 lab A B C D mod {AB,AC,AD,BC,BD,CD} dat [ ${counts}]\n")
cancel_in(NAME errors PHASE "^standard errors")

# A hazard model of 3,000,000 time intervals: the M-step of an iteration (twenty cycles, mit 20)
# passes over its table for seconds. (The report has no long phase of its own: tables of more
# than 163,800 cells or parameters are not listed, and what it writes is polled line by line.)
set(records "dat [\n1 0.5 1\n2 1.5 1\n1 2.5 0\n2 3.5 1\n]\n")
file(WRITE ${WORK}/hazard/run.inp
     "man 1 dim 2 lab A tim 3000000 haz A {A, T} exp 1 rec 4 mit 20 ${records}")
cancel_in(NAME hazard PHASE "^     0 ")

# A simulation of 30,000,000 records, which takes seconds; the earlier simulated data
# stay as they were.
file(MAKE_DIRECTORY ${WORK}/simulation)
file(WRITE ${WORK}/simulation/run.inp
     "man 2 dim 2 2 lab A B mod {A,B} sim 30000000 simulation.dat see 1\n")
cancel_in(NAME simulation PHASE "^simulating data")

# Reading 16,000,000 records (192 MB), made here and removed after.
file(MAKE_DIRECTORY ${WORK}/reading)
execute_process(COMMAND sh -c "yes '1 2 2 1 1 2' | head -n 16000000 > records.txt"
                WORKING_DIRECTORY ${WORK}/reading)
file(WRITE ${WORK}/reading/run.inp
     "man 6 dim 2 2 2 2 2 2 lab A B C D E F mod {A,B,C,D,E,F} rec 16000000 dat records.txt\n")
cancel_in(NAME reading PHASE "-")

# Random starts of a latent class model of 24 classes and 22 items (4,194,304 patterns, each
# with 24 classes to share it): every iteration is a long pass in the thread of its start.
file(MAKE_DIRECTORY ${WORK}/starts)
set(items A B C D E F G H I J K L M N O P Q R S T U V)
list(JOIN items " " labels)
list(TRANSFORM items APPEND "|X")
list(JOIN items " " terms)
string(REPEAT " 2" 22 dims)
string(REPEAT "1 2 3 4 5 6 7 8 " 524288 counts)
file(WRITE ${WORK}/starts/run.inp "lat 1 man 22 dim 24${dims} lab X ${labels} mod X ${terms} "
                                  "see 5 rst 2 thr 1 ite 100000 cri -1 nse dat [ ${counts}]\n")
cancel_in(NAME starts PHASE "random starts$")

# SIGHUP, the end of the terminal or session that started the run, cancels it as SIGTERM does,
# here while the records are read and copied to a scratch file for the latent-class file: the
# run's scratch directory goes too.
file(MAKE_DIRECTORY ${WORK}/hangup ${WORK}/scratch)
file(WRITE ${WORK}/hangup/run.inp "man 6 dim 2 2 2 2 2 2 lab A B C D E F mod {A,B,C,D,E,F} "
                                  "rec 16000000 dat ../reading/records.txt wla hangup.dat\n")
set(ENV{TMPDIR} ${WORK}/scratch)
cancel_in(NAME hangup PHASE "-" SIGNAL HUP)
unset(ENV{TMPDIR})
file(GLOB scratch ${WORK}/scratch/*)
expect(NOT scratch MESSAGE "the scratch files were left: ${scratch}")
file(REMOVE ${WORK}/reading/records.txt)
