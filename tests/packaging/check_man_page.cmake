# Checks that a program's manual page names every option its --help lists, long form and
# short form, so that the two cannot drift apart.
# Run with -DPROGRAM=<built program> -DPAGE=<built page, roff>.
# Prints "SKIP:" (which the test takes as skipped) where the page was not built (no scdoc).
foreach(var PROGRAM PAGE)
  if(NOT ${var})
    message(FATAL_ERROR "check_man_page.cmake needs -D${var}=...")
  endif()
endforeach()
if(NOT EXISTS "${PAGE}")
  message("SKIP: ${PAGE} was not built (Debian package scdoc)")
  return()
endif()

execute_process(COMMAND "${PROGRAM}" --help RESULT_VARIABLE status OUTPUT_VARIABLE help
                ERROR_VARIABLE error)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help ended with ${status}:\n${help}${error}")
endif()

# The options are the lines of the help that begin with a dash after the indent:
# "  -v, --version        Displays version information."
set(options "")
string(REPLACE "\n" ";" lines "${help}")
foreach(line IN LISTS lines)
  if(line MATCHES "^ +(-[^ ].*)$")
    # The names end where the description starts: two spaces or more.
    string(REGEX REPLACE "  .*$" "" names "${CMAKE_MATCH_1}")
    string(REGEX MATCHALL "(^|[ ,])--?[A-Za-z0-9?][-A-Za-z0-9]*" found "${names}")
    foreach(name IN LISTS found)
      string(REGEX REPLACE "^[ ,]" "" name "${name}")
      list(APPEND options "${name}")
    endforeach()
  endif()
endforeach()
list(LENGTH options count)
if(count LESS 2)
  message(FATAL_ERROR "found ${count} options in the help of ${PROGRAM}:\n${help}")
endif()

# The page as its reader sees the words: without roff's font changes and hyphen escapes.
file(READ "${PAGE}" page)
string(REGEX REPLACE "\\\\f[BIRP]" "" page "${page}")
string(REPLACE "\\-" "-" page "${page}")
string(REPLACE "\\(en" "-" page "${page}")
set(missing "")
foreach(name IN LISTS options)
  # Whole options only: "--mqtt" is not found in "--mqtt-ca".
  string(REGEX REPLACE "([?])" "[\\1]" pattern "${name}")
  if(NOT page MATCHES "(^|[^-A-Za-z0-9])${pattern}([^-A-Za-z0-9]|$)")
    list(APPEND missing "${name}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${PAGE} does not name these options of ${PROGRAM} --help: ${missing}")
endif()
message(STATUS "${PAGE}: all ${count} options of --help (${options})")
