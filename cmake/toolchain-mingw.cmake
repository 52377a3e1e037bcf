# The part of the cross toolchains that both targets share: the posix threading variant of
# mingw-w64 (std::mutex for GoogleTest). The including file sets ZQ_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${ZQ_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZQ_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZQ_TRIPLET}-windres)
set(CMAKE_AR           ${ZQ_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB       ${ZQ_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")
set(ZQ_WIDL            ${ZQ_TRIPLET}-widl)
set(ZQ_OBJDUMP         ${ZQ_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZQ_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
