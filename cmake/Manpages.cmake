# The manual pages, from docs/man/NAME.1.scd, built with scdoc and installed gzipped into
# share/man/man1. scdoc turns the sources into roff without running the programs, so the
# pages build the same in the arm64 cross-build, where the programs cannot run (help2man
# would have to). Without scdoc the pages are left out, with a warning; the package check
# (scripts/lint-package) then fails on the missing pages.
find_program(KELVARO_SCDOC scdoc)
find_program(KELVARO_GZIP gzip)
set(kelvaro_man_pages kelvaro-recorder kelvaro-ctl kelvaro-web kelvaro-board-sim)
if(KELVARO_BUILD_GUI)
  list(APPEND kelvaro_man_pages kelvaro)
endif()
set(KELVARO_MAN_DIR "${CMAKE_BINARY_DIR}/man")
if(NOT KELVARO_SCDOC OR NOT KELVARO_GZIP)
  message(WARNING "scdoc or gzip not found (Debian packages scdoc, gzip): no manual pages")
  set(kelvaro_man_pages "")
endif()
set(kelvaro_man_outputs "")
foreach(page IN LISTS kelvaro_man_pages)
  set(source "${CMAKE_SOURCE_DIR}/docs/man/${page}.1.scd")
  set(roff "${KELVARO_MAN_DIR}/${page}.1")
  # gzip -n: no name or time stamp, so the same page makes the same file (lintian checks).
  add_custom_command(OUTPUT "${roff}" "${roff}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${KELVARO_MAN_DIR}"
    COMMAND sh -c "\"$1\" <\"$2\" >\"$3\" && \"$4\" -9nc \"$3\" >\"$3.gz\"" sh
            "${KELVARO_SCDOC}" "${source}" "${roff}" "${KELVARO_GZIP}"
    DEPENDS "${source}"
    COMMENT "Manual page ${page}(1)"
    VERBATIM)
  list(APPEND kelvaro_man_outputs "${roff}" "${roff}.gz")
  install(FILES "${roff}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(kelvaro_man_pages ALL DEPENDS ${kelvaro_man_outputs})
