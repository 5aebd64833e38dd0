# Installs the recorder's service files from a build tree into a scratch root and checks
# them with systemd's own tools: the unit with `systemd-analyze verify` and `security`
# (exposure below THRESHOLD tenths), the sysusers.d file by making its user in the
# scratch root's copy of the passwd and group files.
# Run with -DBUILD=<build> -DWORK=<scratch folder> -DTHRESHOLD=<tenths>
#          [-DRECORDER=<built kelvaro-recorder>].
# Prints "SKIP:" (which the test takes as skipped) where systemd's tools are missing.
foreach(var BUILD WORK THRESHOLD)
  if(NOT ${var})
    message(FATAL_ERROR "check_service.cmake needs -D${var}=...")
  endif()
endforeach()

set(root "${WORK}/root")
set(unit "${root}/usr/lib/systemd/system/kelvaro-recorder@.service")
file(REMOVE_RECURSE "${WORK}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --component recorder-service
                        --prefix "${root}/usr"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()
foreach(path "${unit}" "${root}/usr/lib/sysusers.d/kelvaro.conf"
             "${root}/usr/share/doc/kelvaro/examples/60-kelvaro-recorder.rules")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "not installed: ${path}\n${output}")
  endif()
endforeach()

# The unit names the program where this install put it, not where the build tree was
# configured to install.
file(STRINGS "${unit}" exec REGEX "^ExecStart=")
set(expected "ExecStart=${root}/usr/bin/kelvaro-recorder --device /dev/%I --dir %S/kelvaro/%I --socket %t/kelvaro/%I/kelvaro.sock")
if(NOT exec STREQUAL expected)
  message(FATAL_ERROR "unit has\n  ${exec}\nexpected\n  ${expected}")
endif()

find_program(analyze systemd-analyze)
find_program(sysusers systemd-sysusers)
if(NOT analyze OR NOT sysusers)
  message("SKIP: systemd-analyze or systemd-sysusers not found (Debian package systemd)")
  return()
endif()

# verify fails when ExecStart's program is missing or not executable. The service files
# are installed on their own, without the program, so the program's place holds the
# built recorder where this tree builds one, and /bin/true (an executable that is
# certainly there) otherwise.
if(RECORDER AND EXISTS "${RECORDER}")
  set(program "${RECORDER}")
else()
  set(program /bin/true)
endif()
file(MAKE_DIRECTORY "${root}/usr/bin")
file(CREATE_LINK "${program}" "${root}/usr/bin/kelvaro-recorder" SYMBOLIC)

# An instance of the template, as `systemctl enable kelvaro-recorder@ttyUSB0` makes it.
# verify exits 0 on unknown keys and bad values, only warning, so any output fails too.
set(instance "${root}/usr/lib/systemd/system/kelvaro-recorder@ttyUSB0.service")
execute_process(COMMAND "${analyze}" verify --man=no "${instance}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "systemd-analyze verify (status ${status}):\n${output}")
endif()

execute_process(COMMAND "${analyze}" security --offline=true --threshold=${THRESHOLD}
                        --no-pager "${instance}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
string(REGEX MATCH "Overall exposure level for [^:]*: ([0-9.]+)" overall "${output}")
if(NOT overall)
  message(FATAL_ERROR "systemd-analyze security gave no exposure level:\n${output}")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "exposure ${CMAKE_MATCH_1} is above ${THRESHOLD} tenths:\n${output}")
endif()
message(STATUS "systemd-analyze security --offline=true: exposure ${CMAKE_MATCH_1}")

# The user and its groups, made in copies of this machine's passwd and group files.
file(MAKE_DIRECTORY "${root}/etc")
foreach(name passwd group)
  if(EXISTS "/etc/${name}")
    file(COPY "/etc/${name}" DESTINATION "${root}/etc")
  endif()
endforeach()
# With --root the file is named as systemd-sysusers finds it below that root.
execute_process(COMMAND "${sysusers}" "--root=${root}" kelvaro.conf
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "systemd-sysusers failed (status ${status}):\n${output}")
endif()
file(STRINGS "${root}/etc/passwd" user REGEX "^kelvaro:")
file(STRINGS "${root}/etc/group" groups REGEX "^(kelvaro|dialout):")
if(NOT user MATCHES "^kelvaro:x:[0-9]+:[0-9]+:[^:]*:/var/lib/kelvaro:"
   OR NOT groups MATCHES "(^|;)kelvaro:x:[0-9]+:(;|$)"
   OR NOT groups MATCHES "(^|;)dialout:x:[0-9]+:([^;]*,)?kelvaro(,|;|$)")
  message(FATAL_ERROR "systemd-sysusers made\n  ${user}\n  ${groups}\n${output}")
endif()
# The user's primary group is the group kelvaro, which owns the logs.
string(REGEX MATCH "^kelvaro:x:[0-9]+:([0-9]+):" _ "${user}")
set(gid "${CMAKE_MATCH_1}")
if(NOT groups MATCHES "(^|;)kelvaro:x:${gid}:")
  message(FATAL_ERROR "kelvaro's primary group ${gid} is not the group kelvaro:\n  ${groups}")
endif()

file(REMOVE_RECURSE "${WORK}")
