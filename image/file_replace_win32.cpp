// Whole-file replacement on Windows: an exclusively created file in the
// target's directory, moved over the target once it is complete. A link to a
// file is written through to that file; a dangling link is replaced. A file
// with one name and what a move would drop (the hidden or system attribute,
// a stream of its own, an owner or access list a new file there would not
// get) is written in place instead.
// Names go to the system in UTF-16, so that any character reaches the file:
// a name comes in the ANSI code page (as the *A calls would take it) or, with
// IMAGE_UTF8_NAME, in UTF-8, and is held in UTF-8 from the open on.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleW
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/file_replace.h"
#include "image/image.h"

namespace {

constexpr int kNameTries = 64;
constexpr int kBaseShown = 32;  // bytes of the target's name, in the temporary one
// Room for a file's owner and access list. One that needs more is taken as
// one of its own, and the file written in place.
constexpr DWORD kSecurityBytes = 4096;
// A refused move or open is tried again for this long: another writer moving onto
// the same name, or a virus scanner or indexer glancing at a new file, holds
// it for a moment only.
constexpr DWORD kRetryMillis = 2000;
constexpr DWORD kFirstPauseMillis = 10;

std::atomic<unsigned> temporarySerial{0};
// The temporary file being written, for a program that ends on a signal.
std::atomic<const char*> temporaryInProgress{nullptr};

void ForgetTemporary(const ReplacedFile* replaced) {
    const char* ours = replaced->temporary;
    temporaryInProgress.compare_exchange_strong(ours, nullptr);
}

// A UTF-8 name in UTF-16 (never more units than bytes); false for a name
// that is not UTF-8.
bool WideName(const char* name, wchar_t* wide) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide, kReplacedNameMax) > 0;
}

bool Utf8Name(const wchar_t* wide, char* name) {
    return WideCharToMultiByte(CP_UTF8, 0, wide, -1, name, kReplacedNameMax, nullptr, nullptr) > 0;
}

// An open handle to what the name stands for, through its links unless
// told otherwise; INVALID_HANDLE_VALUE when nothing is there.
HANDLE OpenExisting(const wchar_t* name, bool noFollow) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

// The final path of a file reached through links, as the target to replace.
bool FinalPath(HANDLE handle, char* path) {
    wchar_t wide[kReplacedNameMax];
    const DWORD length = GetFinalPathNameByHandleW(handle, wide, kReplacedNameMax, 0);
    return length > 0 && length < static_cast<DWORD>(kReplacedNameMax) && Utf8Name(wide, path);
}

bool MakeTemporaryName(const char* target, char* name) {
    const char* slash = std::strrchr(target, '\\');
    const char* forward = std::strrchr(target, '/');
    if (forward != nullptr && (slash == nullptr || forward > slash)) {
        slash = forward;
    }
    const int directory = slash == nullptr ? 0 : static_cast<int>(slash - target) + 1;
    const unsigned serial = temporarySerial.fetch_add(1, std::memory_order_relaxed);
    const unsigned mixed = static_cast<unsigned>(GetTickCount()) ^ (serial * 0x9E3779B9u);
    const int length =
        std::snprintf(name, kReplacedNameMax, "%.*s.%.*s.%lu.%08x.tmp", directory, target,
                      NameStartLength(target + directory, kBaseShown), target + directory,
                      static_cast<unsigned long>(GetCurrentProcessId()), mixed);
    return length > 0 && length < kReplacedNameMax;
}

