# Shared part of the MinGW-w64 toolchain files: Debian's cross compilers (the posix thread model,
# which std::thread needs), the target's own root for libraries and headers, the host's programs.
# QUARN_MINGW_TRIPLET is set by the including file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QUARN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARN_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUARN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
