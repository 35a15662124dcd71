# Cross-builds Vidloom for 64-bit Windows with mingw-w64 (posix threads, for
# std::thread and std::mutex) and runs the test programs through Wine.
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VIDLOOM_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VIDLOOM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VIDLOOM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VIDLOOM_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VIDLOOM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Programs and DLLs carry their own C and C++ runtime, so they run without
# the MinGW runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest starts every test program through this.
find_program(VIDLOOM_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VIDLOOM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VIDLOOM_WINE})
endif()
