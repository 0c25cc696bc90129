# Runs the tav95 program as a user would and checks its exit status and output channels.
# Variables: TAV95 (the program), SOURCE (the source tree), WORK (a scratch directory).
include(${CMAKE_CURRENT_LIST_DIR}/program_test_support.cmake)

# No arguments: the banner, then the error on standard error and a failing status.
execute_process(COMMAND ${TAV95} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect(NOT status EQUAL 0 MESSAGE "no arguments must fail, got status ${status}")
string(FIND "${out}" "Version 1.0." at)
expect(at GREATER -1 MESSAGE "banner missing from standard output: ${out}")
expect(err STREQUAL " No input and output file specified\n" MESSAGE "wrong error text: '${err}'")

# Window mode on a bundled example: log lines on standard output, a report, status 0.
execute_process(COMMAND ${TAV95} ${SOURCE}/examples/indep2x2.inp ${WORK}/example.out
                WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect(status EQUAL 0 MESSAGE "example run failed (${status}): ${err}")
string(FIND "${out}" "loading data\n" at)
expect(at GREATER -1 MESSAGE "no loading line: ${out}")
string(REGEX MATCH "cpu-time = [0-9]+\\.[0-9][0-9] seconds\n$" cpu "${out}")
expect(cpu MESSAGE "no cpu-time line at the end: ${out}")
expect(EXISTS ${WORK}/example.out MESSAGE "no report written")
file(READ ${WORK}/example.out report)
file(READ ${SOURCE}/tests/golden/indep2x2.out golden)
expect(report STREQUAL golden MESSAGE "the report differs from tests/golden/indep2x2.out")
expect(NOT EXISTS ${WORK}/tav.log MESSAGE "window mode must not write tav.log")

# Log-file mode with three arguments: tav.log in the current directory, nothing on stdout.
execute_process(COMMAND ${TAV95} ${SOURCE}/examples/indep2x2.inp ${WORK}/example2.out -log
                WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect(status EQUAL 0 MESSAGE "log-file mode failed (${status}): ${err}")
expect("x${out}" STREQUAL "x" MESSAGE "log-file mode wrote to standard output: ${out}")
file(READ ${WORK}/tav.log log)
string(FIND "${log}" "loading data" at)
expect(at GREATER -1 MESSAGE "tav.log lacks the log: ${log}")

# A missing input file: the error box text on standard error, the error as the log's last line.
execute_process(COMMAND ${TAV95} ${WORK}/missing.inp ${WORK}/x.out ${WORK}/ ${WORK}/run.log -log
                WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect(NOT status EQUAL 0 MESSAGE "missing input must fail")
expect(err STREQUAL "Cannot open file ${WORK}/missing.inp\n" MESSAGE "wrong error text: '${err}'")
file(STRINGS ${WORK}/run.log log_lines)
list(GET log_lines -1 last)
expect(last STREQUAL "Error: cannot open file ${WORK}/missing.inp" MESSAGE "log ends with '${last}'")

# --help and --version alone: their text on standard output, status 0, no log and no window.
execute_process(COMMAND ${TAV95} --help WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect(status EQUAL 0 MESSAGE "--help failed (${status}): ${err}")
string(FIND "${out}" "Usage: tav95 input report [directory [log]] [-log]\n" at)
expect(at EQUAL 0 MESSAGE "--help does not begin with the usage line: ${out}")
string(FIND "${out}" "input report dir log -log   log file" at)
expect(at GREATER -1 MESSAGE "--help lacks the table of arguments: ${out}")
expect("x${err}" STREQUAL "x" MESSAGE "--help wrote to standard error: ${err}")
execute_process(COMMAND ${TAV95} --version WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect(status EQUAL 0 MESSAGE "--version failed (${status}): ${err}")
expect(out MATCHES "^tav95 \\(TAV\\) [0-9]+\\.[0-9]+(\\.[0-9]+)*\n$" MESSAGE "--version printed '${out}'")
# A full standard output is an error.
if(EXISTS /dev/full)
  execute_process(COMMAND ${TAV95} --help OUTPUT_FILE /dev/full RESULT_VARIABLE status)
  expect(status EQUAL 1 MESSAGE "--help into a full device must fail, got ${status}")
endif()

# TAV_RESULTS_JSON: the results document beside the report, the input without wjs; the report
# is the golden one all the same. A path that names the report is refused.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TAV_RESULTS_JSON=${WORK}/env.json
                        ${TAV95} ${SOURCE}/examples/lcstouff.inp ${WORK}/env.out
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
expect(status EQUAL 0 MESSAGE "run with TAV_RESULTS_JSON failed (${status}): ${err}")
file(READ ${WORK}/env.out report)
file(READ ${SOURCE}/tests/golden/lcstouff.out golden)
expect(report STREQUAL golden MESSAGE "TAV_RESULTS_JSON changed the report")
file(READ ${WORK}/env.json document)
string(JSON program GET "${document}" program)
string(JSON classes LENGTH "${document}" latent_classes classes)
expect(program STREQUAL "tav95" AND classes EQUAL 2 MESSAGE "wrong document: ${document}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env TAV_RESULTS_JSON=${WORK}/env2.out
                        ${TAV95} ${SOURCE}/examples/lcstouff.inp ${WORK}/env2.out
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
expect(status EQUAL 1 MESSAGE "TAV_RESULTS_JSON naming the report must fail, got ${status}")
expect(err MATCHES "TAV_RESULTS_JSON" MESSAGE "wrong error text: '${err}'")
