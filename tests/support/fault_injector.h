// A fault injector for tests: fails the n-th call of one kind (optionally only
// for paths containing a given text) with a given errno, once.
#pragma once

#include <string>

#include "platform/fault_injection.h"

class OneFault : public platform::FaultInjector {
public:
    // Fails the `nth` (1-based) matching call of `call` with `err`.
    OneFault(platform::Call call, int err, int nth = 1, std::string pathPart = {})
        : m_call(call), m_err(err), m_nth(nth), m_pathPart(std::move(pathPart)) {
        platform::SetFaultInjector(this);
    }
    ~OneFault() override { platform::SetFaultInjector(nullptr); }

    int Fail(platform::Call call, const char* path) override {
        if (call != m_call || m_fired) {
            return 0;
        }
        if (!m_pathPart.empty() &&
            (path == nullptr || std::string(path).find(m_pathPart) == std::string::npos)) {
            return 0;
        }
        if (++m_seen < m_nth) {
            return 0;
        }
        m_fired = true;
        return m_err;
    }

    bool Fired() const { return m_fired; }
    int Seen() const { return m_seen; }

private:
    platform::Call m_call;
    int m_err;
    int m_nth;
    std::string m_pathPart;
    int m_seen = 0;
    bool m_fired = false;
};
