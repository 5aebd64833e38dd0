# The unattended recorder runs on machines without a display: the libraries it loads
# (ldd, so libraries pulled in by other libraries count too) include no QtGui, no
# QtWidgets and no X client library.
# Run with -DRECORDER=<path of kelvaro-recorder>.
if(NOT RECORDER)
  message(FATAL_ERROR "check_recorder_libraries.cmake needs -DRECORDER=...")
endif()
execute_process(COMMAND ldd "${RECORDER}" RESULT_VARIABLE status
                OUTPUT_VARIABLE libraries ERROR_VARIABLE libraries)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${RECORDER} failed:\n${libraries}")
endif()
if(NOT libraries MATCHES "libQt6Core")
  message(FATAL_ERROR "ldd lists no QtCore, so it proves nothing:\n${libraries}")
endif()
foreach(library libQt6Gui libQt6Widgets libX11)
  if(libraries MATCHES "${library}[.]")
    message(FATAL_ERROR "kelvaro-recorder loads ${library}:\n${libraries}")
  endif()
endforeach()
