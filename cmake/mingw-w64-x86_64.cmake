# Cross build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_prefix x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${_mingw_prefix}-g++-posix ${_mingw_prefix}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${_mingw_prefix}-gcc-posix ${_mingw_prefix}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${_mingw_prefix}-windres windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
