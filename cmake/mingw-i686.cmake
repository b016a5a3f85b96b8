# Cross-compiles the 32-bit Windows build with Debian's MinGW-w64, win32 thread model.
# Test programs run through Wine, each in a Wine prefix of its own.
#
# The updater must load on Windows XP SP3. The POSIX thread model links winpthreads into
# every program, and winpthreads imports GetTickCount64 (Vista and later): XP's loader then
# refuses the program before any of its code runs. No flag of that compiler leaves the
# library out, as its libstdc++ (the exception allocator) and libgcc (the unwinder) lock
# through it. The win32 thread model maps the runtime's few locks onto critical sections and
# imports nothing XP lacks (scripts/check-imports verifies it). Everything in this build
# uses it, so the Win32 backend that the Wine tests exercise is compiled exactly as it
# ships. Its cost: with GCC 12 this model has no std::thread, std::mutex or
# std::condition_variable, so code here that needs them uses the Win32 API (GoogleTest gets
# the one piece it lacks from tests/googletest-win32/).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The runtime is linked in, so the programs import only Windows system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine-run ${CMAKE_BINARY_DIR}/wine-template)
