#include <malloc.h>

#include <csignal>

#include "cli/command_line.h"
#include "image/file_replace.h"

namespace {

// A signal that ends the program part way through a write takes the
// unfinished file with it; the file it was to replace stays as it was.
void EndOnSignal(int signal) {
    ReplacedFileRemoveInProgress();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A signal that whoever started us ignores (nohup, say) stays ignored.
void EndOn(int signal) {
    if (std::signal(signal, EndOnSignal) == SIG_IGN) {
        std::signal(signal, SIG_IGN);
    }
}

}  // namespace

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
    EndOn(SIGINT);
    EndOn(SIGTERM);
#ifdef SIGHUP
    EndOn(SIGHUP);
    EndOn(SIGQUIT);
#endif
#ifdef SIGXFSZ
    // A file-size limit then makes the write fail like a full disk, which we
    // report, instead of killing us without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    return RunCommandLine(argc, argv);
}