int CreateTemporary(ReplacedFile* replaced) {
    wchar_t wide[kReplacedNameMax];
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        if (!MakeTemporaryName(replaced->target, replaced->temporary) ||
            !WideName(replaced->temporary, wide)) {
            return -1;
        }
        const int fd = _wopen(wide, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                              _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

void DeleteNamed(const char* name) {
    wchar_t wide[kReplacedNameMax];
    if (WideName(name, wide)) {
        DeleteFileW(wide);
    }
}

// A refusal that may last a moment only: someone else has the file open.
bool MayPass(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

// Runs `step` until it succeeds or fails for good: a refusal that may pass
// is tried again after a pause that doubles each time, about 2 seconds in
// all.
template <typename Step>
bool WithRetries(Step step) {
    DWORD waited = 0;
    for (DWORD pause = kFirstPauseMillis;; pause *= 2) {
        if (step()) {
            return true;
        }
        if (!MayPass(GetLastError()) || waited >= kRetryMillis) {
            return false;
        }
        const DWORD nap = pause < kRetryMillis - waited ? pause : kRetryMillis - waited;
        Sleep(nap);
        waited += nap;
    }
}

// Moves the finished file onto its name.
bool MoveOnto(const char* from, const char* to) {
    wchar_t wideFrom[kReplacedNameMax];
    wchar_t wideTo[kReplacedNameMax];
    if (!WideName(from, wideFrom) || !WideName(to, wideTo)) {
        return false;
    }
    return WithRetries([&] {
        return MoveFileExW(wideFrom, wideTo, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
               0;
    });
}

// Whether the file has a data stream besides its own, which a file moved
// over it would not carry. A system that cannot list streams has none.
bool HasOtherStreams(const wchar_t* name) {
    WIN32_FIND_STREAM_DATA stream;
    const HANDLE found = FindFirstStreamW(name, FindStreamInfoStandard, &stream, 0);
    if (found == INVALID_HANDLE_VALUE) {
        return false;
    }
    int streams = 1;
    while (FindNextStreamW(found, &stream) != 0) {
        ++streams;
    }
    FindClose(found);
    return streams > 1;
}

// Whether a file moved over this one would lose what the user gave it: the
// hidden or system attribute, or a stream of its own. Then it is written
// in place.
bool KeptOnlyInPlace(DWORD attributes, const wchar_t* name) {
    return (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0 ||
           HasOtherStreams(name);
}

// Whether two access lists hold the same entries in the same order; a
// missing list only equals a missing one.
bool SameAccessList(ACL* one, ACL* other) {
    if (one == nullptr || other == nullptr) {
        return one == other;
    }
    if (one->AceCount != other->AceCount) {
        return false;
    }
    for (DWORD i = 0; i < one->AceCount; ++i) {
        void* first = nullptr;
        void* second = nullptr;
        if (GetAce(one, i, &first) == 0 || GetAce(other, i, &second) == 0) {
            return false;
        }
        const WORD size = static_cast<const ACE_HEADER*>(first)->AceSize;
        if (size != static_cast<const ACE_HEADER*>(second)->AceSize ||
            std::memcmp(first, second, size) != 0) {
            return false;
        }
    }
    return true;
}

// Whether a file moved over the target would keep its owner and access
// list. The temporary file, made beside the target, has what any new file
// there gets, and a move keeps that: an entry given to the target itself
// (not inherited from its folder), a list protected from inheritance or
// another owner differ from it. What cannot be read counts as different.
bool SameSecurity(const wchar_t* target, HANDLE temporary) {
    constexpr SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    alignas(8) BYTE old[kSecurityBytes];
    alignas(8) BYTE fresh[kSecurityBytes];
    DWORD needed = 0;
    if (GetFileSecurityW(target, kWanted, old, kSecurityBytes, &needed) == 0 ||
        GetKernelObjectSecurity(temporary, kWanted, fresh, kSecurityBytes, &needed) == 0) {
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL oldControl = 0;
    SECURITY_DESCRIPTOR_CONTROL freshControl = 0;
    DWORD revision = 0;
    PSID oldOwner = nullptr;
    PSID freshOwner = nullptr;
    BOOL defaulted = FALSE;
    BOOL oldPresent = FALSE;
    BOOL freshPresent = FALSE;
    ACL* oldList = nullptr;
    ACL* freshList = nullptr;
    return GetSecurityDescriptorControl(old, &oldControl, &revision) != 0 &&
           GetSecurityDescriptorControl(fresh, &freshControl, &revision) != 0 &&
           ((oldControl ^ freshControl) & SE_DACL_PROTECTED) == 0 &&
           GetSecurityDescriptorOwner(old, &oldOwner, &defaulted) != 0 &&
           GetSecurityDescriptorOwner(fresh, &freshOwner, &defaulted) != 0 && oldOwner != nullptr &&
           freshOwner != nullptr && EqualSid(oldOwner, freshOwner) != 0 &&
           GetSecurityDescriptorDacl(old, &oldPresent, &oldList, &defaulted) != 0 &&
           GetSecurityDescriptorDacl(fresh, &freshPresent, &freshList, &defaulted) != 0 &&
           oldPresent == freshPresent && SameAccessList(oldList, freshList);
}

// Opens the file that is there for writing, without making one, locks it
// whole against other writers and only then empties it, so that writers
// racing for it leave one writer's whole file.
int OpenInPlace(const wchar_t* name, ReplacedFile* replaced) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!WithRetries([&] {
            handle = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            return handle != INVALID_HANDLE_VALUE;
        })) {
        return -1;
    }
    OVERLAPPED whole{};
    const int fd =
        LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0 &&
                SetEndOfFile(handle) != 0
            ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY)
            : -1;
    if (fd < 0) {
        CloseHandle(handle);  // and with it the lock
        return -1;
    }
    replaced->direct = true;
    replaced->file = _fdopen(fd, "wb");
    if (replaced->file == nullptr) {
        _close(fd);
        return -1;
    }
    return 0;
}

}  // namespace

int ReplacedFileOpen(uint32_t options, const char* name, ReplacedFile* replaced) {
    const bool noFollow = (options & IMAGE_NO_FOLLOW) != 0;
    replaced->file = nullptr;
    replaced->direct = false;
    replaced->temporary[0] = '\0';
    if (name[0] == '\0' || std::strlen(name) >= static_cast<size_t>(kReplacedNameMax)) {
        return -1;
    }
    // A UTF-8 name that is not UTF-8 names no file.
    const bool utf8 = (options & IMAGE_UTF8_NAME) != 0;
    wchar_t wide[kReplacedNameMax];
    if (MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, utf8 ? MB_ERR_INVALID_CHARS : 0, name, -1,
                            wide, kReplacedNameMax) <= 0 ||
        !Utf8Name(wide, replaced->target)) {
        return -1;
    }
    const HANDLE existing = OpenExisting(wide, noFollow);
    // The final target, when a move onto it must keep its owner and access
    // list to lose nothing.
    wchar_t wideTarget[kReplacedNameMax];
    bool compareSecurity = false;
    if (existing != INVALID_HANDLE_VALUE) {
        // A device (NUL, CON, a pipe) is written as it is: nothing to replace.
        replaced->direct = GetFileType(existing) != FILE_TYPE_DISK;
        const bool followed = replaced->direct || noFollow || FinalPath(existing, replaced->target);
        // A file with other names is replaced: written in place, it would
        // change them too.
        BY_HANDLE_FILE_INFORMATION information;
        const bool oneName = GetFileInformationByHandle(existing, &information) != 0 &&
                             information.nNumberOfLinks == 1;
        CloseHandle(existing);
        if (!followed) {
            return -1;
        }
        if (replaced->direct) {
            replaced->file = _wfopen(wide, L"wb");
            return replaced->file != nullptr ? 0 : -1;
        }
        const DWORD attributes = WideName(replaced->target, wideTarget)
                                     ? GetFileAttributesW(wideTarget)
                                     : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            return -1;  // a file we may not write stays as it is
        }
        // The bare symbol's file is always replaced: a planted link is never
        // written through.
        if (attributes != INVALID_FILE_ATTRIBUTES && !noFollow && oneName) {
            if (KeptOnlyInPlace(attributes, wideTarget)) {
                return OpenInPlace(wideTarget, replaced);
            }
            compareSecurity = true;
        }
    }
    const int fd = CreateTemporary(replaced);
    if (fd < 0) {
        return -1;
    }
    temporaryInProgress.store(replaced->temporary);
    // Decided on the empty temporary file, before anything is written.
    if (compareSecurity &&
        !SameSecurity(wideTarget, reinterpret_cast<HANDLE>(_get_osfhandle(fd)))) {
        _close(fd);
        DeleteNamed(replaced->temporary);
        ForgetTemporary(replaced);
        replaced->temporary[0] = '\0';
        return OpenInPlace(wideTarget, replaced);
    }
    replaced->file = _fdopen(fd, "wb");
    if (replaced->file == nullptr) {
        _close(fd);
        DeleteNamed(replaced->temporary);
        ForgetTemporary(replaced);
        return -1;
    }
    return 0;
}

int ReplacedFileClose(ReplacedFile* replaced, bool keep) {
    bool ok = keep && std::fflush(replaced->file) == 0;
    ok = std::fclose(replaced->file) == 0 && ok;
    replaced->file = nullptr;
    if (replaced->direct) {
        return ok ? 0 : -1;
    }
    const bool moved = ok && MoveOnto(replaced->temporary, replaced->target);
    if (!moved) {
        DeleteNamed(replaced->temporary);
    }
    ForgetTemporary(replaced);
    return moved ? 0 : -1;
}

void ImageRemoveUnfinishedFile() {
    if (const char* name = temporaryInProgress.exchange(nullptr)) {
        DeleteNamed(name);
    }
}
