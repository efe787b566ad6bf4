# Cross-compiling for 64-bit ARM Linux (scripts/build-cross aarch64).
set(ZEM_CROSS_ARCH aarch64)
set(ZEM_CROSS_TRIPLET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
