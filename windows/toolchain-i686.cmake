# Cross build for 32-bit Windows with mingw-w64. The -posix flavour, since
# the default one has no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Libraries and headers come from mingw and from the dependencies built for
# this target (KORVO_WINDOWS_DEPS), never from the host.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORVO_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${KORVO_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
