# What both mingw-w64 toolchain files share; they set ZARVELT_MINGW_PREFIX and the processor
# first. The programs link statically, so an executable needs no mingw DLLs beside it; ODBC
# comes from Windows' own odbc32.dll of the program's width.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZARVELT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARVELT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZARVELT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZARVELT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
