/* zemqrfile.h - make a QR Code image file (PNG or BMP) from a message.
 *
 * The shared library libZEMQRFile (ZEMQRFile.dll on Windows) exports exactly
 * the two functions below. Both take the same ten arguments and return 0 when
 * the file was written, or a negative result code telling which stage failed.
 */
#ifndef ZEMQRFILE_H
#define ZEMQRFILE_H

#include <stdint.h>

/* The product version: the console program's usage screen, the pkg-config
 * file and the CMake package state the same. */
#define ZEMQRFILE_VERSION "25.060"

#ifdef __cplusplus
extern "C" {
#endif

/* Calling conventions: on 32-bit Windows ZEMQRFile is __stdcall (as Visual
 * Basic and .NET hosts expect) and ZEMQRFileC is __cdecl; on every other
 * platform both use the platform's one convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZEMQR_STDCALL __stdcall
#define ZEMQR_CDECL __cdecl
#else
#define ZEMQR_STDCALL
#define ZEMQR_CDECL
#endif

/* Bits of the flags word (all other bits are ignored). */
#define IMAGEFLAG_MESSAGE_FILE 0x00000001u /* message is the name of a file holding it */
#define IMAGEFLAG_UTF8_NAMES 0x00000002u   /* fileName (and a message file's name) is UTF-8 */
#define IMAGEFLAG_TEXT 0x00001000u         /* never split a Shift-JIS character when cutting */
#define IMAGEFLAG_VERBOSE2 0x40000000u     /* also store the bare symbol as "qr.png" */
#define IMAGEFLAG_VERBOSE 0x80000000u      /* print the encoder's trace on standard output */

/* Result codes: each stage has a code or a range of codes. A range runs
 * from the define that opens it down to its _LAST define; which codes of a
 * range occur is listed in docs/messages.md, and the rest are reserved. */
#define ZEMQR_OK 0
#define ZEMQR_ERR_PARAMETER (-1) /* output name or message missing, empty or too long */
#define ZEMQR_ERR_FILE_OPEN (-2) /* message file cannot be opened */
#define ZEMQR_ERR_FILE_READ (-3) /* message file cannot be read, or is empty */
#define ZEMQR_ERR_IMAGE (-4)     /* work image cannot be created */
#define ZEMQR_ERR_CROP (-6)      /* cropped image cannot be made */
/* The encoder cannot build the module matrix. */
#define ZEMQR_ERR_QR_CREATE (-20)
#define ZEMQR_ERR_QR_CREATE_LAST (-29)
/* The encoder cannot draw the symbol into the image. */
#define ZEMQR_ERR_QR_DRAW (-30)
#define ZEMQR_ERR_QR_DRAW_LAST (-39)
/* A file writer's failure is its own stage code (-1 and down) plus the
 * writer's offset, so its codes run from one below the offset down to its
 * _LAST define. */
#define ZEMQR_PNG_WRITER_OFFSET (-60)
#define ZEMQR_ERR_PNG_LAST (-74)
#define ZEMQR_BMP_WRITER_OFFSET (-80)
#define ZEMQR_ERR_BMP_LAST (-94)

/* fileName must have room for 4 more characters and the terminator: a name
 * not ending in ".bmp" or ".png" (any case) gets ".png" appended in place. */
int32_t ZEMQR_STDCALL ZEMQRFile(uint32_t flags, char* fileName, int32_t mode, int32_t version,
                                int32_t level, int32_t maskPattern, int32_t cellSize,
                                int32_t charset, int32_t length, const char* message);

/* The same operation under a second name. */
int32_t ZEMQR_CDECL ZEMQRFileC(uint32_t flags, char* fileName, int32_t mode, int32_t version,
                               int32_t level, int32_t maskPattern, int32_t cellSize,
                               int32_t charset, int32_t length, const char* message);

#ifdef __cplusplus
}
#endif

#endif /* ZEMQRFILE_H */
