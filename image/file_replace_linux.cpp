// Whole-file replacement on Linux. The file at a name is the one the kernel
// opens (O_PATH, through the name's links, under the kernel's own link
// rules); a walk of the same links, one folder descriptor at a time, finds
// the folder and entry to rename over and must end on that same file. The
// temporary file is made, checked and renamed relative to that folder. Where
// the new file could not be the old one again (its owner, group, mode, user
// attributes or access list cannot be given to it, or the folder would
// refuse the rename), the old file is written in place under a lock instead.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/file_replace.h"
#include "image/file_replace_platform.h"
#include "image/image.h"

namespace {

constexpr int kLinkHops = 40;  // as many as the kernel follows
// Room for a file's list of attribute names and for one value; a file with
// more is written in place rather than lose any.
constexpr size_t kAttributeRoom = 4096;
constexpr char kAccessList[] = "system.posix_acl_access";

bool SameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

bool CopyName(char* to, const char* from) {
    const size_t length = std::strlen(from);
    if (length >= static_cast<size_t>(kReplacedNameMax)) {
        return false;
    }
    std::memcpy(to, from, length + 1);
    return true;
}

// Opens the folder part of `path`, counted from the folder `from`, and
// leaves its last part in `leaf`: a descriptor, or -1.
int OpenFolderOf(int from, const char* path, char* leaf) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        return CopyName(leaf, path) ? openat(from, ".", O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
    }
    char folder[kReplacedNameMax];
    const size_t kept = slash == path ? 1 : static_cast<size_t>(slash - path);
    std::memcpy(folder, path, kept);
    folder[kept] = '\0';
    return CopyName(leaf, slash + 1) ? openat(from, folder, O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
}

// Walks `name` link by link, each step from the folder reached so far, to
// the folder and entry a kernel open lands on: the folder's descriptor goes
// to `replaced->folder`, the entry's name to `replaced->target`, its status
// to `entry`. `present` is false when the last entry does not exist. false on
// a loop, a name too long or any other error.
bool WalkToEntry(const char* name, bool followLinks, ReplacedFile* replaced, struct stat* entry,
                 bool* present) {
    char leaf[kReplacedNameMax];
    char link[kReplacedNameMax];
    int folder = OpenFolderOf(AT_FDCWD, name, leaf);
    for (int hop = 0; folder >= 0 && hop <= kLinkHops; ++hop) {
        const int fd = openat(folder, leaf, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        *present = fd >= 0;
        if (fd < 0 && errno != ENOENT) {
            break;
        }
        const bool stated = *present && fstat(fd, entry) == 0;
        if (!*present || (stated && (!S_ISLNK(entry->st_mode) || !followLinks))) {
            if (fd >= 0) {
                close(fd);
            }
            replaced->folder = folder;
            return CopyName(replaced->target, leaf);
        }
        const ssize_t length = stated ? readlinkat(fd, "", link, sizeof link) : -1;
        close(fd);
        if (length < 0 || length >= static_cast<ssize_t>(sizeof link)) {
            break;
        }
        link[length] = '\0';
        // A relative link counts from the folder that holds it.
        const int next = OpenFolderOf(folder, link, leaf);
        close(folder);
        folder = next;
    }
    if (folder >= 0) {
        close(folder);
    }
    return false;
}

// From fchown, fsetxattr and the like: whether `error` says that this
// system, file system or user cannot give a file that, rather than that it
// failed to (a full disk, a quota, an I/O error).
Sameness Refusal(int error) {
    switch (error) {
        case EPERM:
        case EACCES:
        case EINVAL:  // ids not mapped in a user namespace, an idmapped mount
        case ENOTSUP:
        case ERANGE:
        case E2BIG:
            return Sameness::kNotPossible;
        default:
            return Sameness::kFailed;
    }
}

// Where the old file's attributes are read from: a descriptor open for
// reading, or the kernel's own link to the file when none could be had.
struct AttributeSource {
    int fd;
    char path[32];
};

ssize_t ListAttributes(const AttributeSource& source, char* names) {
    const ssize_t length = source.fd >= 0 ? flistxattr(source.fd, names, kAttributeRoom)
                                          : listxattr(source.path, names, kAttributeRoom);
    return length < 0 && errno == ENOTSUP ? 0 : length;  // a file system without attributes
}

ssize_t ReadAttribute(const AttributeSource& source, const char* attribute, char* value) {
    return source.fd >= 0 ? fgetxattr(source.fd, attribute, value, kAttributeRoom)
                          : getxattr(source.path, attribute, value, kAttributeRoom);
}

// The old file's attributes could not be read: where neither way reads
// them, they cannot be copied.
Sameness UnreadAttributes(const AttributeSource& source) {
    return source.fd < 0 ? Sameness::kNotPossible : Refusal(errno);
}

// The attributes a replaced file carries over: the user's own and the access
// list. The others belong to the system or to a privileged owner.
bool CarriedOver(const char* attribute) {
    return std::strncmp(attribute, "user.", 5) == 0 || std::strcmp(attribute, kAccessList) == 0;
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

// Gives the temporary file `fd` the attributes of the old file that carry
// over, and drops those it got on its own (an access list from the folder's
// default); kSame when each reads back as it is on the old file.
Sameness CopyAttributes(int fd, const AttributeSource& source) {
    char names[kAttributeRoom];
    char value[kAttributeRoom];
    char back[kAttributeRoom];
    const ssize_t length = ListAttributes(source, names);
    if (length < 0) {
        return UnreadAttributes(source);
    }
    for (ssize_t at = 0; at < length; at = NextName(names, at)) {
        const char* attribute = names + at;
        if (!CarriedOver(attribute)) {
            continue;
        }
        const ssize_t size = ReadAttribute(source, attribute, value);
        if (size < 0) {
            return UnreadAttributes(source);
        }
        if (fsetxattr(fd, attribute, value, static_cast<size_t>(size), 0) != 0) {
            return Refusal(errno);
        }
        if (fgetxattr(fd, attribute, back, sizeof back) != size ||
            std::memcmp(value, back, static_cast<size_t>(size)) != 0) {
            return Sameness::kNotPossible;
        }
    }
    const ssize_t own = ListAttributes({fd, {}}, value);
    if (own < 0) {
        return Refusal(errno);
    }
    for (ssize_t at = 0; at < own; at = NextName(value, at)) {
        if (CarriedOver(value + at) && !Listed(names, length, value + at) &&
            fremovexattr(fd, value + at) != 0) {
            return Refusal(errno);
        }
    }
    return Sameness::kSame;
}

// Copies the attributes of the file `replaced->existing`, read through a
// second descriptor of that same file (an O_PATH one cannot read them), or
// through the kernel's link to it when the name no longer leads there (a
// writer racing for it renamed its own file over it) or no descriptor could
// be had.
Sameness CopyAttributesOf(const ReplacedFile* replaced, const struct stat& old, int fd) {
    AttributeSource source{openat(replaced->folder, replaced->target,
                                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC),
                           {}};
    struct stat opened;
    if (source.fd >= 0 && (fstat(source.fd, &opened) != 0 || !SameFile(opened, old))) {
        close(source.fd);
        source.fd = -1;
    }
    if (source.fd < 0) {
        std::snprintf(source.path, sizeof source.path, "/proc/self/fd/%d", replaced->existing);
    }
    const Sameness copied = CopyAttributes(fd, source);
    if (source.fd >= 0) {
        close(source.fd);
    }
    return copied;
}

// Whether we may pass over a sticky folder's owner check (CAP_FOWNER).
bool MayOverrideOwners() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    return syscall(SYS_capget, &header, data) == 0 &&
           (data[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32))) != 0;
}

// Whether the folder lets us rename over the file `old`: in a sticky folder
// (/tmp) only the owner of the file or of the folder may.
bool MayRenameOver(int folder, const struct stat& old) {
    struct stat status;
    if (fstat(folder, &status) != 0) {
        return false;
    }
    const uid_t me = geteuid();
    return (status.st_mode & S_ISVTX) == 0 || old.st_uid == me || status.st_uid == me ||
           MayOverrideOwners();
}

std::FILE* Stream(int fd) {
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

enum class Inspected { kDone, kNameMoved, kFailed };

// One look at `name`: the kernel's open, then the walk to the entry the
// rename will replace, which must be the same file.
Inspected InspectOnce(const char* name, ReplacedFile* replaced, ReplaceFacts* facts) {
    if (!CopyName(replaced->target, name)) {
        return Inspected::kFailed;
    }
    // The kernel's open, under its rules for links (fs.protected_symlinks),
    // is what the name stands for; "no such file" only is no file.
    replaced->existing = open(name, O_PATH | O_CLOEXEC | (facts->followLinks ? 0 : O_NOFOLLOW));
    struct stat old {};
    if ((replaced->existing < 0 && errno != ENOENT) ||
        (replaced->existing >= 0 && fstat(replaced->existing, &old) != 0)) {
        return Inspected::kFailed;
    }
    facts->kind = replaced->existing < 0 ? ReplacedKind::kNone
                  : S_ISREG(old.st_mode) ? ReplacedKind::kRegular
                  : S_ISDIR(old.st_mode) ? ReplacedKind::kFolder
                                         : ReplacedKind::kOther;
    if (facts->kind == ReplacedKind::kFolder ||
        (facts->kind == ReplacedKind::kOther && facts->followLinks)) {
        return Inspected::kDone;  // nothing to rename over: written as it is or not at all
    }
    struct stat entry {};
    bool present = false;
    if (!WalkToEntry(name, facts->followLinks, replaced, &entry, &present)) {
        return Inspected::kFailed;
    }
    if (present != (replaced->existing >= 0) || (present && !SameFile(entry, old))) {
        return Inspected::kNameMoved;
    }
    if (facts->kind == ReplacedKind::kRegular) {
        facts->writable = faccessat(replaced->folder, replaced->target, W_OK, AT_EACCESS) == 0;
        facts->oneName = old.st_nlink == 1;
        if (!MayRenameOver(replaced->folder, old)) {
            facts->sameness = Sameness::kNotPossible;
        }
    }
    return Inspected::kDone;
}

// Another writer's rename between the two lookups moves the name to a new
// file: look again, a few times, before giving up. Each look checks anew,
// so no owner or mode is ever taken from a file the name does not reach.
constexpr int kInspections = 8;

}  // namespace

int ReplaceInspect(uint32_t options, const char* name, ReplacedFile* replaced,
                   ReplaceFacts* facts) {
    for (int attempt = 0; attempt < kInspections; ++attempt) {
        *facts = ReplaceFacts{};
        facts->followLinks = (options & IMAGE_NO_FOLLOW) == 0;
        facts->sameness = Sameness::kUnknown;
        const Inspected inspected = InspectOnce(name, replaced, facts);
        if (inspected != Inspected::kNameMoved) {
            return inspected == Inspected::kDone ? 0 : -1;
        }
        ReplaceRelease(replaced);
    }
    return -1;
}

int ReplaceFolderLength(const char* target) {
    const char* slash = std::strrchr(target, '/');
    return slash == nullptr ? 0 : static_cast<int>(slash - target) + 1;
}

unsigned ReplaceProcessId() {
    return static_cast<unsigned>(getpid());
}

unsigned ReplaceTicks() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<unsigned>(now.tv_nsec);
}

