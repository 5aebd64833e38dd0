# Installs the services' files from a build tree into a scratch root and checks them with
# systemd's own tools: each unit with `systemd-analyze verify` and `security` (exposure at
# most THRESHOLD tenths for the recorder, WEB_THRESHOLD for kelvaro-web), the sysusers.d
# file by making its users in the scratch root's copy of the passwd and group files, and
# kelvaro-web's tmpfiles.d file by making its folder there.
# Run with -DBUILD=<build> -DWORK=<scratch folder> -DTHRESHOLD=<tenths>
#          -DWEB_THRESHOLD=<tenths> [-DRECORDER=<built kelvaro-recorder>]
#          [-DWEB=<built kelvaro-web>].
# Prints "SKIP:" (which the test takes as skipped) where systemd's tools are missing.
foreach(var BUILD WORK THRESHOLD WEB_THRESHOLD)
  if(NOT ${var})
    message(FATAL_ERROR "check_service.cmake needs -D${var}=...")
  endif()
endforeach()

set(root "${WORK}/root")
set(units "${root}/usr/lib/systemd/system")
file(REMOVE_RECURSE "${WORK}")
foreach(component recorder-service web-service)
  execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --component ${component}
                          --prefix "${root}/usr"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install --component ${component} failed:\n${output}")
  endif()
endforeach()
foreach(path "${units}/kelvaro-recorder@.service" "${units}/kelvaro-web.service"
             "${root}/usr/lib/sysusers.d/kelvaro.conf"
             "${root}/usr/lib/tmpfiles.d/kelvaro-web.conf"
             "${root}/usr/share/doc/kelvaro/examples/60-kelvaro-recorder.rules")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "not installed: ${path}\n${output}")
  endif()
endforeach()

# The units name the programs where this install put them, not where the build tree was
# configured to install.
set(bin "${root}/usr/bin")
foreach(pair
    "kelvaro-recorder@.service|ExecStart=${bin}/kelvaro-recorder --device /dev/%I --dir %S/kelvaro/%I --socket %t/kelvaro/%I/kelvaro.sock"
    "kelvaro-web.service|ExecStart=${bin}/kelvaro-web --listen 0.0.0.0:8640 --users %S/kelvaro-web/users")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 expected)
  file(STRINGS "${units}/${name}" exec REGEX "^ExecStart=")
  if(NOT exec STREQUAL expected)
    message(FATAL_ERROR "${name} has\n  ${exec}\nexpected\n  ${expected}")
  endif()
endforeach()

find_program(analyze systemd-analyze)
find_program(sysusers systemd-sysusers)
find_program(tmpfiles systemd-tmpfiles)
if(NOT analyze OR NOT sysusers OR NOT tmpfiles)
  message("SKIP: systemd-analyze, systemd-sysusers or systemd-tmpfiles not found "
          "(Debian package systemd)")
  return()
endif()

# verify fails when ExecStart's program is missing or not executable. The service files
# are installed on their own, without the programs, so each program's place holds the
# built program where this tree builds one, and /bin/true (an executable that is
# certainly there) otherwise.
file(MAKE_DIRECTORY "${bin}")
foreach(pair "RECORDER|kelvaro-recorder" "WEB|kelvaro-web")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 var)
  list(GET pair 1 name)
  if(${var} AND EXISTS "${${var}}")
    file(CREATE_LINK "${${var}}" "${bin}/${name}" SYMBOLIC)
  else()
    file(CREATE_LINK /bin/true "${bin}/${name}" SYMBOLIC)
  endif()
endforeach()

# check_unit(UNIT TENTHS): verify, then security. For the recorder an instance of the
# template, as the udev rule starts it. verify exits 0 on unknown keys and bad values,
# only warning, so any output fails too.
function(check_unit unit tenths)
  execute_process(COMMAND "${analyze}" verify --man=no "${unit}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0 OR NOT output STREQUAL "")
    message(FATAL_ERROR "systemd-analyze verify ${unit} (status ${status}):\n${output}")
  endif()
  execute_process(COMMAND "${analyze}" security --offline=true --threshold=${tenths}
                          --no-pager "${unit}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX MATCH "Overall exposure level for [^:]*: ([0-9.]+)" overall "${output}")
  if(NOT overall)
    message(FATAL_ERROR "systemd-analyze security gave no exposure level:\n${output}")
  endif()
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${unit}: exposure ${CMAKE_MATCH_1} is above ${tenths} tenths:\n"
                        "${output}")
  endif()
  get_filename_component(name "${unit}" NAME)
  message(STATUS "systemd-analyze security --offline=true ${name}: exposure ${CMAKE_MATCH_1}")
endfunction()
check_unit("${units}/kelvaro-recorder@ttyUSB0.service" ${THRESHOLD})
check_unit("${units}/kelvaro-web.service" ${WEB_THRESHOLD})

# The users and their groups, made in copies of this machine's passwd and group files.
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
file(STRINGS "${root}/etc/passwd" users REGEX "^kelvaro(-web)?:")
file(STRINGS "${root}/etc/group" groups REGEX "^(kelvaro|kelvaro-web|dialout):")
# kelvaro is in dialout for the serial ports, kelvaro-web in kelvaro for the recorders'
# sockets; each user's primary group is its own.
if(NOT users MATCHES "(^|;)kelvaro:x:[0-9]+:[0-9]+:[^:]*:/var/lib/kelvaro:"
   OR NOT users MATCHES "(^|;)kelvaro-web:x:[0-9]+:[0-9]+:[^:]*:/var/lib/kelvaro-web:"
   OR NOT groups MATCHES "(^|;)kelvaro:x:[0-9]+:([^;]*,)?kelvaro-web(,|;|$)"
   OR NOT groups MATCHES "(^|;)dialout:x:[0-9]+:([^;]*,)?kelvaro(,|;|$)")
  message(FATAL_ERROR "systemd-sysusers made\n  ${users}\n  ${groups}\n${output}")
endif()
foreach(name kelvaro kelvaro-web)
  string(REGEX MATCH "(^|;)${name}:x:[0-9]+:([0-9]+):" _ "${users}")
  set(gid "${CMAKE_MATCH_2}")
  if(NOT groups MATCHES "(^|;)${name}:x:${gid}:")
    message(FATAL_ERROR "${name}'s primary group ${gid} is not the group ${name}:\n"
                        "  ${groups}")
  endif()
endforeach()

# kelvaro-web's folder, as postinst makes it: the user's alone, so that its users file can
# be written before the service first starts.
execute_process(COMMAND "${tmpfiles}" "--root=${root}" --create kelvaro-web.conf
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
# The owner is its number in the scratch root's passwd, which this machine may not know.
string(REGEX MATCH "(^|;)kelvaro-web:x:([0-9]+):" _ "${users}")
set(expected "700 ${CMAKE_MATCH_2}")
set(folder "${root}/var/lib/kelvaro-web")
execute_process(COMMAND stat -c "%a %u" "${folder}" OUTPUT_VARIABLE made
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT status EQUAL 0 OR NOT made STREQUAL expected)
  message(FATAL_ERROR "systemd-tmpfiles (status ${status}) made ${folder} as '${made}' "
                      "(mode, owner), expected '${expected}':\n${output}")
endif()

file(REMOVE_RECURSE "${WORK}")
