// An IExecHost that records what the executor and the copier show, and can
// press Cancel at a chosen pump call.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "exec/run_host.h"

class RecordingHost : public IExecHost {
public:
    void PumpOneMessage() override {
        ++m_pumps;
        if (m_onPump) {
            m_onPump(m_pumps);
        }
        if (m_cancelAtPump != 0 && m_pumps >= m_cancelAtPump) {
            m_cancelled = true;
        }
    }
    bool IsCancelled() const override { return m_cancelled; }
    void SetStatus(const std::string& text) override { m_statuses.push_back(text); }
    void SetRange(size_t upper) override { m_ranges.push_back(upper); }
    void SetPosition(size_t position) override { m_positions.push_back(position); }
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }

    int m_pumps = 0;
    int m_cancelAtPump = 0;  // 0: never
    bool m_cancelled = false;
    std::function<void(int)> m_onPump;
    std::vector<std::string> m_statuses;
    std::vector<size_t> m_ranges;
    std::vector<size_t> m_positions;
    std::vector<std::string> m_messages;
};
