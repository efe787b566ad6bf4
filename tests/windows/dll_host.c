/* Loads the shared library by name at run time, finds both exports and calls
 * each with every request of the table below, printing one line per call:
 * the export, the result code and the name buffer after the call. Run in a
 * directory holding only the UTF-8-named message file the caller makes; the
 * files it leaves there are compared with another build's. Usage:
 * dll_host LIBRARY */
#include <stdio.h>
#include <string.h>

#include "zemqrfile.h"

#ifdef _WIN32
#include <windows.h>
#define OPEN_LIBRARY(name) ((void*)LoadLibraryA(name))
#define FIND_EXPORT(library, name) ((void*)GetProcAddress((HMODULE)(library), name))
#else
#include <dlfcn.h>
#define OPEN_LIBRARY(name) dlopen(name, RTLD_NOW)
#define FIND_EXPORT(library, name) dlsym(library, name)
#endif

typedef int32_t(ZEMQR_STDCALL* StdcallExport)(uint32_t, char*, int32_t, int32_t, int32_t, int32_t,
                                              int32_t, int32_t, int32_t, const char*);
typedef int32_t(ZEMQR_CDECL* CExport)(uint32_t, char*, int32_t, int32_t, int32_t, int32_t, int32_t,
                                      int32_t, int32_t, const char*);

struct Request {
    uint32_t flags;
    const char* name;
    int32_t mode, version, level, mask, cellSize, charset, length;
    const char* message;
};

/* Every result code the library gives without a fault, over both writers,
 * all four data modes, the three conversions and the message file. */
static const struct Request kRequests[] = {
    {0, "code", 0, 0, 2, 0, 3, 0, 0, "HELLO WORLD"},
    {0, "plain.bmp", 0, 0, 1, 0, 2, 0, 0, "Hello, world"},
    {0, "UPPER.PNG", 0, 0, 4, 0, 1, 0, 0, "https://example.org/?q=1"},
    {0, "digits.png", 1, 5, 4, 3, 2, 0, 0, "01234567890123456789"},
    {0, "alnum.bmp", 2, 0, 3, 8, 1, 0, 0, "ABC-123 $%*+./:"},
    {0, "bytes", 3, 0, 1, 1, 2, 0, 0, "bytes \x01\x7f"},
    {0, "kanji.png", 4, 0, 2, 0, 2, 1, 0, "\x8a\xbf\x8e\x9a\x82\xa0"},
    {0, "utf8.png", 0, 0, 2, 0, 2, 3, 0,
     "\xe6\xbc\xa2\xe5\xad\x97 \xef\xbd\xb1 caf\xc3\xa9 \xf0\x9f\x98\x80"},
    {0, "euc.bmp", 0, 0, 2, 0, 2, 2, 0, "\xb4\xc1\xbb\xfa\x8e\xb1"},
    {IMAGEFLAG_TEXT, "cut.png", 0, 1, 4, 0, 2, 1, 0,
     "\x8a\xbf\x8a\xbf\x8a\xbf\x8a\xbf\x8a\xbf\x8a\xbf\x8a\xbf\x8a\xbf"},
    {0, "length.png", 0, 0, 1, 0, 1, 0, 4, "ABCDEFGH"},
    {0, "v40.png", 0, 40, 4, 0, 1, 0, 0, "version forty"},
    {0, "clamped.png", 9, 99, 9, 99, 0, 9, 0, "out-of-range settings"},
    {IMAGEFLAG_MESSAGE_FILE, "fromfile.png", 0, 0, 2, 0, 2, 0, 0, "message.bin"},
    {0, "", 0, 0, 2, 0, 2, 0, 0, "no name"},
    {0, "empty.png", 0, 0, 2, 0, 2, 0, 0, ""},
    {IMAGEFLAG_MESSAGE_FILE, "missing.png", 0, 0, 2, 0, 2, 0, 0, "no-such-file.txt"},
    {0, "huge.png", 0, 0, 2, 0, 20000000, 0, 0, "HUGE"},
    {0, "no-such-dir/x.png", 0, 0, 2, 0, 2, 0, 0, "PNG"},
    {0, "no-such-dir/x.bmp", 0, 0, 2, 0, 2, 0, 0, "BMP"},
    /* UTF-8 names: one longer than a temporary file's name shows (cut inside
     * a character), and a message file's ("\xe3\x83\xa1...txt", which the
     * caller makes). */
    {IMAGEFLAG_UTF8_NAMES,
     "_\xe3\x83\xa9\xe3\x83\x99\xe3\x83\xab\xe3\x83\xa9\xe3\x83\x99\xe3\x83\xab\xe3\x83\xa9"
     "\xe3\x83\x99\xe3\x83\xab\xe3\x83\xa9\xe3\x83\x99\xe3\x83\xab_\xc3\xa9",
     0, 0, 2, 0, 2, 3, 0, "caf\xc3\xa9 \xe2\x98\x95 \xe6\x97\xa5\xe6\x9c\xac Hello"},
    {IMAGEFLAG_UTF8_NAMES | IMAGEFLAG_MESSAGE_FILE, "\xe6\x97\xa5\xe6\x9c\xac.bmp", 0, 0, 2, 0, 2,
     0, 0, "\xe3\x83\xa1\xe3\x83\x83\xe3\x82\xbb\xe3\x83\xbc\xe3\x82\xb8_\xc3\xbc.txt"},
};

int main(int argc, char** argv) {
    static const char kMessageFile[] = "file\0with a NUL, \x82\xa0 and\r\n";
    if (argc != 2) {
        fprintf(stderr, "usage: dll_host LIBRARY\n");
        return 2;
    }
    void* library = OPEN_LIBRARY(argv[1]);
    if (library == NULL) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    StdcallExport stdcallExport = (StdcallExport)FIND_EXPORT(library, "ZEMQRFile");
    CExport cExport = (CExport)FIND_EXPORT(library, "ZEMQRFileC");
    if (stdcallExport == NULL || cExport == NULL) {
        fprintf(stderr, "an export is missing\n");
        return 1;
    }
    FILE* file = fopen("message.bin", "wb");
    if (file == NULL ||
        fwrite(kMessageFile, 1, sizeof kMessageFile - 1, file) != sizeof kMessageFile - 1 ||
        fclose(file) != 0) {
        fprintf(stderr, "cannot write message.bin\n");
        return 1;
    }
    for (size_t i = 0; i < sizeof kRequests / sizeof kRequests[0]; ++i) {
        const struct Request* r = &kRequests[i];
        for (int c = 0; c < 2; ++c) {
            /* Each export writes files of its own: "s-" or "c-" before the name. */
            char name[64] = "";
            if (r->name[0] != '\0') {
                snprintf(name, sizeof name, "%s%s", c ? "c-" : "s-", r->name);
            }
            const int32_t result =
                c ? cExport(r->flags, name, r->mode, r->version, r->level, r->mask, r->cellSize,
                            r->charset, r->length, r->message)
                  : stdcallExport(r->flags, name, r->mode, r->version, r->level, r->mask,
                                  r->cellSize, r->charset, r->length, r->message);
            printf("%s %d [%s]\n", c ? "ZEMQRFileC" : "ZEMQRFile", (int)result, name);
        }
    }
    return 0;
}
