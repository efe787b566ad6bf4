// Whole-file replacement, Windows's part: names go to the system in UTF-16,
// so that any character reaches the file; a name comes in the ANSI code page
// (as the *A calls would take it) or, with IMAGE_UTF8_NAME, in UTF-8, and is
// held in UTF-8 from the inspection on. A link to a file is written through
// to that file; a dangling link is replaced. What a move would drop (the
// hidden or system attribute, a stream of its own, an owner or access list a
// new file there would not get) cannot be carried over. A hard-linked file
// is replaced by one given its access list exactly, and its owner where we
// may.
#ifndef _WIN32_WINNT
// GetFinalPathNameByHandleW, and the FileIdInfo class, whose absence on
// older systems is handled where it is asked for.
#define _WIN32_WINNT 0x0602
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image/file_replace_platform.h"
#include "image/image.h"

namespace {

// Room for a file's owner and access list. One that needs more cannot be
// compared or copied: written in place, or for a hard-linked file not at all.
constexpr DWORD kSecurityBytes = 4096;
// A refused move or open is tried again for this long: another writer moving onto
// the same name, or a virus scanner or indexer glancing at a new file, holds
// it for a moment only.
constexpr DWORD kRetryMillis = 2000;
constexpr DWORD kFirstPauseMillis = 10;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Held while a temporary file is created. A console event's handler runs in
// a thread of its own beside the writer: it takes the lock and keeps it
// while the process ends, so no file is made after it has looked.
// Recursive: a handler that reaches the removal twice does not wait on itself.
CRITICAL_SECTION* TemporaryCreation() {
    static CRITICAL_SECTION lock;
    static const bool ready = (InitializeCriticalSection(&lock), true);
    return ready ? &lock : nullptr;
}

// The file found at the name, held open from the inspection until the
// file replacing it is ready (a move onto a name is refused while it is
// open). Handles have 32 significant bits, also in 64-bit processes.
HANDLE ExistingHandle(const ReplacedFile* replaced) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(replaced->existing));
}

void LetGoOfExisting(ReplacedFile* replaced) {
    if (replaced->existing != -1) {
        CloseHandle(ExistingHandle(replaced));
        replaced->existing = -1;
    }
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

bool SameFile(HANDLE one, HANDLE other) {
    FileIdentity first;
    FileIdentity second;
    return Identify(one, &first) && Identify(other, &second) && first.volume == second.volume &&
           std::memcmp(&first.id, &second.id, sizeof first.id) == 0;
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

// A refusal that may last a moment only: someone else has the file open.
bool IsMomentaryRefusal(DWORD error) {
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
        if (!IsMomentaryRefusal(GetLastError()) || waited >= kRetryMillis || IsFolder(name)) {
            return false;
        }
        const DWORD nap = pause < kRetryMillis - waited ? pause : kRetryMillis - waited;
        Sleep(nap);
        waited += nap;
    }
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

// A file's owner and access list, as a self-relative descriptor, and its
// parts.
struct Security {
    alignas(8) BYTE descriptor[kSecurityBytes];
    SECURITY_DESCRIPTOR_CONTROL control;
    PSID owner;
    BOOL listPresent;
    ACL* list;
};

bool ReadSecurity(HANDLE handle, Security* security) {
    DWORD needed = 0;
    DWORD revision = 0;
    BOOL defaulted = FALSE;
    return GetKernelObjectSecurity(handle, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                   security->descriptor, kSecurityBytes, &needed) != 0 &&
           GetSecurityDescriptorControl(security->descriptor, &security->control, &revision) != 0 &&
           GetSecurityDescriptorOwner(security->descriptor, &security->owner, &defaulted) != 0 &&
           GetSecurityDescriptorDacl(security->descriptor, &security->listPresent, &security->list,
                                     &defaulted) != 0;
}

// Whether a file moved over the old one would keep its owner and access
// list. The temporary file, made beside it, has what any new file there
// gets, and a move keeps that: an entry given to the old file itself (not
// inherited from its folder), a list protected from inheritance or another
// owner differ from it. What cannot be read counts as different.
Sameness CompareSecurity(HANDLE old, HANDLE temporary) {
    Security was;
    Security is;
    const bool same = ReadSecurity(old, &was) && ReadSecurity(temporary, &is) &&
                      ((was.control ^ is.control) & SE_DACL_PROTECTED) == 0 &&
                      was.owner != nullptr && is.owner != nullptr &&
                      EqualSid(was.owner, is.owner) != 0 && was.listPresent == is.listPresent &&
                      SameAccessList(was.list, is.list);
    return same ? Sameness::kSame : Sameness::kNotPossible;
}

// Gives the temporary file the access list of the file it replaces,
// entry for entry and protected, so that nothing the folder passes on to
// new files is added to it, now or later; and its owner, where we may
// (WRITE_OWNER and the right to name that owner), otherwise the file stays
// ours. kSame when the entries read back as given: a file open to more
// people is never written. (Wine keeps the entries as a mode, without the
// protection.)
Sameness CopySecurity(HANDLE old, HANDLE temporary) {
    Security was;
    if (!ReadSecurity(old, &was)) {
        return Sameness::kNotPossible;
    }
    if (SetSecurityDescriptorControl(was.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) == 0 ||
        SetKernelObjectSecurity(temporary,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                was.descriptor) == 0) {
        return Sameness::kFailed;
    }
    const HANDLE owning = ReOpenFile(temporary, WRITE_OWNER, kShareAll, 0);
    if (owning != INVALID_HANDLE_VALUE) {
        SetKernelObjectSecurity(owning, OWNER_SECURITY_INFORMATION, was.descriptor);
        CloseHandle(owning);
    }
    Security is;
    return ReadSecurity(temporary, &is) && was.listPresent == is.listPresent &&
                   SameAccessList(was.list, is.list)
               ? Sameness::kSame
               : Sameness::kFailed;
}

HANDLE HandleOf(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// A stream over an open handle, which the stream's close then closes.
std::FILE* Stream(HANDLE handle) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
    }
    return file;
}

}  // namespace

