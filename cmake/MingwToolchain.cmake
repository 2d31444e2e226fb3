# The mingw-w64 cross toolchain for SIGWELL_ARCH, set by the toolchain file
# of each target (toolchain-i686.cmake, toolchain-x86_64.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${SIGWELL_ARCH})
set(CMAKE_C_COMPILER ${SIGWELL_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${SIGWELL_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${SIGWELL_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SIGWELL_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
