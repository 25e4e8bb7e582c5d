# Cross build of the Windows programs: 32-bit, static, with the -posix compilers (the -win32 ones of
# gcc 12 have no std::thread, std::mutex or std::condition_variable).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# SSE2, which every machine the program meets has, for the half-period scanner. With SSE enabled
# these compilers realign the stack in any function that needs it (-mstackrealign is their default),
# so callbacks entered from Windows on a 4-byte aligned stack stay safe; floating point stays on the
# x87 (-mfpmath is not changed), so no computed figure changes.
set(CMAKE_C_FLAGS_INIT "-msse2")
set(CMAKE_CXX_FLAGS_INIT "-msse2")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Without the static runtime the programs need libwinpthread-1.dll and Wine exits with 53.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
