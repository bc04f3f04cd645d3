# Cross builds with Debian's cross compilers, for example the big-endian
# s390x:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/cross-linux-gnu.cmake \
#         -DCROSS_TRIPLE=s390x-linux-gnu \
#         "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-s390x-static;-L;/usr/s390x-linux-gnu"
# The tests then run the programs through the emulator (see .ci/run).
if(NOT CROSS_TRIPLE)
  message(FATAL_ERROR "name the target with -DCROSS_TRIPLE=, such as s390x-linux-gnu")
endif()
# The projects that CMake builds to test the compiler need the triple too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CROSS_TRIPLE)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${CROSS_TRIPLE}")
set(CMAKE_C_COMPILER ${CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
