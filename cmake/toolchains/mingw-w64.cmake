# Cross-building for Windows with Debian's mingw-w64, for the triplet that the including file sets. The
# -posix compilers are named on purpose: the -win32 ones have no std::thread, and the unsuffixed names may
# point to either.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${PEKOLM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PEKOLM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PEKOLM_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PEKOLM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
