# Builds the Debian package from a build tree into a scratch folder and checks that it
# holds both programs, the desktop entry and the icon, the recorder's service files and
# the script that makes its user, and that its dependencies were worked out from the
# linked libraries.
# Run with -DCPACK=<cpack> -DCONFIG=<build>/CPackConfig.cmake -DWORK=<scratch folder>.
foreach(var CPACK CONFIG WORK)
  if(NOT ${var})
    message(FATAL_ERROR "check_package.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${CONFIG}" -B "${WORK}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB packages "${WORK}/*.deb")
list(LENGTH packages count)
if(NOT status EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack failed (status ${status}, ${count} packages):\n${output}")
endif()

execute_process(COMMAND dpkg-deb -c "${packages}" RESULT_VARIABLE status
                OUTPUT_VARIABLE listing ERROR_VARIABLE listing)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c failed:\n${listing}")
endif()
set(missing "")
foreach(path usr/bin/kelvaro usr/bin/kelvaro-board-sim
             usr/share/applications/kelvaro.desktop
             usr/share/icons/hicolor/scalable/apps/kelvaro.svg)
  # Each entry ends the line: "usr/bin/kelvaro" must not match "usr/bin/kelvaro-board-sim".
  string(REGEX MATCH " \\./${path}\n" found "${listing}")
  if(NOT found)
    list(APPEND missing ${path})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "not in the package: ${missing}\n${listing}")
endif()

# The recorder's service: the unit names the program where the package puts it, and the
# maintainer scripts make the service's user.
file(MAKE_DIRECTORY "${WORK}/tree")
execute_process(COMMAND dpkg-deb -x "${packages}" "${WORK}/tree" RESULT_VARIABLE status
                OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(unit "${WORK}/tree/usr/lib/systemd/system/kelvaro-recorder@.service")
if(NOT status EQUAL 0 OR NOT EXISTS "${unit}"
   OR NOT EXISTS "${WORK}/tree/usr/lib/sysusers.d/kelvaro.conf"
   OR NOT EXISTS "${WORK}/tree/usr/share/doc/kelvaro/examples/60-kelvaro-recorder.rules")
  message(FATAL_ERROR "the recorder's service files are not in the package:\n${output}\n${listing}")
endif()
file(STRINGS "${unit}" exec REGEX "^ExecStart=")
if(NOT exec MATCHES "^ExecStart=/usr/bin/kelvaro-recorder ")
  message(FATAL_ERROR "the packaged unit runs ${exec}, not /usr/bin/kelvaro-recorder")
endif()
execute_process(COMMAND dpkg-deb -I "${packages}" postinst RESULT_VARIABLE status
                OUTPUT_VARIABLE postinst ERROR_VARIABLE postinst)
if(NOT status EQUAL 0 OR NOT postinst MATCHES "systemd-sysusers[^\n]* kelvaro\\.conf")
  message(FATAL_ERROR "the package's postinst does not make the user:\n${postinst}")
endif()

execute_process(COMMAND dpkg-deb -f "${packages}" Depends RESULT_VARIABLE status
                OUTPUT_VARIABLE depends ERROR_VARIABLE depends)
if(NOT status EQUAL 0 OR NOT depends MATCHES "(^|, )libqt6serialport6( |,|\n|$)")
  message(FATAL_ERROR "Depends does not name libqt6serialport6: ${depends}")
endif()

message(STATUS "package ${packages}\nDepends: ${depends}")
file(REMOVE_RECURSE "${WORK}")
