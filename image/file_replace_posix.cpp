// Whole-file replacement on POSIX systems: an exclusively created file in the
// target's directory, renamed over the target once it is complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/file_replace.h"
#include "image/image.h"

namespace {

constexpr int kLinkHops = 40;  // as many as the kernel follows
constexpr int kNameTries = 64;
constexpr int kBaseShown = 32;  // of the target's name, in the temporary one

std::atomic<unsigned> temporarySerial{0};
// The temporary file being written, for a program that ends on a signal.
std::atomic<const char*> temporaryInProgress{nullptr};

// Forgets the temporary file once it is renamed or removed, unless another
// write has taken its place meanwhile.
void ForgetTemporary(const ReplacedFile* replaced) {
    const char* ours = replaced->temporary;
    temporaryInProgress.compare_exchange_strong(ours, nullptr);
}

bool CopyName(char* to, const char* from) {
    const size_t length = std::strlen(from);
    if (length >= static_cast<size_t>(kReplacedNameMax)) {
        return false;
    }
    std::memcpy(to, from, length + 1);
    return true;
}

// Follows the symbolic links at `path` to the name a plain open for writing
// would land on; a missing name ends the walk like any file. false for a
// loop or a name too long.
bool FollowLinks(char* path) {
    char link[kReplacedNameMax];
    for (int hop = 0; hop < kLinkHops; ++hop) {
        struct stat status;
        if (lstat(path, &status) != 0 || !S_ISLNK(status.st_mode)) {
            return true;
        }
        const ssize_t length = readlink(path, link, sizeof link);
        if (length < 0 || length >= static_cast<ssize_t>(sizeof link)) {
            return false;
        }
        link[length] = '\0';
        // A relative link counts from the directory that holds it.
        const char* slash = link[0] == '/' ? nullptr : std::strrchr(path, '/');
        const size_t kept = slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
        if (kept + length >= static_cast<size_t>(kReplacedNameMax)) {
            return false;
        }
        std::memcpy(path + kept, link, static_cast<size_t>(length) + 1);
    }
    return false;
}

// A fresh name beside the target: the directory, a dot, the start of the
// target's own name and a number that differs from call to call.
bool MakeTemporaryName(const char* target, char* name) {
    const char* slash = std::strrchr(target, '/');
    const int directory = slash == nullptr ? 0 : static_cast<int>(slash - target) + 1;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const unsigned serial = temporarySerial.fetch_add(1, std::memory_order_relaxed);
    const unsigned mixed = static_cast<unsigned>(now.tv_nsec) ^ (serial * 0x9E3779B9u);
    const int length = std::snprintf(name, kReplacedNameMax, "%.*s.%.*s.%d.%08x.tmp", directory,
                                     target, NameStartLength(target + directory, kBaseShown),
                                     target + directory, static_cast<int>(getpid()), mixed);
    return length > 0 && length < kReplacedNameMax;
}

// Creates the temporary file; -1 when no name could be had.
int CreateTemporary(ReplacedFile* replaced) {
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        if (!MakeTemporaryName(replaced->target, replaced->temporary)) {
            return -1;
        }
        // The umask applies as for any new file.
        const int fd =
            open(replaced->temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Gives the temporary file what the file it replaces had: owner and group
// where we may, and the permission bits.
void TakeOverAttributes(int fd, const struct stat& old) {
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
        // Only root or a member of the group may; anyone else keeps their own.
        if (fchown(fd, old.st_uid, old.st_gid) != 0 &&
            fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // The new file stays ours: nothing lost but the old ownership.
        }
    }
    fchmod(fd, old.st_mode & 0777);
}

}  // namespace

int ReplacedFileOpen(uint32_t options, const char* name, ReplacedFile* replaced) {
    const bool noFollow = (options & IMAGE_NO_FOLLOW) != 0;
    replaced->file = nullptr;
    replaced->direct = false;
    replaced->temporary[0] = '\0';
    if (name[0] == '\0' || !CopyName(replaced->target, name)) {
        return -1;
    }
    // What the name stands for, through its links unless told otherwise.
    struct stat old;
    const bool exists = (noFollow ? lstat(name, &old) : stat(name, &old)) == 0;
    int fd = -1;
    if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) {
        // A device or a FIFO (a pipe behind /dev/stdout too) is written as it
        // is: there is nothing to replace.
        replaced->direct = true;
        fd = open(name, O_WRONLY | O_TRUNC | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
    } else if (exists && S_ISREG(old.st_mode) && faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0) {
        return -1;  // a file we may not write stays as it is
    } else if (noFollow || FollowLinks(replaced->target)) {
        fd = CreateTemporary(replaced);
        if (fd >= 0) {
            temporaryInProgress.store(replaced->temporary);
        }
        if (fd >= 0 && exists && S_ISREG(old.st_mode)) {
            TakeOverAttributes(fd, old);
        }
    }
    if (fd < 0) {
        return -1;
    }
    replaced->file = fdopen(fd, "wb");
    if (replaced->file == nullptr) {
        close(fd);
        if (!replaced->direct) {
            unlink(replaced->temporary);
            ForgetTemporary(replaced);
        }
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
    const bool renamed = ok && rename(replaced->temporary, replaced->target) == 0;
    if (!renamed) {
        unlink(replaced->temporary);
    }
    ForgetTemporary(replaced);
    return renamed ? 0 : -1;
}

void ImageRemoveUnfinishedFile() {
    if (const char* name = temporaryInProgress.exchange(nullptr)) {
        unlink(name);
    }
}
