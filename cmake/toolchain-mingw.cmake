# Cross-build for Windows with MinGW-w64; included by toolchain-i686.cmake and toolchain-x86_64.cmake,
# which set TARNWICK_ARCH.
# TARNWICK_THREAD_MODEL: posix (GoogleTest needs it) or win32 (the shipped program: no threading
# library of its own, which would need Windows functions newer than Windows 2000).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARNWICK_ARCH})
set(TARNWICK_TRIPLE ${TARNWICK_ARCH}-w64-mingw32)
if(NOT TARNWICK_THREAD_MODEL)
  set(TARNWICK_THREAD_MODEL posix)
endif()
set(CMAKE_C_COMPILER ${TARNWICK_TRIPLE}-gcc-${TARNWICK_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${TARNWICK_TRIPLE}-g++-${TARNWICK_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${TARNWICK_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
