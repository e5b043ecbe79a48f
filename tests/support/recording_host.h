// Hosts that record what the executor, the copier and the Start request show.
//
// An IExecHost that records what the executor and the copier show, and can
// press Cancel at a chosen pump call.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exec/executor.h"
#include "exec/run_host.h"
#include "sync/start_request.h"

class RecordingHost : public IExecHost {
public:
    void PumpPending() override {
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
    void SetPlan(const CActionList& plan) override { m_planSizes.push_back(plan.size()); }
    void SetPosition(size_t position) override { m_positions.push_back(position); }
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
    void StepEnded(int kind, const std::string& slavePath, StepOutcome outcome) override {
        if (outcome == StepOutcome::Skipped) {
            m_skipped.push_back(std::to_string(kind) + " " + slavePath);
        }
        m_failedSteps += outcome == StepOutcome::Failed ? 1 : 0;
    }
    void SourceVanished(int, const std::string& masterFile) override {
        m_vanished.push_back(masterFile);
    }
    void Moved(const std::string& from, const std::string& to) override {
        m_moved.push_back(from + " -> " + to);
    }
    void MoveFellBack(const std::string& from, const std::string& to,
                      const std::string& why) override {
        (void)why;
        m_movesFellBack.push_back(from + " -> " + to);
    }
    void ExtendedAttributesNotKept(const std::string& slavePath) override {
        m_attributesNotKept.push_back(slavePath);
    }

    int m_pumps = 0;
    int m_failedSteps = 0;
    int m_cancelAtPump = 0;  // 0: never
    bool m_cancelled = false;
    std::function<void(int)> m_onPump;
    std::vector<std::string> m_statuses;
    std::vector<size_t> m_planSizes;  // of each plan told
    std::vector<size_t> m_positions;
    std::vector<std::string> m_messages;
    std::vector<std::string> m_skipped;            // "kind path"
    std::vector<std::string> m_vanished;           // master files, as messages name them
    std::vector<std::string> m_attributesNotKept;  // slave paths
    std::vector<std::string> m_moved;              // "from -> to", slave paths
    std::vector<std::string> m_movesFellBack;      // the same, copied instead
};

// An IRequestHost that answers the Start request as a user would and writes
// down everything it is asked, in order: "busy", "idle", "caption: text" for a
// message ("kelvad" standing for the application's name), "preview", "run",
// "saved", "told: text" for what TellSlaveCreated is told. The run is shown through `m_exec`
// (its own RecordingHost unless another is given), which also receives the request's messages.
class RecordingRequestHost : public IRequestHost {
public:
    RecordingRequestHost() : m_exec(&m_ownExec) {}
    explicit RecordingRequestHost(RecordingHost& exec) : m_exec(&exec) {}

    void ShowMessage(const std::string& text, MessageKind kind) override {
        // As the window captions them.
        m_log.push_back(std::string(kind == MessageKind::Info          ? "Info"
                                    : kind == MessageKind::KelvadError ? "Kelvad"
                                                                       : "kelvad") +
                        ": " + text);
        m_exec->m_messages.push_back(text);
    }
    void SetBusy(bool busy) override { m_log.push_back(busy ? "busy" : "idle"); }
    bool KeepAliveWhileBusy() override {
        ++m_keepAlives;
        const bool stop = (m_stopAtKeepAlive != 0 && m_keepAlives >= m_stopAtKeepAlive) ||
                          (m_stopWhen && m_stopWhen());
        if (stop && m_stoppedAt == std::chrono::steady_clock::time_point()) {
            m_stoppedAt = std::chrono::steady_clock::now();
        }
        return stop;
    }
    void TellCompared(std::uint64_t bytes) override { m_compared = bytes; }
    Answer ConfirmRisk(const RunRisk& risk) override {
        m_log.push_back("Kelvad: " + RiskText(risk) + ". Continue?");
        return m_confirmDeletion ? Answer::Yes : Answer::No;
    }
    Answer ConfirmSpace(const SpaceShortage& shortage) override {
        m_log.push_back("Kelvad: " + SpaceText(shortage) + ". Continue?");
        return m_spaceAnswer;
    }
    Answer ConfirmCreateSlave(const std::string& path) override {
        m_log.push_back("Kelvad: Slave directory " + path + " doesn't exist. Create it?");
        return m_createSlave;
    }
    void TellSlaveCreated(const std::string& text) override { m_log.push_back("told: " + text); }
    bool ApprovePlan(const CActionList& actions, const std::string&) override {
        m_log.push_back("preview");
        for (const auto& action : actions) {
            m_plan.push_back(std::make_unique<CAction>(*action));
        }
        return m_approve;
    }
    IExecHost* BeginRun() override {
        m_log.push_back("run");
        if (m_beforeRun) {
            m_beforeRun();
        }
        return m_exec;
    }
    void EndRun(const RunEnd& end) override { m_runEnd = end; }
    void SaveSettings() override { m_log.push_back("saved"); }
    void TellPlanNotes(const PlanNotes& notes) override { m_leftOut = notes.leftOut; }

    std::vector<std::string> m_log;
    CActionList m_plan;  // what the preview was shown
    bool m_approve = true;
    bool m_confirmDeletion = true;
    Answer m_createSlave = Answer::Refused;  // asked of a missing slave whose parent exists
    Answer m_spaceAnswer = Answer::Yes;      // asked of a plan the slave has no room for
    int m_keepAlives = 0;
    std::uint64_t m_compared = 0;      // the bytes read to find moves, as last told
    int m_stopAtKeepAlive = 0;         // 0: never
    std::function<bool()> m_stopWhen;  // asked at each keep-alive: stop now?
    std::chrono::steady_clock::time_point m_stoppedAt;  // when a stop was first asked
    std::function<void()> m_beforeRun;                  // between the plan and its execution
    size_t m_leftOut = 0;                               // as told by TellPlanNotes
    RunEnd m_runEnd;                                    // as told by EndRun

private:
    RecordingHost m_ownExec;
    RecordingHost* m_exec;
};
