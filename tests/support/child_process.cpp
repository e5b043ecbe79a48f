#include "support/child_process.h"

#ifdef _WIN32
#include "platform/windows_util.h"
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

#ifdef _WIN32

ChildProcess::ChildProcess(const std::string& filter, const Environment& environment) {
    wchar_t self[32768];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, 32768);
    for (const auto& [name, value] : environment) {  // inherited by the child, then taken back
        ::SetEnvironmentVariableW(platform::win::Widen(name).c_str(),
                                  platform::win::Widen(value).c_str());
    }
    std::wstring command =
        L"\"" + std::wstring(self, n) + L"\" --gtest_filter=" + platform::win::Widen(filter);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process)) {
        ::CloseHandle(process.hThread);
        m_handle = process.hProcess;
        m_id = static_cast<int>(process.dwProcessId);
        m_running = true;
    }
    for (const auto& [name, value] : environment) {
        ::SetEnvironmentVariableW(platform::win::Widen(name).c_str(), nullptr);
    }
}

ChildProcess::~ChildProcess() {
    Kill();
    if (m_handle != nullptr) {
        ::CloseHandle(m_handle);
    }
}

bool ChildProcess::Started() const {
    return m_handle != nullptr;
}

bool ChildProcess::Kill() {
    if (!m_running) {
        return false;
    }
    const bool running = ::WaitForSingleObject(m_handle, 0) == WAIT_TIMEOUT;
    ::TerminateProcess(m_handle, 137);
    ::WaitForSingleObject(m_handle, INFINITE);
    m_running = false;
    return running;
}

#else

ChildProcess::ChildProcess(const std::string& filter, const Environment& environment) {
    const pid_t child = ::fork();
    if (child == 0) {
        for (const auto& [name, value] : environment) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        const std::string option = "--gtest_filter=" + filter;
        ::execl("/proc/self/exe", "kelvad_tests", option.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    m_id = child;
    m_running = child > 0;
}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Started() const {
    return m_id > 0;
}

bool ChildProcess::Kill() {
    if (!m_running) {
        return false;
    }
    ::kill(m_id, SIGKILL);
    int status = 0;
    ::waitpid(m_id, &status, 0);
    m_running = false;
    return WIFSIGNALED(status);
}

#endif
