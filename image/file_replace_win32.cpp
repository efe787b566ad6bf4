// Whole-file replacement on Windows: an exclusively created file in the
// target's directory, moved over the target once it is complete. A link to a
// file is written through to that file; a dangling link is replaced.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // GetFinalPathNameByHandleA
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
constexpr int kBaseShown = 32;  // of the target's name, in the temporary one

std::atomic<unsigned> temporarySerial{0};
// The temporary file being written, for a program that ends on a signal.
std::atomic<const char*> temporaryInProgress{nullptr};

void ForgetTemporary(const ReplacedFile* replaced) {
    const char* ours = replaced->temporary;
    temporaryInProgress.compare_exchange_strong(ours, nullptr);
}

// An open handle to what the name stands for, through its links unless
// told otherwise; INVALID_HANDLE_VALUE when nothing is there.
HANDLE OpenExisting(const char* name, bool noFollow) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

// The final path of a file reached through links, as the target to replace.
bool FinalPath(HANDLE handle, char* path) {
    const DWORD length = GetFinalPathNameByHandleA(handle, path, kReplacedNameMax, 0);
    return length > 0 && length < static_cast<DWORD>(kReplacedNameMax);
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
    const int length = std::snprintf(name, kReplacedNameMax, "%.*s.%.*s.%lu.%08x.tmp", directory,
                                     target, kBaseShown, target + directory,
                                     static_cast<unsigned long>(GetCurrentProcessId()), mixed);
    return length > 0 && length < kReplacedNameMax;
}

int CreateTemporary(ReplacedFile* replaced) {
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        if (!MakeTemporaryName(replaced->target, replaced->temporary)) {
            return -1;
        }
        const int fd =
            _open(replaced->temporary, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
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
    std::strcpy(replaced->target, name);
    const HANDLE existing = OpenExisting(name, noFollow);
    if (existing != INVALID_HANDLE_VALUE) {
        // A device (NUL, CON, a pipe) is written as it is: nothing to replace.
        replaced->direct = GetFileType(existing) != FILE_TYPE_DISK;
        const bool followed = replaced->direct || noFollow || FinalPath(existing, replaced->target);
        CloseHandle(existing);
        if (!followed) {
            return -1;
        }
        if (replaced->direct) {
            replaced->file = std::fopen(name, "wb");
            return replaced->file != nullptr ? 0 : -1;
        }
        const DWORD attributes = GetFileAttributesA(replaced->target);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            return -1;  // a file we may not write stays as it is
        }
    }
    const int fd = CreateTemporary(replaced);
    if (fd < 0) {
        return -1;
    }
    temporaryInProgress.store(replaced->temporary);
    replaced->file = _fdopen(fd, "wb");
    if (replaced->file == nullptr) {
        _close(fd);
        DeleteFileA(replaced->temporary);
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
    const bool moved = ok && MoveFileExA(replaced->temporary, replaced->target,
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!moved) {
        DeleteFileA(replaced->temporary);
    }
    ForgetTemporary(replaced);
    return moved ? 0 : -1;
}

void ImageRemoveUnfinishedFile() {
    if (const char* name = temporaryInProgress.exchange(nullptr)) {
        DeleteFileA(name);
    }
}
