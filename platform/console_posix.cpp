#include "platform/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

namespace platform {

void PrepareConsole(int&, char**&) {}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

size_t TerminalColumns() {
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

void CatchInterrupts(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform
