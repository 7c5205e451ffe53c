# Cross build for 64-bit Windows with Debian's MinGW-w64, posix thread model (std::thread and
# std::mutex over winpthread). The prefix with the cross-built libraries comes from the
# environment (VELMORA_WIN64_PREFIX, set by scripts/build-windows.sh), so that CMake's
# try_compile runs see it too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-ar CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(DEFINED ENV{VELMORA_WIN64_PREFIX})
  list(PREPEND CMAKE_FIND_ROOT_PATH $ENV{VELMORA_WIN64_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Executables carry libgcc, libstdc++ and winpthread inside, so they need no DLL that Windows
# does not ship; a DLL built here (libmpg123) takes libgcc statically too.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc")
