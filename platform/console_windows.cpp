#include "platform/console.h"

#include "platform/windows_util.h"

#include <io.h>
#include <shellapi.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

namespace {
// True when the standard handle `which` leads somewhere (a file, a pipe, a console).
bool Connected(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}
}  // namespace

void PrepareConsole(int& argc, char**& argv) {
    // Kept for the life of the process, as argv is.
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count); wide != nullptr) {
        arguments.clear();
        for (int i = 0; i < count; ++i) {
            arguments.push_back(win::Narrow(wide[i]));
        }
        ::LocalFree(wide);
        pointers.clear();
        for (std::string& a : arguments) {
            pointers.push_back(a.data());
        }
        pointers.push_back(nullptr);
        argc = count;
        argv = pointers.data();
    }
    // A window program started from a console with arguments writes to that
    // console, unless its output was sent elsewhere.
    if (argc > 1 && !Connected(STD_ERROR_HANDLE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
    ::SetConsoleOutputCP(CP_UTF8);
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (::GetConsoleMode(error, &mode)) {
        ::SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

size_t TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return 80;
    }
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    return width > 0 ? static_cast<size_t>(width) : 80;
}

void CatchInterrupts(void (*handler)(int)) {
    std::signal(SIGINT, handler);
    std::signal(SIGBREAK, handler);
    std::signal(SIGTERM, handler);
}

}  // namespace platform
