// Whole-file replacement on POSIX systems: an exclusively created file in the
// target's directory, renamed over the target once it is complete. Where the
// new file could not be the old one again (its owner, group, mode, user
// attributes or access list cannot be given to it, or the folder would refuse
// the rename), the old file is written in place under a lock instead.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
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

// Creates the temporary file and records it for a signal's clean-up; -1
// when no name could be had, with errno as the last try left it.
int CreateTemporary(ReplacedFile* replaced) {
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        if (!MakeTemporaryName(replaced->target, replaced->temporary)) {
            return -1;
        }
        // Recorded before it exists: a signal that comes as the file is made
        // still finds it.
        temporaryInProgress.store(replaced->temporary);
        // The umask applies as for any new file.
        const int fd =
            open(replaced->temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            return fd;
        }
        const int error = errno;
        ForgetTemporary(replaced);
        errno = error;
        if (error != EEXIST) {
            return -1;
        }
    }
    return -1;
}

// Room for a file's list of attribute names and for one value; a file with
// more is written in place rather than lose any.
constexpr size_t kAttributeRoom = 4096;
constexpr char kAccessList[] = "system.posix_acl_access";

// The attributes a replaced file carries over: the user's own and the access
// list. The others belong to the system or to a privileged owner.
bool CarriedOver(const char* attribute) {
    return std::strncmp(attribute, "user.", 5) == 0 || std::strcmp(attribute, kAccessList) == 0;
}

// The attribute names of the file at `path`, or of `fd` when `path` is null,
// into `names`: their length, or -1 when they cannot be read whole. A file
// system without attributes has none.
ssize_t ListAttributes(const char* path, int fd, char* names) {
    const ssize_t length = path != nullptr ? listxattr(path, names, kAttributeRoom)
                                           : flistxattr(fd, names, kAttributeRoom);
    return length < 0 && errno == ENOTSUP ? 0 : length;
}

ssize_t NextName(const char* names, ssize_t at) {
    return at + static_cast<ssize_t>(std::strlen(names + at)) + 1;
}

bool Listed(const char* names, ssize_t length, const char* attribute) {
    for (ssize_t at = 0; at < length; at = NextName(names, at)) {
        if (std::strcmp(names + at, attribute) == 0) {
            return true;
        }
    }
    return false;
}

// Gives the temporary file `fd` the attributes of the file at `oldName` that
// carry over, and drops those it got on its own (an access list from the
// folder's default); true when each reads back as it is on the old file.
bool CopyAttributes(int fd, const char* oldName) {
    char names[kAttributeRoom];
    char value[kAttributeRoom];
    char back[kAttributeRoom];
    const ssize_t length = ListAttributes(oldName, -1, names);
    if (length < 0) {
        return false;
    }
    for (ssize_t at = 0; at < length; at = NextName(names, at)) {
        const char* attribute = names + at;
        if (!CarriedOver(attribute)) {
            continue;
        }
        const ssize_t size = getxattr(oldName, attribute, value, sizeof value);
        if (size < 0 || fsetxattr(fd, attribute, value, static_cast<size_t>(size), 0) != 0 ||
            fgetxattr(fd, attribute, back, sizeof back) != size ||
            std::memcmp(value, back, static_cast<size_t>(size)) != 0) {
            return false;
        }
    }
    const ssize_t own = ListAttributes(nullptr, fd, value);
    if (own < 0) {
        return false;
    }
    for (ssize_t at = 0; at < own; at = NextName(value, at)) {
        if (CarriedOver(value + at) && !Listed(names, length, value + at) &&
            fremovexattr(fd, value + at) != 0) {
            return false;
        }
    }
    return true;
}

// Gives the temporary file what the file it replaces had: its user
// attributes and access list, owner and group where we may, and the mode.
// true when fstat and the attributes read back show all of it.
bool TakeOverAttributes(int fd, const char* oldName, const struct stat& old) {
    // While the file is still ours and writable: user attributes need both.
    const bool copied = CopyAttributes(fd, oldName);
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
        // Only root or a member of the group may; anyone else keeps their own.
        if (fchown(fd, old.st_uid, old.st_gid) != 0 &&
            fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // The new file stays ours: seen below.
        }
    }
    // After the owner, whose change clears the set-id bits.
    fchmod(fd, old.st_mode & 07777);
    struct stat now;
    return copied && fstat(fd, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
           (now.st_mode & 07777) == (old.st_mode & 07777);
}

// Whether we may pass over a sticky folder's owner check (CAP_FOWNER).
bool MayOverrideOwners() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    return syscall(SYS_capget, &header, data) == 0 &&
           (data[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32))) != 0;
}

// Whether the folder of `target` lets us rename over it: in a sticky folder
// (/tmp) only the owner of the file or of the folder may.
bool MayRenameOver(const char* target, const struct stat& old) {
    char folder[kReplacedNameMax] = ".";
    if (const char* slash = std::strrchr(target, '/')) {
        const size_t kept = slash == target ? 1 : static_cast<size_t>(slash - target);
        std::memcpy(folder, target, kept);
        folder[kept] = '\0';
    }
    struct stat status;
    if (stat(folder, &status) != 0) {
        return false;
    }
    const uid_t me = geteuid();
    return (status.st_mode & S_ISVTX) == 0 || old.st_uid == me || status.st_uid == me ||
           MayOverrideOwners();
}

// Opens the regular file `target`, the one `old` describes, to be written
// over where it is: never created, and locked against other writers before
// it is emptied, so writers racing for it leave one writer's whole file.
int OpenInPlace(const char* target, const struct stat& old) {
    const int fd = open(target, O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return -1;
    }
    struct stat now;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    int locked = -1;
    if (fstat(fd, &now) == 0 && now.st_dev == old.st_dev && now.st_ino == old.st_ino) {
        // A lock of this open file, not of the process: threads exclude each
        // other too, and the close releases it.
        do {
            locked = fcntl(fd, F_OFD_SETLKW, &lock);
        } while (locked != 0 && errno == EINTR);
    }
    if (locked != 0 || ftruncate(fd, 0) != 0) {
        close(fd);
        return -1;
    }
    return fd;
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
        const int createError = errno;
        const bool regular = exists && S_ISREG(old.st_mode);
        // Only a file reached through its links, and known by that one name,
        // may be written in place: no planted qr.png or other name of a file
        // leads a write to it.
        const bool inPlaceAllowed = regular && !noFollow && old.st_nlink == 1;
        bool same = true;
        if (fd >= 0 && regular) {
            same = TakeOverAttributes(fd, replaced->target, old) &&
                   MayRenameOver(replaced->target, old);
        }
        // A folder we may not add to; not a full disk, where writing in place
        // would lose the old file.
        const bool refused = fd < 0 && (createError == EACCES || createError == EPERM);
        if (inPlaceAllowed && (refused || !same)) {
            if (fd >= 0) {
                close(fd);
                unlink(replaced->temporary);
                ForgetTemporary(replaced);
            }
            replaced->direct = true;
            fd = OpenInPlace(replaced->target, old);
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
