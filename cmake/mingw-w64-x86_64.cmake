# Cross-building for 64-bit Windows with Debian's MinGW-w64 (scripts/build-windows.sh uses it).
# The -posix compilers: the default ones have no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLMERE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLMERE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMERE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMERE_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW tree and the folders the caller adds (the libraries
# cross-built from Debian's sources); programs such as pkg-config and nasm from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QUILLMERE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and the libraries' own tests run the programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
