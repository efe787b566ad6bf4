#include <malloc.h>

#include <csignal>

#include "cli/command_line.h"

int main(int argc, char** argv) {
    // One run makes one file and exits, so the heap need never shrink, and
    // it may as well hold large blocks too (up to the C library's ceiling):
    // the work Image then lies in the heap, and once the drawing is cut out
    // of it, the pages it touched serve libpng's and zlib's buffers. Fresh
    // pages would cost a page fault each, for a small symbol a twentieth of
    // the run. Only advice: a refusal changes nothing but the speed.
    constexpr int kHeapBlocksUpTo = 32 << 20;
    mallopt(M_MMAP_THRESHOLD, kHeapBlocksUpTo);
    mallopt(M_TRIM_THRESHOLD, kHeapBlocksUpTo);
#ifdef SIGXFSZ
    // A file-size limit then makes the write fail like a full disk, which we
    // report, instead of killing us without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    return RunCommandLine(argc, argv);
}
