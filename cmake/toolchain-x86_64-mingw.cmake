# Cross build of the Windows programs as 64-bit ones, static, with the -posix compilers (the -win32
# ones of gcc 12 have no std::thread, std::mutex or std::condition_variable). The program ships as
# the 32-bit build; this one is for the checks under Wine on machines that cannot run 32-bit
# processes (a kernel without ia32 emulation), where only Wine's 64-bit half works.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Without the static runtime the programs need libwinpthread-1.dll and Wine exits with 53.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Wine's 64-bit loader itself: the `wine` script starts the 32-bit one first, which such machines
# cannot run.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
