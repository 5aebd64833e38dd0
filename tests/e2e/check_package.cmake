# Builds the Debian package from a build tree into a scratch folder and checks that it
# holds both programs, the desktop entry, the icon, the service files of the recorder and
# of kelvaro-web and the script that makes their users, the manual pages, the bash
# completion, the changelog and a machine-readable copyright file naming the licence, and
# that its dependencies were worked out from the linked libraries.
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
foreach(path usr/bin/kelvaro usr/bin/kelvaro-recorder usr/bin/kelvaro-ctl usr/bin/kelvaro-board-sim
             usr/share/applications/kelvaro.desktop
             usr/share/icons/hicolor/scalable/apps/kelvaro.svg
             usr/share/doc/kelvaro/copyright usr/share/doc/kelvaro/changelog.gz
             usr/share/man/man1/kelvaro.1.gz usr/share/man/man1/kelvaro-recorder.1.gz
             usr/share/man/man1/kelvaro-ctl.1.gz usr/share/man/man1/kelvaro-board-sim.1.gz
             usr/share/man/man1/kelvaro-web.1.gz
             usr/share/bash-completion/completions/kelvaro-ctl
             usr/share/bash-completion/completions/kelvaro-recorder
             usr/share/bash-completion/completions/kelvaro-web
             usr/lib/systemd/system/kelvaro-web.service
             usr/lib/tmpfiles.d/kelvaro-web.conf)
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
foreach(pair "kelvaro-recorder@.service|kelvaro-recorder" "kelvaro-web.service|kelvaro-web")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 program)
  file(STRINGS "${WORK}/tree/usr/lib/systemd/system/${name}" exec REGEX "^ExecStart=")
  if(NOT exec MATCHES "^ExecStart=/usr/bin/${program} ")
    message(FATAL_ERROR "the packaged ${name} runs ${exec}, not /usr/bin/${program}")
  endif()
endforeach()
# The users, then kelvaro-web's folder, which belongs to one of them.
execute_process(COMMAND dpkg-deb -I "${packages}" postinst RESULT_VARIABLE status
                OUTPUT_VARIABLE postinst ERROR_VARIABLE postinst)
if(NOT status EQUAL 0
   OR NOT postinst MATCHES "systemd-sysusers[^\n]* kelvaro\\.conf.*systemd-tmpfiles[^\n]* --create kelvaro-web\\.conf")
  message(FATAL_ERROR "the package's postinst does not make the users and then kelvaro-web's "
                      "folder:\n${postinst}")
endif()
# kelvaro-web is not started on install: it has no users yet.
if(postinst MATCHES "(systemctl|deb-systemd-[a-z]+)[^\n]* (enable|start) [^\n]*kelvaro-web")
  message(FATAL_ERROR "the package's postinst enables or starts kelvaro-web:\n${postinst}")
endif()

# The copyright file in Debian's machine-readable format (DEP-5): a header paragraph naming
# the format, a "Files: *" paragraph with its copyright holders and licence, and the text
# of every licence a Files paragraph only names in a stand-alone License paragraph.
set(root "${WORK}/tree")
file(READ "${root}/usr/share/doc/kelvaro/copyright" copyright)
# Semicolons and brackets would confuse CMake's lists; the checks never look at them.
string(REGEX REPLACE "[][;]" "_" paragraphs "${copyright}")
string(REGEX REPLACE "\n\n+" ";" paragraphs "${paragraphs}")
list(POP_FRONT paragraphs header)
if(NOT header MATCHES "^Format: https?://www\\.debian\\.org/doc/packaging-manuals/copyright-format/1\\.0/?\n")
  message(FATAL_ERROR "the copyright file does not start with DEP-5's Format line:\n${copyright}")
endif()
set(named "")
set(texts "")
set(all_files FALSE)
foreach(paragraph IN LISTS paragraphs)
  string(REGEX MATCH "(^|\n)License: ([^\n]*)" line "${paragraph}")
  if(NOT line)
    message(FATAL_ERROR "a paragraph of the copyright file has no License field:\n${paragraph}")
  endif()
  set(license "${CMAKE_MATCH_2}")
  if(paragraph MATCHES "^Files: ")
    if(NOT paragraph MATCHES "\nCopyright: [^\n]*[0-9][0-9][0-9][0-9] [^\n]")
      message(FATAL_ERROR "a Files paragraph has no Copyright field with a year and a holder:\n${paragraph}")
    endif()
    if(paragraph MATCHES "^Files: \\*\n")
      set(all_files TRUE)
      set(all_files_license "${license}")
    endif()
    list(APPEND named "${license}")
  elseif(paragraph MATCHES "^License: [^\n]+\n [^\n]")
    list(APPEND texts "${license}")
  else()
    message(FATAL_ERROR "a paragraph of the copyright file is neither Files nor License with its text:\n${paragraph}")
  endif()
endforeach()
if(NOT all_files OR NOT all_files_license STREQUAL "GPL-3+")
  message(FATAL_ERROR "the copyright file has no \"Files: *\" paragraph under GPL-3+:\n${copyright}")
endif()
foreach(license IN LISTS named)
  list(FIND texts "${license}" index)
  if(index EQUAL -1)
    message(FATAL_ERROR "the copyright file names licence ${license} without its text")
  endif()
endforeach()
if(NOT copyright MATCHES "/usr/share/common-licenses/GPL-3\"")
  message(FATAL_ERROR "the copyright file does not point to /usr/share/common-licenses/GPL-3")
endif()

execute_process(COMMAND dpkg-deb -f "${packages}" Depends RESULT_VARIABLE status
                OUTPUT_VARIABLE depends ERROR_VARIABLE depends)
set(libraries libqt6serialport6)
if(listing MATCHES " \\./usr/bin/kelvaro-web\n")
  list(APPEND libraries libqt6httpserver6 libqt6websockets6)
endif()
foreach(library IN LISTS libraries)
  if(NOT status EQUAL 0 OR NOT depends MATCHES "(^|, )${library}( |,|\n|$)")
    message(FATAL_ERROR "Depends does not name ${library}: ${depends}")
  endif()
endforeach()

message(STATUS "package ${packages}\nDepends: ${depends}")
file(REMOVE_RECURSE "${WORK}")
