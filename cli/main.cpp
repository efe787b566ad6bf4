#include "cli/command_line.h"
#include "cli/process_setup.h"

int main(int argc, char** argv) {
    PrepareProcess();
    return RunCommandLine(argc, argv);
}
