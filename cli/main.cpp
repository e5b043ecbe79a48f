// The kelvad command. With arguments it is the command line, which needs no
// display and loads no toolkit: a nightly run does not pay for the window's
// libraries. Without any it hands over to the window program, kelvad-window,
// found beside it in a build and in ../libexec/kelvad when installed; a build
// without the window says so.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/command_line.h"
#include "platform/console.h"

namespace {

// Starts the window program in place of this process, with the same
// arguments and environment; returns only when it could not be started.
int StartWindow(char** argv) {
#ifndef _WIN32
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        const std::string here(self, static_cast<size_t>(n));
        const std::string dir = here.substr(0, here.rfind('/'));
        int failure = ENOENT;
        std::string tried;
        for (const std::string& window :
             {dir + "/kelvad-window", dir + "/../libexec/kelvad/kelvad-window"}) {
            ::execv(window.c_str(), argv);  // argv[0] stays: the desktop knows the window by it
            tried = window;
            if (errno != ENOENT) {
                failure = errno;
                break;
            }
        }
#ifndef KELVAD_WINDOW_PROGRAM
        if (failure == ENOENT) {
            tried.clear();  // a build without the window: said below
        }
#endif
        if (!tried.empty()) {
            std::fprintf(stderr, "kelvad: cannot start the window (%s: %s)\n", tried.c_str(),
                         std::strerror(failure));
            return kExitRefused;
        }
    }
#endif
    (void)argv;
    std::fputs("kelvad: this build has no window; kelvad --help lists what the command line does\n",
               stderr);
    return kExitRefused;
}

}  // namespace

int main(int argc, char** argv) {
    platform::PrepareConsole(argc, argv);
    if (WantsCommandLine(argc, argv)) {
        return RunCommandLine(argc, argv);
    }
    return StartWindow(argv);
}
