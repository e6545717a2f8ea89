# 32-bit Windows: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PEKOLM_MINGW_TRIPLET i686-w64-mingw32)
# Doubles in SSE registers, not on the x87 stack: x87 keeps intermediates at 80 bits, so a conversion can
# round differently from the 64-bit DLL and Linux (a threshold of 1.5 counts became raw 32769, not 32770).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
