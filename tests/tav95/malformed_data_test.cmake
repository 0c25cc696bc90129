# Runs tav95 on data that are malformed or more than the model needs, and on the forms the input
# language allows next to them: the former must stop the run naming the text and where it
# stands, the latter must give the same report as plain data.
# Variables: TAV95 (the program), SOURCE (the source tree), WORK (a scratch directory).
include(${CMAKE_CURRENT_LIST_DIR}/program_test_support.cmake)

set(table "man 2\ndim 2 2\nlab A B\nmod {A,B}\n")
set(records "${table}rec 3\n")

# run(<input text> <data text> <status variable> <message variable>)
function(run input data status_var message_var)
  file(WRITE ${WORK}/a.inp "${input}")
  file(WRITE ${WORK}/d.txt "${data}")
  file(REMOVE ${WORK}/a.out)
  execute_process(COMMAND ${TAV95} a.inp a.out ${WORK}/ a.log WORKING_DIRECTORY ${WORK}
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE message)
  set(${status_var} ${status} PARENT_SCOPE)
  set(${message_var} "${message}" PARENT_SCOPE)
endfunction()

function(refused input data text)
  run("${input}" "${data}" status message)
  expect(status EQUAL 1 MESSAGE "'${data}' in '${input}' was not refused (status ${status})")
  expect(message STREQUAL "${text}\n" MESSAGE "'${data}': wrong message '${message}'")
  expect(NOT EXISTS ${WORK}/a.out MESSAGE "'${data}': a report was written")
endfunction()

# A number that runs on into other characters is never read as a shorter one.
set(d ${WORK}/d.txt)
refused("${table}dat d.txt\n" "10 7o 30 40\n" "In data: \"7o\" is not a number, at line 1 of ${d}")
refused("${table}dat d.txt\n" "10 20\n7x9 30 40\n"
        "In data: \"7x9\" is not a number, at line 2 of ${d}")
refused("${table}dat d.txt\n" "10 7-3 30 40\n" "In data: \"7-3\" is not a number, at line 1 of ${d}")
refused("${table}dat d.txt\n" "10 1,000 2 30 40\n"
        "In data: \"1,000\" is not a number, at line 1 of ${d}")
refused("${table}dat d.txt\n" "10 20 30 4e1\n" "In data: \"4e1\" is not a number, at line 1 of ${d}")
# Brackets belong to the input file: in a data file they are not the end of a number.
refused("${table}dat d.txt\n" "10 20 30 40]\n" "In data: \"40]\" is not a number, at line 1 of ${d}")
refused("${records}dat d.txt\n" "1 1\n2 2o\n1 2\n" "In data: \"2o\" is not a number, at line 2 of ${d}")
refused("${table}dat [ 10 20\n 3o 40 ]\n" ""
        "In data: \"3o\" is not a number, at line 6 of a.inp")
refused("${table}ite 10x\ndat [ 10 20 30 40 ]\n" ""
        "\"10x\" is not a number when reading ite, at line 5 of a.inp")

# Data left over once the table or the records are read stop the run, in a file as inline.
refused("${table}dat d.txt\n" "10 20 30 40\n\n50\n"
        "In data: more numbers than the table has cells: \"50\", at line 3 of ${d}")
refused("${records}dat d.txt\n" "1 1\n2 2\n1 2\n2 1\n"
        "In data: more records than \"rec\" gives: \"2\", at line 4 of ${d}")
refused("${table}dat [ 10 20 30 40 50 ]\n" "" "A \"]\" expected in command \"dat\"")
refused("${records}dat [ 1 1\n2 2\n1 2\n2 1 ]\n" "" "A \"]\" expected in command \"dat\"")

# What the language allows gives the same report as the plain form: commas followed by a blank,
# comments, a record line with more numbers than the record needs, a closing bracket after the
# last number of inline data.
run("${table}dat d.txt\n" "10 20 30 40\n" status message)
expect(status EQUAL 0 MESSAGE "plain table data failed: ${message}")
file(READ ${WORK}/a.out plain)
foreach(form "10, 20, 30, 40\n" "10 20 * a comment, 7o\n30,\n40,\n" "10\t20\r\n30 40 * end\n\n")
  run("${table}dat d.txt\n" "${form}" status message)
  expect(status EQUAL 0 MESSAGE "'${form}' was refused: ${message}")
  file(READ ${WORK}/a.out same)
  expect(same STREQUAL plain MESSAGE "'${form}' gave another report")
endforeach()
run("${records}dat d.txt\n" "1 1\n2 2\n1 2\n" status message)
expect(status EQUAL 0 MESSAGE "plain records failed: ${message}")
file(READ ${WORK}/a.out plain)
run("${records}dat d.txt\n" "1 1 9 9\n2 2, 7\n1 2 * last\n" status message)
expect(status EQUAL 0 MESSAGE "records with surplus columns were refused: ${message}")
file(READ ${WORK}/a.out same)
expect(same STREQUAL plain MESSAGE "surplus columns changed the report")
foreach(form "[1 1\n2 2\n1 2]" "[ 1 1\n2 2\n1 2 ]" "[1 1\n2 2\n1 2 8 8]" "[1 1\n2 2\n1 2 * c\n]")
  run("${records}dat ${form}\n" "" status message)
  expect(status EQUAL 0 MESSAGE "inline records '${form}' were refused: ${message}")
endforeach()
