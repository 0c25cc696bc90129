# Runs the tav95 program as a user would and checks that no file of the user is lost or
# corrupted: full disks, clashing file names, concurrent runs, signals, odd files and names.
# Variables: TAV95 (the program), SOURCE (the source tree), WORK (a scratch directory).
include(${CMAKE_CURRENT_LIST_DIR}/program_test_support.cmake)

# A full disk: /dev/full as the report stops the run with exit status 1 and a message naming
# it; the device is written directly, never replaced.
execute_process(COMMAND ${TAV95} ${SOURCE}/examples/indep2x2.inp /dev/full ${WORK}/ ${WORK}/full.log -log
                WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect(status EQUAL 1 MESSAGE "a report on /dev/full must fail with status 1, got ${status}")
expect(err STREQUAL "Cannot write file /dev/full\n" MESSAGE "wrong error text: '${err}'")
file(STRINGS ${WORK}/full.log log_lines)
list(GET log_lines -1 last)
expect(last STREQUAL "Error: cannot write file /dev/full" MESSAGE "log ends with '${last}'")

# A write that fails half-way (injected) leaves the earlier report as it was and no temporary
# file beside it. Without a log file every write is the report's; with one, the log's own
# failure stops the run too.
file(MAKE_DIRECTORY ${WORK}/atomic)
file(COPY ${SOURCE}/examples/lcstouff.inp DESTINATION ${WORK}/atomic)
execute_process(COMMAND ${TAV95} lcstouff.inp lcstouff.out ./ run.log -log
                WORKING_DIRECTORY ${WORK}/atomic RESULT_VARIABLE status)
expect(status EQUAL 0 MESSAGE "the first run failed (${status})")
file(READ ${WORK}/atomic/lcstouff.out before)
foreach(fail_at 1 100 200 300)
  set(ENV{TAV_FAIL_WRITE_AT} ${fail_at})
  execute_process(COMMAND ${TAV95} lcstouff.inp lcstouff.out
                  WORKING_DIRECTORY ${WORK}/atomic RESULT_VARIABLE status ERROR_VARIABLE err
                  OUTPUT_QUIET)
  execute_process(COMMAND ${TAV95} lcstouff.inp lcstouff.out ./ run.log -log
                  WORKING_DIRECTORY ${WORK}/atomic RESULT_VARIABLE log_status
                  ERROR_VARIABLE log_err)
  unset(ENV{TAV_FAIL_WRITE_AT})
  expect(status EQUAL 1 MESSAGE "write ${fail_at} failed, yet the status is ${status}")
  expect(err STREQUAL "Cannot write file lcstouff.out\n"
         MESSAGE "no message for the failed write ${fail_at}: '${err}'")
  expect(log_status EQUAL 1 MESSAGE "log write ${fail_at} failed, yet the status is ${status}")
  # With a log the writes go to both files: the one that fails is named.
  expect(log_err MATCHES "^Cannot write file (run\\.log|lcstouff\\.out)\n$"
         MESSAGE "no message for the failed log write ${fail_at}: '${log_err}'")
  file(READ ${WORK}/atomic/lcstouff.out after)
  expect(after STREQUAL before MESSAGE "a failed run changed the earlier report (${fail_at})")
  file(GLOB left ${WORK}/atomic/*.tav-*)
  expect(NOT left MESSAGE "temporary files were left: ${left}")
endforeach()

# A run is all or nothing: a write that fails anywhere, the last one included (the results
# document or the covariances come last), leaves the report and every result file as the run
# before left them, and no temporary file. The writes are counted first: the last n for which
# an injected failure still fails the run is the run's last write.
set(whole ${WORK}/whole)
file(MAKE_DIRECTORY ${whole})
file(WRITE ${whole}/all.inp "lat 1 man 4 dim 2 2 2 2 2 lab X A B C D mod X A|X B|X C|X D|X "
                            "see 1234 wfi fi.txt wma A ma.txt wfr fr.txt wda da.txt wco co.txt "
                            "wpa pa.txt wla la.txt wpo po.txt wse se.cov wjs doc.json "
                            "dat [ 42 23 6 25 6 24 7 38 1 4 1 6 2 9 2 20 ]\n")
set(results all.out fi.txt ma.txt fr.txt da.txt co.txt pa.txt la.txt po.txt se.cov doc.json)
execute_process(COMMAND ${TAV95} all.inp all.out WORKING_DIRECTORY ${whole}
                RESULT_VARIABLE status OUTPUT_QUIET)
expect(status EQUAL 0 MESSAGE "the run with every result file failed (${status})")
function(fail_write_at at result)
  set(ENV{TAV_FAIL_WRITE_AT} ${at})
  execute_process(COMMAND ${TAV95} all.inp all.out WORKING_DIRECTORY ${whole}
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  unset(ENV{TAV_FAIL_WRITE_AT})
  set(${result} ${status} PARENT_SCOPE)
endfunction()
set(low 1)
set(high 100000)
while(high GREATER low)
  math(EXPR middle "(${low} + ${high} + 1) / 2")
  fail_write_at(${middle} status)
  if(status EQUAL 1)
    set(low ${middle})
  else()
    math(EXPR high "${middle} - 1")
  endif()
endwhile()
math(EXPR before_last "${low} - 1")
# The runs that went through have rewritten the files (and wpa has appended to its own).
foreach(name ${results})
  file(READ ${whole}/${name} before_${name})
endforeach()
foreach(at 1 ${before_last} ${low})
  fail_write_at(${at} status)
  expect(status EQUAL 1 MESSAGE "write ${at} of ${low} failed, yet the status is ${status}")
  foreach(name ${results})
    file(READ ${whole}/${name} after)
    expect(after STREQUAL "${before_${name}}"
           MESSAGE "a run that failed at write ${at} of ${low} replaced ${name}")
  endforeach()
  file(GLOB left ${whole}/*.tav-*)
  expect(NOT left MESSAGE "write ${at} of ${low}: temporary files were left: ${left}")
endforeach()

# No file the run writes may replace another of its files; the files stay as they were.
set(guard ${WORK}/guard)
file(MAKE_DIRECTORY ${guard})
file(WRITE ${guard}/model.inp "man 2 dim 2 2 mod {A,B} dat data.txt\n")
file(WRITE ${guard}/data.txt "10 20 30 40\n")
file(WRITE ${guard}/earlier.out "an earlier report\n")
file(WRITE ${guard}/wse.inp "man 2 dim 2 2 mod {A,B} dat data.txt wse earlier.out\n")
file(WRITE ${guard}/wselog.inp "man 2 dim 2 2 mod {A,B} dat data.txt wse tav.log\n")
function(refused)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TEXT" "ARGS")
  execute_process(COMMAND ${TAV95} ${arg_ARGS} WORKING_DIRECTORY ${guard}
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
  expect(status EQUAL 1 MESSAGE "${arg_ARGS}: status ${status}, not refused")
  expect(err STREQUAL "${arg_TEXT}\n" MESSAGE "${arg_ARGS}: wrong message '${err}'")
  file(READ ${guard}/data.txt data)
  expect(data STREQUAL "10 20 30 40\n" MESSAGE "${arg_ARGS}: the data file changed")
  file(READ ${guard}/earlier.out report)
  expect(report STREQUAL "an earlier report\n" MESSAGE "${arg_ARGS}: the report changed")
endfunction()
refused(ARGS model.inp data.txt TEXT "Report file would overwrite the data file data.txt")
refused(ARGS model.inp x.out ./ data.txt -log
        TEXT "Log file would overwrite the data file data.txt")
refused(ARGS model.inp earlier.out ./ earlier.out -log
        TEXT "Log file and report file are the same file earlier.out")
refused(ARGS model.inp fresh.out ./ fresh.out -log
        TEXT "Log file and report file are the same file fresh.out")
refused(ARGS wse.inp earlier.out ./ run.log -log
        TEXT "Result file earlier.out would overwrite a file of this run")
refused(ARGS wselog.inp z.out -log TEXT "Result file tav.log would overwrite a file of this run")
expect(NOT EXISTS ${guard}/x.out AND NOT EXISTS ${guard}/z.out AND NOT EXISTS ${guard}/fresh.out
       MESSAGE "a refused run wrote its report")

# One file under other names is still one file, whether it exists yet or not: "./", the full
# path, a detour through "..", a linked folder. Every pair of files a run reads or writes is
# refused as when both names are spelled alike.
file(MAKE_DIRECTORY ${guard}/sub)
file(CREATE_LINK ${guard} ${guard}/linked SYMBOLIC)
file(WRITE ${guard}/start.txt "1 1\n")
file(WRITE ${guard}/des.inp "man 2 dim 2 2 mod {A,B,cov(AB 1)} des design.txt dat data.txt\n")
file(WRITE ${guard}/design.txt "1 2 2 4\n")
# refused_pair(<commands> ARGS <after the input> TEXT ...): refused() on pair.inp, a 2 x 2 model
# with commands, as the input.
function(refused_pair commands)
  file(WRITE ${guard}/pair.inp "man 2 dim 2 2 mod {A,B} ${commands}\n")
  set(args ${ARGN})
  list(INSERT args 1 pair.inp)
  refused(${args})
endfunction()
foreach(at "./" "${guard}/" "sub/../" "linked/" "linked/sub/../")
  refused(ARGS model.inp fresh.out ./ ${at}fresh.out -log
          TEXT "Log file and report file are the same file fresh.out")
  refused(ARGS model.inp ${at}model.inp TEXT "Report file would overwrite the input file ${at}model.inp")
  refused(ARGS model.inp ${at}data.txt TEXT "Report file would overwrite the data file data.txt")
  refused(ARGS model.inp x.out ./ ${at}data.txt -log
          TEXT "Log file would overwrite the data file data.txt")
  refused_pair("dat data.txt wjs ${at}r.out" ARGS r.out
               TEXT "Result file ${at}r.out would overwrite a file of this run")
  refused_pair("dat data.txt wfi r.txt wjs ${at}r.txt" ARGS p.out
               TEXT "Result file ${at}r.txt would overwrite a file of this run")
  refused_pair("dat data.txt wfr ${at}data.txt" ARGS p.out
               TEXT "Result file ${at}data.txt would overwrite a file of this run")
  refused_pair("dat data.txt wse ${at}pair.inp" ARGS p.out
               TEXT "Result file ${at}pair.inp would overwrite a file of this run")
  refused_pair("dat data.txt wpa p.log" ARGS p.out ./ ${at}p.log -log
               TEXT "Result file p.log would overwrite a file of this run")
  refused_pair("sim 10 ${at}s.out" ARGS s.out
               TEXT "Result file ${at}s.out would overwrite a file of this run")
  refused_pair("sim 10 ${at}data.txt dat data.txt" ARGS p.out
               TEXT "Result file ${at}data.txt would overwrite a file of this run")
  refused(ARGS des.inp ${at}design.txt TEXT "Report file would overwrite the design file design.txt")
  refused_pair("sta A ${at}start.txt dat data.txt" ARGS start.txt
               TEXT "Report file would overwrite the start-value file ${at}start.txt")
  refused_pair("sta A start.txt dat data.txt wjs ${at}start.txt" ARGS p.out ./ ${at}start.txt -log
               TEXT "Log file would overwrite the start-value file start.txt")
  refused(ARGS pair.inp p.out TEXT "Result file ${at}start.txt would overwrite a file of this run")
  # A wma file named twice, however spelled, gets both margins.
  file(WRITE ${guard}/pair.inp "man 2 dim 2 2 mod {A,B} dat data.txt wma A m.txt wma B ${at}m.txt\n")
  execute_process(COMMAND ${TAV95} pair.inp m.out WORKING_DIRECTORY ${guard}
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
  file(READ ${guard}/m.txt margins)
  expect(status EQUAL 0 AND margins MATCHES "^[^\n]+\n[^\n]+\n\n[^\n]+\n[^\n]+\n\n$"
         MESSAGE "${at}: wma m.txt and ${at}m.txt gave status ${status} (${err}) and '${margins}'")
  file(REMOVE ${guard}/m.txt ${guard}/m.out)
  set(ENV{TAV_RESULTS_JSON} ${at}doc.json)
  refused(ARGS model.inp doc.json
          TEXT "Results document ${at}doc.json (TAV_RESULTS_JSON) would overwrite a file of this run")
  unset(ENV{TAV_RESULTS_JSON})
  file(READ ${guard}/start.txt start)
  file(READ ${guard}/design.txt design)
  expect(start STREQUAL "1 1\n" AND design STREQUAL "1 2 2 4\n"
         MESSAGE "${at}: the start-value or design file changed")
  foreach(name fresh.out r.out r.txt s.out p.out doc.json)
    expect(NOT EXISTS ${guard}/${name} MESSAGE "${at}: a refused run wrote ${name}")
  endforeach()
endforeach()

# A log that another run holds is refused at once and left as it was.
find_program(FLOCK flock)
if(FLOCK)
  file(WRITE ${guard}/held.log "the other run's log\n")
  # The engine starts once the lock is held (the marker file says so), however busy the machine.
  file(REMOVE ${guard}/locked)
  execute_process(COMMAND ${FLOCK} ${guard}/held.log sh -c "touch locked; sleep 3"
                  COMMAND sh -c "while [ ! -e locked ]; do sleep 0.05; done; exec '${TAV95}' model.inp w.out ./ held.log -log"
                  WORKING_DIRECTORY ${guard} RESULTS_VARIABLE statuses ERROR_VARIABLE err)
  list(GET statuses 1 status)
  expect(status EQUAL 1 MESSAGE "a held log was not refused (${status})")
  expect(err STREQUAL "Another run is writing the log file held.log\n"
         MESSAGE "wrong message for a held log: '${err}'")
  file(READ ${guard}/held.log held)
  expect(held STREQUAL "the other run's log\n" MESSAGE "the other run's log changed")
endif()

# A result file the model cannot give stops the run instead of leaving a stale file.
file(WRITE ${guard}/wha.inp "man 2 dim 2 2 mod {A,B} dat data.txt wha f.txt\n")
refused(ARGS wha.inp a.out TEXT "Command wha needs an event history model (haz)")
# A result file that cannot be written stops the run.
file(WRITE ${guard}/wfi.inp "man 2 dim 2 2 mod {A,B} dat data.txt wfi /dev/full\n")
refused(ARGS wfi.inp a.out TEXT "Cannot write file /dev/full")

# Only regular files are read: a device, a FIFO or a directory is refused at once.
file(WRITE ${guard}/zero.inp "man 2 dim 2 2 mod {A,B} dat /dev/zero\n")
file(MAKE_DIRECTORY ${guard}/folder)
file(WRITE ${guard}/folder.inp "man 2 dim 2 2 mod {A,B} dat folder\n")
refused(ARGS /dev/zero b.out TEXT "File /dev/zero is not a regular file")
refused(ARGS zero.inp b.out TEXT "File /dev/zero is not a regular file")
refused(ARGS folder.inp b.out TEXT "File folder is not a regular file")
find_program(MKFIFO mkfifo)
if(MKFIFO)
  execute_process(COMMAND ${MKFIFO} ${guard}/pipe.inp)
  refused(ARGS pipe.inp b.out TEXT "File pipe.inp is not a regular file")
endif()

# A byte-order mark before the first command is skipped; long names are taken whole.
string(ASCII 239 187 191 bom)
set(deep ${guard}/a-directory-whose-name-is-long/and-another-one-below-it/and-a-third-to-pass-160-characters)
file(MAKE_DIRECTORY ${deep})
file(WRITE ${deep}/model-with-a-long-name.inp "${bom}man 2 dim 2 2 mod {A,B} dat data-with-a-long-name.txt\n")
file(WRITE ${deep}/data-with-a-long-name.txt "10 20 30 40\n")
execute_process(COMMAND ${TAV95} ${deep}/model-with-a-long-name.inp ${deep}/report-with-a-long-name.out
                        ${deep}/ ${deep}/log-with-a-long-name.log -log
                RESULT_VARIABLE status ERROR_VARIABLE err)
expect(status EQUAL 0 MESSAGE "long names or the byte-order mark failed (${status}): ${err}")
expect(EXISTS ${deep}/report-with-a-long-name.out MESSAGE "the report of a long name is missing")

# Two runs at once in one directory, both with latent-class files from aggregated records: each
# file holds its own run's values, as when it runs alone, and no scratch file is left there.
set(twin ${WORK}/twin)
file(MAKE_DIRECTORY ${twin})
foreach(run one two)
  if(run STREQUAL one)
    set(records "1 1\n1 1\n1 2\n2 2\n2 2\n2 1\n1 1\n2 2\n")
  else()
    set(records "1 2\n1 2\n2 1\n2 1\n1 1\n2 2\n1 2\n2 1\n")
  endif()
  file(WRITE ${twin}/${run}.inp
       "lat 1 man 2 dim 2 2 2 mod X A|X B|X rec 8 see 7 dat [ ${records}] wla ${run}.lat\n")
  execute_process(COMMAND ${TAV95} ${run}.inp ${run}.out ./ ${run}.log -log
                  WORKING_DIRECTORY ${twin} RESULT_VARIABLE status)
  expect(status EQUAL 0 MESSAGE "${run} alone failed (${status})")
  file(RENAME ${twin}/${run}.lat ${twin}/${run}.alone)
endforeach()
execute_process(COMMAND ${TAV95} one.inp one.out ./ one.log -log
                COMMAND ${TAV95} two.inp two.out ./ two.log -log
                WORKING_DIRECTORY ${twin} RESULTS_VARIABLE statuses)
expect(statuses STREQUAL "0;0" MESSAGE "concurrent runs failed (${statuses})")
foreach(run one two)
  file(READ ${twin}/${run}.lat together)
  file(READ ${twin}/${run}.alone alone)
  expect(together STREQUAL alone MESSAGE "${run}'s latent-class file took the other run's values")
endforeach()
file(GLOB scratch ${twin}/___*)
expect(NOT scratch MESSAGE "scratch files were left: ${scratch}")

# SIGTERM and SIGINT cancel the run as "Cancel" does: a last log line saying so, status 2.
file(WRITE ${twin}/long.inp
     "lat 1 man 2 dim 3 2 2 mod X A|X B|X see 7 ite 100000000 cri -1 dat [ 10 20 30 40 ]\n")
foreach(signal TERM INT)
  execute_process(COMMAND sh -c "'${TAV95}' long.inp long.out ./ long.log -log & pid=$!; sleep 1; kill -${signal} $pid; wait $pid; echo $?"
                  WORKING_DIRECTORY ${twin} OUTPUT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  expect(status STREQUAL "2" MESSAGE "SIG${signal} gave status '${status}'")
  file(STRINGS ${twin}/long.log log_lines)
  list(GET log_lines -1 last)
  expect(last STREQUAL "The run was cancelled." MESSAGE "the log after SIG${signal} ends with '${last}'")
  expect(NOT EXISTS ${twin}/long.out MESSAGE "a cancelled run wrote its report")
endforeach()

# A run that stops on an error while its report is being written (a wse file in a directory
# that does not exist) leaves the earlier report as it was.
file(WRITE ${guard}/missing.inp "man 2 dim 2 2 mod {A,B} dat data.txt wse no/such/dir/se.txt\n")
refused(ARGS missing.inp earlier.out ./ missing.log -log
        TEXT "Cannot open file ./no/such/dir/se.txt")

# A saturated margin of 2^63 cells (63 of 64 dichotomous variables) is laid out without an
# overflowing cast (the sanitizer build checks), and its data are then too few.
set(variables "")
foreach(v RANGE 1 64)
  string(APPEND variables " 2")
endforeach()
file(WRITE ${guard}/huge.inp "man 64 dim${variables} mod A dat [ 1 2 ]\n")
refused(ARGS huge.inp h.out TEXT "Too few numbers encountered when reading observed frequencies")

# A name beyond the platform's path limit is refused, never cut.
string(REPEAT "n" 5000 long_name)
refused(ARGS model.inp ${long_name}.out TEXT "File name longer than 4096 characters")
