// The command line in UTF-16, split by the C runtime's own wide entry (the
// same quoting rules as its ANSI entry), in the two forms the program needs: the
// ANSI code page, byte for byte what the ANSI entry gave (the program prints
// these, and -k 1 and -k 2 take them), and UTF-8 with every character kept.
#include <windows.h>

#include <cwchar>

#include "cli/program.h"
#include "diag/memory.h"

namespace {

// `wide` in the code page, in a block from MemAlloc; nullptr when memory
// cannot be had. The ANSI form replaces what the code page lacks the way
// the system's own conversion of the command line does.
char* Narrow(UINT codePage, const wchar_t* wide) {
    const int size = WideCharToMultiByte(codePage, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    auto* text = size > 0 ? static_cast<char*>(MemAlloc(static_cast<size_t>(size))) : nullptr;
    if (text != nullptr &&
        WideCharToMultiByte(codePage, 0, wide, -1, text, size, nullptr, nullptr) != size) {
        MemFree(text);
        return nullptr;
    }
    return text;
}

// Whether the ANSI form reads back as what was typed: no character was lost
// or turned into a look-alike.
bool ReadsBack(const char* ansi, const wchar_t* wide) {
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (units != static_cast<int>(std::wcslen(wide)) + 1) {
        return false;
    }
    auto* back = static_cast<wchar_t*>(MemAlloc(static_cast<size_t>(units) * sizeof(wchar_t)));
    const bool identical = back != nullptr &&
                           MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, units) == units &&
                           std::wcscmp(back, wide) == 0;
    MemFree(back);
    return identical;
}

void FreeForms(int argc, char** ansi, char** utf8, bool* holds) {
    for (int i = 0; i < argc; ++i) {
        MemFree(ansi[i]);
        MemFree(utf8[i]);
    }
    MemFree(ansi);
    MemFree(utf8);
    MemFree(holds);
}

}  // namespace

int wmain(int argc, wchar_t** wideArgv) {
    const size_t slots = static_cast<size_t>(argc) + 1;
    auto** ansi = static_cast<char**>(MemAlloc(slots * sizeof(char*)));
    auto** utf8 = static_cast<char**>(MemAlloc(slots * sizeof(char*)));
    auto* holds = static_cast<bool*>(MemAlloc(slots * sizeof(bool)));
    if (ansi == nullptr || utf8 == nullptr || holds == nullptr) {
        MemFree(ansi);
        MemFree(utf8);
        MemFree(holds);
        return kExitFailed;  // no memory for the arguments: nothing was run
    }
    bool ready = true;
    for (size_t i = 0; i < slots; ++i) {
        ansi[i] = nullptr;
        utf8[i] = nullptr;
        holds[i] = false;
    }
    for (int i = 0; ready && i < argc; ++i) {
        ansi[i] = Narrow(CP_ACP, wideArgv[i]);
        utf8[i] = Narrow(CP_UTF8, wideArgv[i]);
        ready = ansi[i] != nullptr && utf8[i] != nullptr;
        holds[i] = ready && ReadsBack(ansi[i], wideArgv[i]);
    }
    const UnicodeArguments unicode{utf8, holds};
    const int status = ready ? StartProgram(argc, ansi, &unicode) : kExitFailed;
    FreeForms(argc, ansi, utf8, holds);
    return status;
}
