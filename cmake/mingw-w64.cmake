# 64-bit Windows with Debian's MinGW-w64, POSIX threads variant (std::thread and pthread_mutex_t
# come from winpthreads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TRAVO_MINGW_TRIPLET x86_64-w64-mingw32)
# The -posix names explicitly: the plain ones follow an alternative that may point at -win32.
set(CMAKE_C_COMPILER ${TRAVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRAVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TRAVO_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRAVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -O1: at -O2, GCC 12 reports false -Warray-bounds and -Wrestrict inside inlined libstdc++ code
# (the Linux g++ 12 does the same), and warnings are errors here.
set(CMAKE_CXX_FLAGS_RELEASE "-O1 -DNDEBUG" CACHE STRING "Flags for Release builds")

# Static runtime: the .exe files need no libstdc++, libgcc or libwinpthread DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and gtest discovery run the .exe files under Wine, in a prefix inside the build tree.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine)
endif()
