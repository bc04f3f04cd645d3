# Installs the build into a scratch prefix and runs the installed program.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
if(NOT EXISTS "${PREFIX}/share/man/man1/vorbix-convert.1.gz"
   AND NOT EXISTS "${PREFIX}/share/man/man1/vorbix-convert.1")
  message(FATAL_ERROR "not installed: the manual page")
endif()
foreach(installed bin/vorbix-convert
        share/bash-completion/completions/vorbix-convert share/doc/vorbix-convert/examples/hello.cpm
        share/doc/vorbix-convert/copyright)
  if(NOT EXISTS "${PREFIX}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
# EMULATOR: the emulator of a cross build, empty otherwise.
execute_process(COMMAND ${EMULATOR} "${PREFIX}/bin/vorbix-convert" -c "${PREFIX}/share/doc/vorbix-convert/examples/hello.cpm"
                OUTPUT_VARIABLE converted RESULT_VARIABLE result)
file(READ "${SOURCE_DIR}/examples/hello.txt" expected)
if(NOT result EQUAL 0 OR NOT converted STREQUAL expected)
  message(FATAL_ERROR "the installed program converted hello.cpm to:\n${converted}")
endif()
# The national sets, found by name beside the installed program.
file(WRITE "${PREFIX}/letter.cpm" "Gr}~e\r\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env LC_ALL=C.UTF-8
                        ${EMULATOR} "${PREFIX}/bin/vorbix-convert" --charset iso646-de -c "${PREFIX}/letter.cpm"
                OUTPUT_VARIABLE converted RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT converted STREQUAL "Grüße\n")
  message(FATAL_ERROR "the installed program gave with --charset iso646-de:\n${converted}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
