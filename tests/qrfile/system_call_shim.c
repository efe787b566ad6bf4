/* Loaded into the console program (LD_PRELOAD) by the hostile-folder tests.
 * ZEM_SHIM_SWAP_LINK=link ZEM_SHIM_SWAP_TO=target: another user re-points
 *   the link at target just before the first look at a name without
 *   following it, which comes after the kernel's own open of the name.
 * ZEM_SHIM_FSETXATTR=n, ZEM_SHIM_FCHOWN=n: those calls fail with errno n.
 * ZEM_SHIM_SLOW_FCHMOD=ms: fchmod waits that long first, which leaves
 *   another user all the time he needs to open a file before its mode is
 *   set. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

static void SwapLinkOnce(void) {
    static int swapped;
    const char* link = getenv("ZEM_SHIM_SWAP_LINK");
    const char* to = getenv("ZEM_SHIM_SWAP_TO");
    char fresh[4096];
    if (swapped || link == NULL || to == NULL) {
        return;
    }
    swapped = 1;
    snprintf(fresh, sizeof fresh, "%s.swap", link);
    if (symlink(to, fresh) != 0 || rename(fresh, link) != 0) {
        abort();
    }
}

static int Fails(const char* variable) {
    const char* value = getenv(variable);
    if (value == NULL) {
        return 0;
    }
    errno = atoi(value);
    return 1;
}

int openat(int folder, const char* name, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list rest;
        va_start(rest, flags);
        mode = va_arg(rest, mode_t);
        va_end(rest);
    }
    if ((flags & (O_PATH | O_NOFOLLOW)) == (O_PATH | O_NOFOLLOW)) {
        SwapLinkOnce();
    }
    return (int)syscall(SYS_openat, folder, name, flags, mode);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    return Fails("ZEM_SHIM_FSETXATTR") ? -1
                                       : (int)syscall(SYS_fsetxattr, fd, name, value, size, flags);
}

int fchown(int fd, uid_t owner, gid_t group) {
    return Fails("ZEM_SHIM_FCHOWN") ? -1 : (int)syscall(SYS_fchown, fd, owner, group);
}

int fchmod(int fd, mode_t mode) {
    const char* pause = getenv("ZEM_SHIM_SLOW_FCHMOD");
    if (pause != NULL) {
        usleep((useconds_t)atoi(pause) * 1000);
    }
    return (int)syscall(SYS_fchmod, fd, mode);
}
