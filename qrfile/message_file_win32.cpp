// A UTF-8 name goes to the C runtime in UTF-16, so that any character reaches
// the file; an ANSI one goes as it is.
#include <windows.h>

#include "diag/memory.h"
#include "qrfile/message_file.h"

std::FILE* OpenMessageFile(const char* name, bool utf8Name) {
    if (!utf8Name) {
        return std::fopen(name, "rb");
    }
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
    if (units <= 0) {
        return nullptr;  // not UTF-8: no file has that name
    }
    auto* wide = static_cast<wchar_t*>(MemAlloc(static_cast<size_t>(units) * sizeof(wchar_t)));
    if (wide == nullptr) {
        return nullptr;
    }
    std::FILE* file = nullptr;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide, units) == units) {
        file = _wfopen(wide, L"rb");
    }
    MemFree(wide);
    return file;
}
