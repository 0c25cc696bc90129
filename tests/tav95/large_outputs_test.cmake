# Runs tav95 on inputs whose outputs would be too large to read: they stay readable as the
# frequency table and README promise.
# Variables: TAV95 (the program), SOURCE (the source tree), WORK (a scratch directory).
include(${CMAKE_CURRENT_LIST_DIR}/program_test_support.cmake)

function(run_tav95 name)
  execute_process(COMMAND ${TAV95} ${name}.inp ${name}.out ${WORK}/ ${name}.log -log
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
  expect(status EQUAL 0 MESSAGE "${name}: status ${status}: ${err}")
endfunction()

# A variable of 200,000 categories: its parameters are not listed, as its frequencies are not.
string(REPEAT "1 2 3 4 5\n" 40000 counts)
file(WRITE ${WORK}/wide.txt "${counts}")
file(WRITE ${WORK}/wide.inp "man 1\ndim 200000\nlab A\nmod {A}\ndat wide.txt\n")
run_tav95(wide)
file(SIZE ${WORK}/wide.out size)
expect(size LESS 4000 MESSAGE "the report of 200,000 categories has ${size} bytes")
file(STRINGS ${WORK}/wide.out lines REGEX "Not listed")
expect(lines STREQUAL "  Not listed: the observed table has more than 163800 cells.;  Not listed: the effect has more than 163800 cells.;  Not listed: the table has more than 163800 cells."
       MESSAGE "not-listed lines: ${lines}")

# 3,000 inline records: the echo shows the first 1,000 lines of data and counts the rest (the
# line of the closing bracket is one of them).
string(REPEAT "1 1\n2 2\n1 2\n" 1000 records)
file(WRITE ${WORK}/records.inp "man 2\ndim 2 2\nlab A B\nmod {A,B}\nrec 3000\ndat [\n${records}]\n")
run_tav95(records)
file(READ ${WORK}/records.out report)
string(REPEAT "  1 1\n  2 2\n  1 2\n" 333 shown)
string(FIND "${report}" "  dat [\n${shown}  1 1\n  (2001 more lines of data not shown)\n\n" at)
expect(at GREATER 0 MESSAGE "the echo does not stop after 1,000 lines of data")

# Counts of some 1E9: the log's columns stay apart (four numbers on every iteration line).
file(WRITE ${WORK}/huge.inp
     "man 2\ndim 2 2\nlab A B\nmod A B\ndat [ 1000000000 2000000000 3000000000 100 ]\n")
run_tav95(huge)
file(STRINGS ${WORK}/huge.log iterations REGEX "^ +[0-9]+ +-")
list(LENGTH iterations count)
expect(count GREATER 1 MESSAGE "no iteration lines in the log")
foreach(line ${iterations})
  string(REGEX MATCHALL "[^ ]+" fields "${line}")
  list(LENGTH fields n)
  expect(n EQUAL 4 MESSAGE "the log's columns run together: '${line}'")
endforeach()
