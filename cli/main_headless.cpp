// Kelvad built without its window: the command line alone.
#include <cstdio>

#include "cli/command_line.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    platform::PrepareConsole(argc, argv);
    if (!WantsCommandLine(argc, argv)) {
        std::fputs(
            "kelvad: this build has no window; kelvad --help lists what the command line does\n",
            stderr);
        return kExitRefused;
    }
    return RunCommandLine(argc, argv);
}
