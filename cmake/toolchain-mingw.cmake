# Cross-build for Windows with MinGW-w64; included by toolchain-i686.cmake and toolchain-x86_64.cmake,
# which set TARNWICK_ARCH.
# TARNWICK_THREAD_MODEL: posix (GoogleTest needs it) or win32 (the shipped program: no threading
# library of its own, which would need Windows functions newer than Windows 2000).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARNWICK_ARCH})
set(TARNWICK_TRIPLE ${TARNWICK_ARCH}-w64-mingw32)
# The default follows what is built: the program alone (TARNWICK_TESTS=OFF) gets win32.
if(NOT TARNWICK_THREAD_MODEL)
  if(DEFINED TARNWICK_TESTS AND NOT TARNWICK_TESTS)
    set(TARNWICK_THREAD_MODEL win32)
  else()
    set(TARNWICK_THREAD_MODEL posix)
  endif()
endif()
set(CMAKE_C_COMPILER ${TARNWICK_TRIPLE}-gcc-${TARNWICK_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${TARNWICK_TRIPLE}-g++-${TARNWICK_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${TARNWICK_TRIPLE}-windres)
set(CMAKE_OBJCOPY ${TARNWICK_TRIPLE}-objcopy CACHE FILEPATH "")
set(CMAKE_STRIP ${TARNWICK_TRIPLE}-strip CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
