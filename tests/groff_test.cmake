# Renders the manual page with every groff warning turned on; any output fails.
execute_process(COMMAND "${GROFF}" -man -ww -z "${PAGE}"
                RESULT_VARIABLE result ERROR_VARIABLE warnings OUTPUT_QUIET)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff: ${warnings}")
endif()
