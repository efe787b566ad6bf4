#include "cli/program.h"

#include <csignal>

#include "cli/process_setup.h"
#include "qrfile/qrfile.h"

namespace {

// A signal that ends the program part way through a write takes the
// unfinished file with it; the file it was to replace stays as it was.
void EndOnSignal(int signal) {
    QrFileRemoveUnfinished();
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

int StartProgram(int argc, char** argv, const UnicodeArguments* unicode) {
    PrepareProcess();
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
    return RunCommandLine(argc, argv, unicode);
}
