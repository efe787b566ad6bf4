// A file size limit for the writer tests: POSIX only (fork, setrlimit).
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>

// Runs `write` in a child process whose files may not grow beyond `limit`
// bytes, so a write fails part-way as on a full disk. Returns the negative
// code `write` returned there (INT_MIN if the child died).
template <typename Write>
int WithFileSizeLimit(rlim_t limit, Write write) {
    std::fflush(nullptr);  // nothing buffered may be written twice, or in the child
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
        const rlimit bound{limit, limit};
        setrlimit(RLIMIT_FSIZE, &bound);
        _exit(-write() & 0xFF);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return INT_MIN;
    }
    return -WEXITSTATUS(status);
}
