# Cross-compiling for 64-bit Windows with MinGW-w64 (the posix-threads
# variant, whose libstdc++ has std::thread and std::mutex).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Everything is linked statically against the compiler's runtime (libgcc,
# libstdc++, winpthread), so the module and the test programs need only the
# DLLs that Windows itself ships. Test programs run through Wine when it is
# installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TINTBRIDGE_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${TINTBRIDGE_MINGW_PREFIX}-gcc-posix ${TINTBRIDGE_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TINTBRIDGE_MINGW_PREFIX}-g++-posix ${TINTBRIDGE_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TINTBRIDGE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TINTBRIDGE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(TINTBRIDGE_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${TINTBRIDGE_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${TINTBRIDGE_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${TINTBRIDGE_STATIC_RUNTIME}")

# ctest runs the Windows test programs through Wine.
find_program(TINTBRIDGE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TINTBRIDGE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TINTBRIDGE_WINE})
endif()

# Debian's GoogleTest sources, built for the target with the tests.
if(NOT DEFINED TINTBRIDGE_GOOGLETEST_SOURCE AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(TINTBRIDGE_GOOGLETEST_SOURCE /usr/src/googletest)
endif()
