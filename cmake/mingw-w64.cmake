# Windows with Debian's MinGW-w64, for the triplet the toolchain file sets
# (the -posix variants have std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KX4_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KX4_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KX4_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KX4_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
