// The shared library's second entry point. On x86-64 there is one calling
// convention, so it is ZEMQRFile under another name, kept for hosts that
// bind to it.
#include "qrfile/qrfile.h"

int32_t ZEMQRFileC(uint32_t flags, char* fileName, int32_t mode, int32_t version, int32_t level,
                   int32_t maskPattern, int32_t cellSize, int32_t charset, int32_t length,
                   const char* message) {
    return ZEMQRFile(flags, fileName, mode, version, level, maskPattern, cellSize, charset, length,
                     message);
}