Created ReplaceCreate(ReplacedFile* replaced, bool ownerOnly) {
    // A new file gets what the umask leaves of 0666, as any other; one that
    // replaces a file is its owner's alone until it has the old one's
    // access list, owner and mode.
    const int fd =
        openat(replaced->folder, replaced->temporary,
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, ownerOnly ? 0600 : 0666);
    if (fd < 0) {
        return errno == EEXIST                     ? Created::kNameTaken
               : errno == EACCES || errno == EPERM ? Created::kRefused
                                                   : Created::kFailed;
    }
    replaced->file = Stream(fd);
    if (replaced->file == nullptr) {
        unlinkat(replaced->folder, replaced->temporary, 0);
        return Created::kFailed;
    }
    return Created::kCreated;
}

Sameness ReplaceTakeOver(ReplacedFile* replaced) {
    const int fd = fileno(replaced->file);
    struct stat old;
    if (fstat(replaced->existing, &old) != 0) {
        return Sameness::kFailed;
    }
    // While the file is still ours and writable: user attributes need both.
    Sameness same = CopyAttributesOf(replaced, old, fd);
    if (same == Sameness::kSame && (old.st_uid != geteuid() || old.st_gid != getegid()) &&
        fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Only root or a member of the group may; anyone else keeps their own.
        same = Refusal(errno);
        if (same == Sameness::kNotPossible && fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            same = Refusal(errno);
        }
    }
    // After the owner, whose change clears the set-id bits.
    if (same != Sameness::kFailed && fchmod(fd, old.st_mode & 07777) != 0) {
        same = Refusal(errno);
    }
    struct stat now;
    if (same != Sameness::kFailed &&
        (fstat(fd, &now) != 0 || now.st_uid != old.st_uid || now.st_gid != old.st_gid ||
         (now.st_mode & 07777) != (old.st_mode & 07777))) {
        same = Sameness::kNotPossible;
    }
    return same;
}

