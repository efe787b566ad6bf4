// The shared library's second entry point: ZEMQRFile with the C calling
// convention, which differs from ZEMQRFile's only on 32-bit Windows; on
// x86-64 it is the same function under another name, kept for hosts that
// bind to it.
#include "qrfile/qrfile.h"

int32_t ZEMQR_CDECL ZEMQRFileC(uint32_t flags, char* fileName, int32_t mode, int32_t version,
                               int32_t level, int32_t maskPattern, int32_t cellSize,
                               int32_t charset, int32_t length, const char* message) {
    return ZEMQRFile(flags, fileName, mode, version, level, maskPattern, cellSize, charset, length,
                     message);
}
