// The window program: on Windows the kelvad command itself, elsewhere the
// kelvad-window that the command starts when it is given no arguments. With
// arguments it runs the command line, without a display; without any it opens
// its window.
#include "app/sync_app.h"
#include "cli/command_line.h"
#include "platform/console.h"

wxIMPLEMENT_APP_NO_MAIN(CSyncApp);

int main(int argc, char** argv) {
    platform::PrepareConsole(argc, argv);
    if (WantsCommandLine(argc, argv)) {
        return RunCommandLine(argc, argv);
    }
    return wxEntry(argc, argv);
}