std::FILE* ReplaceOpenDevice(const ReplacedFile* replaced) {
    // Opened by name again, as a device or FIFO must be to write to it, and
    // checked to be the one inspected.
    const int fd = open(replaced->target, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    struct stat old;
    struct stat now;
    if (fd >= 0 && (fstat(replaced->existing, &old) != 0 || fstat(fd, &now) != 0 ||
                    !SameFile(now, old) || S_ISREG(now.st_mode))) {
        close(fd);
        return nullptr;
    }
    return Stream(fd);
}

std::FILE* ReplaceOpenInPlace(const ReplacedFile* replaced) {
    // Never created, and never blocking on a FIFO put in its place.
    const int fd = openat(replaced->folder, replaced->target,
                          O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat old;
    struct stat now;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    int locked = -1;
    if (fstat(replaced->existing, &old) == 0 && fstat(fd, &now) == 0 && SameFile(now, old)) {
        // A lock of this open file, not of the process: threads exclude each
        // other too, and the close releases it. Emptied only once locked,
        // so writers racing for it leave one writer's whole file.
        do {
            locked = fcntl(fd, F_OFD_SETLKW, &lock);
        } while (locked != 0 && errno == EINTR);
    }
    if (locked != 0 || ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
    }
    return Stream(fd);
}

int ReplaceSync(std::FILE* file) {
    const int fd = fileno(file);
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return -1;
    }
    if (!S_ISREG(status.st_mode) || fsync(fd) == 0) {
        return 0;
    }
    // Some file systems (FUSE ones) have no sync: nothing more can be done.
    return errno == EINVAL || errno == ENOTSUP || errno == ENOSYS ? 0 : -1;
}

int ReplaceCommit(ReplacedFile* replaced) {
    return renameat(replaced->folder, replaced->temporary, replaced->folder, replaced->target);
}

void ReplaceRemoveTemporary(const ReplacedFile* replaced) {
    if (replaced->temporary[0] != '\0') {
        unlinkat(replaced->folder, replaced->temporary, 0);
    }
}

// A signal handler runs in the thread it interrupts: no file is being made.
void ReplaceStopCreating() {}

void ReplaceRelease(ReplacedFile* replaced) {
    if (replaced->folder >= 0) {
        close(replaced->folder);
        replaced->folder = -1;
    }
    if (replaced->existing >= 0) {
        close(replaced->existing);
        replaced->existing = -1;
    }
}
