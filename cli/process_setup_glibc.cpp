#include <malloc.h>

#include <csignal>

#include "cli/process_setup.h"

void PrepareProcess() {
    // One run makes one file and exits, so the heap need never shrink, and
    // it may as well hold large blocks too (up to the C library's ceiling):
    // the work Image then lies in the heap, and once the drawing is cut out
    // of it, the pages it touched serve libpng's and zlib's buffers. Fresh
    // pages would cost a page fault each, for a small symbol a twentieth of
    // the run. Only advice: a refusal changes nothing but the speed.
    constexpr int kHeapBlocksUpTo = 32 << 20;
    mallopt(M_MMAP_THRESHOLD, kHeapBlocksUpTo);
    mallopt(M_TRIM_THRESHOLD, kHeapBlocksUpTo);
}

namespace {

void CatchUnlessIgnored(int signal, void (*end)(int)) {
    if (std::signal(signal, end) == SIG_IGN) {
        std::signal(signal, SIG_IGN);  // as nohup and the like asked
    }
}

}  // namespace

void CatchEndingSignals(void (*end)(int)) {
    // Those the crash signals (SEGV, BUS, FPE, ILL, ABRT, TRAP, SYS) are
    // not among: after one, nothing the program holds can be trusted.
    constexpr int kEnding[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
                               SIGVTALRM, SIGPROF, SIGPIPE, SIGXCPU, SIGPOLL, SIGPWR};
    for (const int signal : kEnding) {
        CatchUnlessIgnored(signal, end);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        CatchUnlessIgnored(signal, end);
    }
    // A file-size limit then makes the write fail like a full disk, which we
    // report, instead of killing us without a word.
    std::signal(SIGXFSZ, SIG_IGN);
}
