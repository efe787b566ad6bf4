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

}  // namespace

int StartProgram(int argc, char** argv, const UnicodeArguments* unicode) {
    PrepareProcess();
    CatchEndingSignals(EndOnSignal);
    return RunCommandLine(argc, argv, unicode);
}