int ReplaceInspect(uint32_t options, const char* name, ReplacedFile* replaced,
                   ReplaceFacts* facts) {
    facts->followLinks = (options & IMAGE_NO_FOLLOW) == 0;
    facts->kind = ReplacedKind::kNone;
    facts->sameness = Sameness::kUnknown;
    if (std::strlen(name) >= static_cast<size_t>(kReplacedNameMax)) {
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
    const HANDLE existing = OpenExisting(wide, !facts->followLinks);
    if (existing == INVALID_HANDLE_VALUE) {
        // Anything but "nothing there" is a failure, never a new file.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
    }
    replaced->existing = static_cast<int>(reinterpret_cast<intptr_t>(existing));
    // A device (NUL, CON, a pipe) is written as it is: nothing to replace.
    if (GetFileType(existing) != FILE_TYPE_DISK) {
        facts->kind = ReplacedKind::kOther;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(existing, &information) == 0) {
        return -1;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        facts->kind = ReplacedKind::kFolder;
        return 0;
    }
    wchar_t wideTarget[kReplacedNameMax];
    if ((facts->followLinks && !FinalPath(existing, replaced->target)) ||
        !WideName(replaced->target, wideTarget)) {
        return -1;
    }
    facts->kind = ReplacedKind::kRegular;
    facts->writable = (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
    facts->oneName = information.nNumberOfLinks == 1;
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0 ||
        HasOtherStreams(wideTarget)) {
        facts->sameness = Sameness::kNotPossible;
    }
    return 0;
}

int ReplaceFolderLength(const char* target) {
    const char* slash = std::strrchr(target, '\\');
    const char* forward = std::strrchr(target, '/');
    if (forward != nullptr && (slash == nullptr || forward > slash)) {
        slash = forward;
    }
    return slash == nullptr ? 0 : static_cast<int>(slash - target) + 1;
}

unsigned ReplaceProcessId() {
    return static_cast<unsigned>(GetCurrentProcessId());
}

unsigned ReplaceTicks() {
    return static_cast<unsigned>(GetTickCount());
}

// Shared for deletion only, whoever it replaces: nobody else reads or writes
// it while it is open, and the console handler can remove it meanwhile. Its
// access list is the old file's, or compared with it, before any byte is
// written. Not inherited by other programs.
Created ReplaceCreate(ReplacedFile* replaced, bool /*ownerOnly*/) {
    wchar_t wide[kReplacedNameMax];
    if (!WideName(replaced->temporary, wide)) {
        return Created::kFailed;
    }
    EnterCriticalSection(TemporaryCreation());
    const HANDLE handle =
        CreateFileW(wide, GENERIC_WRITE | READ_CONTROL | WRITE_DAC, FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    LeaveCriticalSection(TemporaryCreation());
    if (handle == INVALID_HANDLE_VALUE) {
        return error == ERROR_FILE_EXISTS     ? Created::kNameTaken
               : error == ERROR_ACCESS_DENIED ? Created::kRefused
                                              : Created::kFailed;
    }
    replaced->file = Stream(handle);
    if (replaced->file == nullptr) {
        DeleteFileW(wide);
        return Created::kFailed;
    }
    return Created::kCreated;
}

Sameness ReplaceTakeOver(ReplacedFile* replaced) {
    const HANDLE old = ExistingHandle(replaced);
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(old, &information) == 0) {
        return Sameness::kFailed;
    }
    // A file with other names is never written in place, which would change
    // them too: it is replaced as closely as we can, or not at all.
    const Sameness sameness = information.nNumberOfLinks == 1
                                  ? CompareSecurity(old, HandleOf(replaced->file))
                                  : CopySecurity(old, HandleOf(replaced->file));
    // Kept for a write in place only: a move onto the name is refused while
    // it is open.
    if (sameness != Sameness::kNotPossible) {
        LetGoOfExisting(replaced);
    }
    return sameness;
}

std::FILE* ReplaceOpenDevice(const ReplacedFile* replaced) {
    wchar_t wide[kReplacedNameMax];
    return WideName(replaced->target, wide) ? _wfopen(wide, L"wb") : nullptr;
}

// Opened without being made, and only if it is still the file inspected;
// locked whole against other writers and only then emptied, so that writers
// racing for it leave one writer's whole file.
std::FILE* ReplaceOpenInPlace(const ReplacedFile* replaced) {
    wchar_t wide[kReplacedNameMax];
    if (!WideName(replaced->target, wide)) {
        return nullptr;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!WithRetries(wide, [&] {
            handle = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            return handle != INVALID_HANDLE_VALUE;
        })) {
        return nullptr;
    }
    OVERLAPPED whole{};
    if (!SameFile(handle, ExistingHandle(replaced)) ||
        LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0 ||
        SetEndOfFile(handle) == 0) {
        CloseHandle(handle);  // and with it the lock
        return nullptr;
    }
    return Stream(handle);
}

// Sends what the system holds of the file to the disk itself, so that a
// power cut after the move cannot leave the name with missing data. A
// device, or a file system that cannot flush (some network redirectors),
// has nothing to send.
int ReplaceSync(std::FILE* file) {
    const HANDLE handle = HandleOf(file);
    if (GetFileType(handle) != FILE_TYPE_DISK || FlushFileBuffers(handle) != 0) {
        return 0;
    }
    const DWORD error = GetLastError();
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ? 0 : -1;
}

int ReplaceCommit(ReplacedFile* replaced) {
    LetGoOfExisting(replaced);
    wchar_t from[kReplacedNameMax];
    wchar_t to[kReplacedNameMax];
    if (!WideName(replaced->temporary, from) || !WideName(replaced->target, to)) {
        return -1;
    }
    const bool moved = WithRetries(to, [&] {
        return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
    return moved ? 0 : -1;
}

// Also from the console handler's thread: a file open still is removed all
// the same (it is shared for deletion), and goes when its handle closes.
void ReplaceRemoveTemporary(const ReplacedFile* replaced) {
    wchar_t wide[kReplacedNameMax];
    if (replaced->temporary[0] != '\0' && WideName(replaced->temporary, wide)) {
        DeleteFileW(wide);
    }
}

// Waits for a temporary file being created and keeps the lock: the program
// is ending, in the console handler's thread, while the writer runs on.
void ReplaceStopCreating() {
    EnterCriticalSection(TemporaryCreation());
}

void ReplaceRelease(ReplacedFile* replaced) {
    LetGoOfExisting(replaced);
}
