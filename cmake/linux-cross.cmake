# Cross-compiling for another Linux architecture with Debian's cross
# compilers, against libpng and zlib unpacked from the target's own packages
# into ZEM_SYSROOT (scripts/build-cross makes it). Programs run under
# qemu-user with that folder as their root, so they load the target's C
# library and its character set modules. The toolchain file of each target
# sets ZEM_CROSS_ARCH (qemu's name), ZEM_CROSS_TRIPLET and includes this one.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ZEM_CROSS_ARCH})
set(CMAKE_LIBRARY_ARCHITECTURE ${ZEM_CROSS_TRIPLET})
set(CMAKE_C_COMPILER ${ZEM_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZEM_CROSS_TRIPLET}-g++)
# The sysroot reaches CMake's compiler checks too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZEM_SYSROOT)
if(NOT ZEM_SYSROOT)
  message(FATAL_ERROR "ZEM_SYSROOT: the folder of the target's unpacked packages (scripts/build-cross)")
endif()
set(CMAKE_FIND_ROOT_PATH ${ZEM_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# libpng's own dependencies (zlib) are found by the linker in the sysroot.
string(CONCAT zem_rpath_link "-Wl,-rpath-link,${ZEM_SYSROOT}/usr/lib/${ZEM_CROSS_TRIPLET}"
              ":${ZEM_SYSROOT}/lib/${ZEM_CROSS_TRIPLET}")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${zem_rpath_link})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${zem_rpath_link})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${ZEM_CROSS_ARCH} -L ${ZEM_SYSROOT})
