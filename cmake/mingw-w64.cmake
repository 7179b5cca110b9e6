# Cross-building for 64-bit Windows with Debian's mingw-w64 (the posix thread model, for
# std::thread and std::mutex), the programs run by ctest under wine.
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DVARNEL_QT=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VARNEL_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VARNEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNEL_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${VARNEL_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VARNEL_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

# Libraries and headers only from the mingw sysroot and from VARNEL_MINGW_DEPS (the prefix the
# cross-built libical and GoogleTest are installed to), never the build machine's own.
set(VARNEL_MINGW_DEPS "" CACHE PATH "Prefix of the libraries cross-built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${VARNEL_MINGW_TRIPLET} ${VARNEL_MINGW_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# add_test(COMMAND target) runs the .exe under wine.
find_program(VARNEL_WINE wine)
if(VARNEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VARNEL_WINE})
endif()

# One self-contained .exe each: no libgcc, libstdc++ or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# 64-bit file offsets everywhere (off_t, lseek, fstat), wide Windows APIs, Windows 7 and later,
# and C99 printf formats (%zu, %lld) from mingw's own stdio rather than msvcrt's.
# Third-party code built with this file (libical, GoogleTest; -DVARNEL_MINGW_THIRD_PARTY=ON) gets
# the 64-bit offsets and the Windows version only: it calls the ANSI forms of the Windows API.
set(VARNEL_MINGW_DEFINES "-D_FILE_OFFSET_BITS=64 -D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
if(NOT VARNEL_MINGW_THIRD_PARTY)
  string(APPEND VARNEL_MINGW_DEFINES
         " -D__USE_MINGW_ANSI_STDIO=1 -DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN")
endif()
# -O2 as the Linux builds (RelWithDebInfo); GCC 12's -O3 warns falsely of overlapping copies
# (-Wrestrict) in std::string code.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_C_FLAGS_INIT "${VARNEL_MINGW_DEFINES}")
set(CMAKE_CXX_FLAGS_INIT "${VARNEL_MINGW_DEFINES}")
