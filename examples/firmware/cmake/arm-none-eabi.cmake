# SPDX-License-Identifier: MIT
# Bare-metal Cortex-M with Debian's gcc-arm-none-eabi and libnewlib-arm-none-eabi.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_OBJCOPY arm-none-eabi-objcopy CACHE FILEPATH "")
set(CMAKE_SIZE arm-none-eabi-size CACHE FILEPATH "")
# No operating system to run a test program on: check the compiler with a library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The decoder's package is architecture-independent source: take it from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
