# Cross-compiling for big-endian s390x Linux (scripts/build-cross s390x).
set(ZEM_CROSS_ARCH s390x)
set(ZEM_CROSS_TRIPLET s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
