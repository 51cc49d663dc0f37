# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads, which a static Qt's
# threading needs). Pass the Qt built for this compiler with -DCMAKE_PREFIX_PATH=<qt prefix>.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVIMOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVIMOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVIMOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVIMOR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAVIMOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The programs must start on a machine without the compiler's runtime DLLs: libgcc, libstdc++ and
# winpthread are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Lets CTest run the test programs on the build machine.
find_program(TAVIMOR_WINE NAMES wine)
if(TAVIMOR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVIMOR_WINE})
endif()
