// For the floors' durable mode (--durable): what a careful program does to
// replace a file it has written under a temporary name. The data reach the
// disk, then the name moves. Plain C library and POSIX only.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

// 0, or -1 when the sync or the rename fails.
inline int SyncAndRename(const char* temporary, const char* name) {
    const int fd = open(temporary, O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return synced && std::rename(temporary, name) == 0 ? 0 : -1;
}
