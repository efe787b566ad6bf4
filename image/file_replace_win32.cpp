// Whole-file replacement on Windows: an exclusively created file in the
// target's directory, moved over the target once it is complete. A link to a
// file is written through to that file; a dangling link is replaced. A file
// with one name and what a move would drop (the hidden or system attribute,
// a stream of its own, an owner or access list a new file there would not
// get) is written in place instead. A file with other names is replaced by
// one given its access list, exactly, and its owner where we may.
// Names go to the system in UTF-16, so that any character reaches the file:
// a name comes in the ANSI code page (as the *A calls would take it) or, with
// IMAGE_UTF8_NAME, in UTF-8, and is held in UTF-8 from the open on.
#ifndef _WIN32_WINNT
// GetFinalPathNameByHandleW, and the FileIdInfo class, whose absence on
// older systems is handled where it is asked for.
#define _WIN32_WINNT 0x0602
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
// The temporary file being written, for a program that ends on a console
// event.
std::atomic<const char*> temporaryInProgress{nullptr};

// Held while a temporary file is created. A console event's handler runs in
// a thread of its own: it takes the lock and keeps it while the process
// ends, so no file is made after it has looked. Recursive, since both the C
// runtime's Ctrl+C handler and ours call the removal in that thread.
CRITICAL_SECTION* TemporaryCreation() {
    static CRITICAL_SECTION lock;
    static const bool ready = (InitializeCriticalSection(&lock), true);
    return ready ? &lock : nullptr;
}

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
// told otherwise, that reads its owner and access list where we may;
// INVALID_HANDLE_VALUE when nothing is there.
HANDLE OpenExisting(const wchar_t* name, bool noFollow) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle =
        CreateFileW(name, READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    return handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED
               ? handle
               : CreateFileW(name, 0, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Which file a handle is open on: its volume and its id there.
struct FileIdentity {
    ULONGLONG volume;
    FILE_ID_128 id;
};

// The 128-bit id (ReFS needs all of it) where the system gives it; Windows 7
// and older Wine lack FileIdInfo (Wine 8 has it); there the volume serial
// number and 64-bit file index of the plain query identify the file.
bool Identify(HANDLE handle, FileIdentity* identity) {
    FILE_ID_INFO full;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &full, sizeof full) != 0) {
        identity->volume = full.VolumeSerialNumber;
        identity->id = full.FileId;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(handle, &information) == 0) {
        return false;
    }
    const ULONGLONG index =
        (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    identity->volume = information.dwVolumeSerialNumber;
    std::memset(&identity->id, 0, sizeof identity->id);
    std::memcpy(&identity->id, &index, sizeof index);
    return true;
}

bool SameFile(const FileIdentity& one, const FileIdentity& other) {
    return one.volume == other.volume && std::memcmp(&one.id, &other.id, sizeof one.id) == 0;
}

bool IsFolder(const wchar_t* name) {
    const DWORD attributes = GetFileAttributesW(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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

// Creates the temporary file, recorded for the console handler before it
// exists. Shared for deletion only: nobody else reads or writes it, and the
// handler can remove it while it is open. Not inherited by other programs.
HANDLE CreateTemporary(ReplacedFile* replaced) {
    wchar_t wide[kReplacedNameMax];
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        if (!MakeTemporaryName(replaced->target, replaced->temporary) ||
            !WideName(replaced->temporary, wide)) {
            return INVALID_HANDLE_VALUE;
        }
        EnterCriticalSection(TemporaryCreation());
        temporaryInProgress.store(replaced->temporary);
        const HANDLE handle =
            CreateFileW(wide, GENERIC_WRITE | READ_CONTROL | WRITE_DAC, FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (handle == INVALID_HANDLE_VALUE) {
            ForgetTemporary(replaced);
        }
        LeaveCriticalSection(TemporaryCreation());
        if (handle != INVALID_HANDLE_VALUE || error != ERROR_FILE_EXISTS) {
            return handle;
        }
    }
    return INVALID_HANDLE_VALUE;
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

// Runs `step` on the file `name` until it succeeds or fails for good: a
// refusal that may pass is tried again after a pause that doubles each time,
// about 2 seconds in all. A folder of that name refuses for good.
template <typename Step>
bool WithRetries(const wchar_t* name, Step step) {
    DWORD waited = 0;
    for (DWORD pause = kFirstPauseMillis;; pause *= 2) {
        if (step()) {
            return true;
        }
        if (!MayPass(GetLastError()) || waited >= kRetryMillis || IsFolder(name)) {
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
    return WithRetries(wideTo, [&] {
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

// A file's owner and access list, as a self-relative descriptor.
struct Security {
    alignas(8) BYTE descriptor[kSecurityBytes];
};
constexpr SECURITY_INFORMATION kOwnerAndList =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

bool ReadSecurity(HANDLE handle, Security* security) {
    DWORD needed = 0;
    return GetKernelObjectSecurity(handle, kOwnerAndList, security->descriptor, kSecurityBytes,
                                   &needed) != 0;
}

struct OwnerAndList {
    SECURITY_DESCRIPTOR_CONTROL control;
    PSID owner;
    BOOL listPresent;
    ACL* list;
};

bool Parts(Security* security, OwnerAndList* parts) {
    DWORD revision = 0;
    BOOL defaulted = FALSE;
    parts->owner = nullptr;
    parts->list = nullptr;
    return GetSecurityDescriptorControl(security->descriptor, &parts->control, &revision) != 0 &&
           GetSecurityDescriptorOwner(security->descriptor, &parts->owner, &defaulted) != 0 &&
           GetSecurityDescriptorDacl(security->descriptor, &parts->listPresent, &parts->list,
                                     &defaulted) != 0;
}

// Whether a file moved over the target would keep its owner and access
// list. The temporary file, made beside the target, has what any new file
// there gets, and a move keeps that: an entry given to the target itself
// (not inherited from its folder), a list protected from inheritance or
// another owner differ from it. What cannot be read counts as different.
bool SameSecurity(Security* old, HANDLE temporary) {
    Security fresh;
    OwnerAndList was;
    OwnerAndList is;
    return ReadSecurity(temporary, &fresh) && Parts(old, &was) && Parts(&fresh, &is) &&
           ((was.control ^ is.control) & SE_DACL_PROTECTED) == 0 && was.owner != nullptr &&
           is.owner != nullptr && EqualSid(was.owner, is.owner) != 0 &&
           was.listPresent == is.listPresent && SameAccessList(was.list, is.list);
}

// Gives the temporary file the access list of the file it replaces,
// entry for entry and protected, so that nothing the folder passes on to
// new files is added to it, now or later; and its owner, where we may
// (WRITE_OWNER and the right to name that owner), otherwise the file stays
// ours. true when the entries read back as given: a file open to more
// people is never written. (Wine keeps the entries as a mode, without the
// protection.)
bool TakeOverSecurity(Security* old, HANDLE temporary) {
    OwnerAndList was;
    if (!Parts(old, &was) ||
        SetSecurityDescriptorControl(old->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) == 0 ||
        SetKernelObjectSecurity(temporary,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                old->descriptor) == 0) {
        return false;
    }
    const HANDLE owning = ReOpenFile(temporary, WRITE_OWNER,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (owning != INVALID_HANDLE_VALUE) {
        SetKernelObjectSecurity(owning, OWNER_SECURITY_INFORMATION, old->descriptor);
        CloseHandle(owning);
    }
    Security given;
    OwnerAndList is;
    return ReadSecurity(temporary, &given) && Parts(&given, &is) &&
           was.listPresent == is.listPresent && SameAccessList(was.list, is.list);
}

// Opens the file that was inspected for writing, without making one, locks
// it whole against other writers and only then empties it, so that writers
// racing for it leave one writer's whole file. Fails when the name has come
// to stand for another file since.
int OpenInPlace(const wchar_t* name, const FileIdentity& inspected, ReplacedFile* replaced) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!WithRetries(name, [&] {
            handle = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            return handle != INVALID_HANDLE_VALUE;
        })) {
        return -1;
    }
    FileIdentity opened;
    OVERLAPPED whole{};
    const int fd =
        Identify(handle, &opened) && SameFile(opened, inspected) &&
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

// Removes the temporary file after a failure before the image was written.
void DropTemporary(ReplacedFile* replaced) {
    DeleteNamed(replaced->temporary);
    ForgetTemporary(replaced);
    replaced->temporary[0] = '\0';
}

// How the file at the name is written, decided on the inspected file.
enum class Way { kRefuse, kDevice, kReplace, kInPlace, kCompare, kTakeOver };

// The inspected file's way. kCompare: replaced if a new file there gets the
// same owner and access list, else in place; kTakeOver: replaced by a file
// given its access list, or not at all.
Way ChooseWay(HANDLE existing, bool noFollow, ReplacedFile* replaced, wchar_t* wideTarget,
              FileIdentity* identity) {
    // A device (NUL, CON, a pipe) is written as it is: nothing to replace.
    if (GetFileType(existing) != FILE_TYPE_DISK) {
        return Way::kDevice;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(existing, &information) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !Identify(existing, identity) || (!noFollow && !FinalPath(existing, replaced->target)) ||
        !WideName(replaced->target, wideTarget)) {
        return Way::kRefuse;  // a folder is never replaced
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return Way::kRefuse;  // a file we may not write stays as it is
    }
    // The bare symbol's file is always replaced: a planted link is never
    // written through.
    if (noFollow) {
        return Way::kReplace;
    }
    // A file with other names is replaced: written in place, it would
    // change them too.
    if (information.nNumberOfLinks != 1) {
        return Way::kTakeOver;
    }
    return KeptOnlyInPlace(information.dwFileAttributes, wideTarget) ? Way::kInPlace
                                                                     : Way::kCompare;
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
    const DWORD lookup = GetLastError();
    if (existing == INVALID_HANDLE_VALUE && lookup != ERROR_FILE_NOT_FOUND &&
        lookup != ERROR_PATH_NOT_FOUND) {
        return -1;  // something is there that we cannot see: not taken as nothing
    }
    wchar_t wideTarget[kReplacedNameMax];
    FileIdentity identity{};
    Security old;
    Way way = Way::kReplace;
    if (existing != INVALID_HANDLE_VALUE) {
        way = ChooseWay(existing, noFollow, replaced, wideTarget, &identity);
        // Read from the file inspected, not looked up again by name.
        if ((way == Way::kCompare || way == Way::kTakeOver) && !ReadSecurity(existing, &old)) {
            way = way == Way::kCompare ? Way::kInPlace : Way::kRefuse;
        }
        CloseHandle(existing);
    }
    switch (way) {
        case Way::kRefuse:
            return -1;
        case Way::kDevice:
            replaced->direct = true;
            replaced->file = _wfopen(wide, L"wb");
            return replaced->file != nullptr ? 0 : -1;
        case Way::kInPlace:
            return OpenInPlace(wideTarget, identity, replaced);
        default:
            break;
    }
    const HANDLE handle = CreateTemporary(replaced);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // Decided on the empty temporary file, before anything is written.
    if (way == Way::kCompare && !SameSecurity(&old, handle)) {
        CloseHandle(handle);
        DropTemporary(replaced);
        return OpenInPlace(wideTarget, identity, replaced);
    }
    const int fd = way != Way::kTakeOver || TakeOverSecurity(&old, handle)
                       ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY)
                       : -1;
    if (fd < 0) {
        CloseHandle(handle);
        DropTemporary(replaced);
        return -1;
    }
    replaced->file = _fdopen(fd, "wb");
    if (replaced->file == nullptr) {
        _close(fd);
        DropTemporary(replaced);
        return -1;
    }
    return 0;
}

namespace {

// Sends what the system holds of a file on disk to the disk itself, so that
// a power cut after the move cannot leave the name with missing data. A
// file system that cannot flush (some network redirectors) is no error.
bool Flushed(std::FILE* file) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (GetFileType(handle) != FILE_TYPE_DISK || FlushFileBuffers(handle) != 0) {
        return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

}  // namespace

int ReplacedFileClose(ReplacedFile* replaced, bool keep) {
    bool ok = keep && std::fflush(replaced->file) == 0 && Flushed(replaced->file);
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

// Called from the console handler's thread: it waits for a temporary file
// being created, and keeps the lock, so that none is made while the process
// ends. The file is removed while still open (it is shared for deletion),
// and goes when the process's handle to it closes.
void ImageRemoveUnfinishedFile() {
    EnterCriticalSection(TemporaryCreation());
    if (const char* name = temporaryInProgress.exchange(nullptr)) {
        DeleteNamed(name);
    }
}
