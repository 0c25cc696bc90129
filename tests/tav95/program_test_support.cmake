# What the tests that run the tav95 program share: no display (the log goes to standard
# output), a fresh scratch directory WORK, and expect(). Included by those tests.
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
unset(ENV{QT_QPA_PLATFORM})
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# expect(<condition words> MESSAGE <text>): stops the test with text when the condition is false.
function(expect)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "MESSAGE" "")
  if(NOT (${arg_UNPARSED_ARGUMENTS}))
    message(FATAL_ERROR "${arg_MESSAGE}")
  endif()
endfunction()
