# Cross compiling for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64), in its win32 thread model: the device has no POSIX
# threads, so a use of them fails to build instead of pulling in winpthread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUENTA_MINGW_TARGET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUENTA_MINGW_TARGET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QUENTA_MINGW_TARGET}-g++-win32)
set(CMAKE_RC_COMPILER ${QUENTA_MINGW_TARGET}-windres)
find_program(QUENTA_MINGW_DLLTOOL ${QUENTA_MINGW_TARGET}-dlltool REQUIRED)

# Headers and libraries come from the target's tree only, never from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUENTA_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
