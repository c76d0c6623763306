# Cross build of the Windows program with clang for x86_64-w64-mingw32.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KV_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_RC_COMPILER ${KV_TRIPLE}-windres)
set(CMAKE_C_COMPILER_TARGET ${KV_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${KV_TRIPLE})

# The posix thread model of the mingw-w64 runtime carries std::mutex and std::thread.
# Its folder is named after the GCC version the distribution ships (12-posix on
# Debian 12): the newest one present is taken.
file(GLOB KV_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${KV_TRIPLE}/*-posix)
if(NOT KV_GCC_DIRS)
  message(FATAL_ERROR "no posix-thread mingw-w64 GCC in /usr/lib/gcc/${KV_TRIPLE} (scripts/bootstrap installs it)")
endif()
list(SORT KV_GCC_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET KV_GCC_DIRS 0 KV_GCC_DIR)
set(KV_SYSROOT /usr/${KV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${KV_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(KV_CXX_INCLUDES
    "-isystem ${KV_GCC_DIR}/include/c++ -isystem ${KV_GCC_DIR}/include/c++/${KV_TRIPLE} -isystem ${KV_GCC_DIR}/include/c++/backward")
# -fms-extensions: __try / __except as real structured exception handling.
# __GXX_TYPEINFO_EQUALITY_INLINE=0: clang 14 with libstdc++ 12 otherwise defines
# std::type_info::operator== twice at link time.
set(CMAKE_C_FLAGS_INIT "-fms-extensions")
set(CMAKE_CXX_FLAGS_INIT "-fms-extensions -Wno-unused-command-line-argument -nostdinc++ ${KV_CXX_INCLUDES} -D__GXX_TYPEINFO_EQUALITY_INLINE=0")
# -pthread makes clang place winpthread after libgcc_eh; a plain -lpthread lands too early.
set(KV_LINK_FLAGS "-L${KV_GCC_DIR} -static -pthread -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${KV_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${KV_LINK_FLAGS}")

find_program(KV_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KV_WINE})
