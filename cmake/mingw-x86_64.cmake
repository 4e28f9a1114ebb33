# Toolchain: 64-bit Windows executables built on Debian with MinGW-w64, from
# the same sources as the 32-bit product. Its suites run where a machine runs
# no 32-bit programs (Wine's 32-bit loader among them).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Cross-built test programs run under Wine's 64-bit loader itself: Debian's
# "wine" command starts the 32-bit loader whenever that is installed, even
# for a 64-bit program.
find_program(WINE64_PROGRAM wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
find_program(WINE64_PROGRAM wine64)
if(WINE64_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64_PROGRAM})
endif()
