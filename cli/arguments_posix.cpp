// The command line as the system hands it over: bytes, taken as they are.
#include "cli/program.h"

int main(int argc, char** argv) {
    return StartProgram(argc, argv, nullptr);
}
