#include "sync/run_log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "sync/action_line.h"
#include "sync/display_text.h"

RunLog::~RunLog() {
    WritePending();
    if (m_fd >= 0) {
        (void)platform::CloseFile(m_fd);
    }
}

namespace {
// The log's path below the state directory.
constexpr const char* kBelowState = "/kelvad/kelvad.log";
}  // namespace

std::string RunLog::DefaultPath() {
    const std::string state = platform::StateDirectory();
    return state.empty() ? std::string() : state + WithNativeSeparators(kBelowState);
}

std::string RunLog::DefaultPathShown() {
    return platform::kStateDirectoryShown + WithNativeSeparators(kBelowState);
}

std::string RunLog::DefaultPathUnknown() {
    return platform::StateDirectoryUnknown();
}

platform::Status RunLog::Open(const std::string& path) {
    const platform::Result<int> fd = platform::OpenForAppend(
        path, platform::MissingDirectories::Refuse, platform::MissingFile::Refuse);
    platform::FileInfo info;
    if (fd.ok() && path == DefaultPath() && platform::DescribeOpenFile(*fd, info).ok() &&
        info.size > kRotateBytes) {
        // The usual log keeps one older file beside it: this one, renamed, and a
        // new one is made when the first line is written out.
        (void)platform::CloseFile(*fd);
        if (const platform::Status rotated = platform::RenameReplacing(path, path + ".1");
            !rotated.ok()) {
            return rotated;
        }
    } else if (fd.ok()) {
        m_fd = *fd;
    } else if (!fd.status().Is(ENOENT) ||
               (path != DefaultPath() && !platform::IsDirectoryPath(platform::ParentOf(path)))) {
        return fd.status();
    } else if (platform::IsDirectoryPath(platform::ParentOf(path))) {
        // Made when the first line is written out: a directory that will not
        // take it refuses the log now, before the run changes anything.
        if (const platform::Status creatable = platform::MayCreateIn(platform::ParentOf(path));
            !creatable.ok()) {
            return creatable;
        }
    }
    m_path = path;
    return {};
}

void RunLog::Release() {
    m_holding = false;
    std::string held;
    held.swap(m_held);
    if (!held.empty()) {
        WriteOut(held);
    }
}

std::string RunLog::Line(const std::string& text) {
    char stamp[32];
    const std::tm local = platform::LocalTime(std::time(nullptr));
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    // The process's id tells the lines of two runs at once apart.
    return stamp + ("[" + std::to_string(platform::ProcessId()) + "] ") + EscapeForTerminal(text) +
           "\n";
}

void RunLog::Write(const std::string& text) {
    WriteSoon(text);
    if (!m_holding) {
        WritePending();  // this line, and any WriteSoon still keeps, at once
    }
}

void RunLog::WriteSoon(const std::string& text) {
    if (m_path.empty() || !m_failure.ok()) {
        return;
    }
    if (m_holding) {
        m_held += Line(text);
        return;
    }
    m_pending += Line(text);
    if (m_pending.size() >= 64 * 1024) {
        WritePending();
    } else {
        WriteDue();
    }
}

void RunLog::WriteDue() {
    if (!m_pending.empty() &&
        std::chrono::steady_clock::now() - m_lastOut >= std::chrono::seconds(1)) {
        WritePending();
    }
}

void RunLog::WritePending() {
    std::string pending;
    pending.swap(m_pending);
    if (!pending.empty()) {
        WriteOut(pending);
    }
    m_lastOut = std::chrono::steady_clock::now();
}

void RunLog::WriteCancelled() {
    m_cancelled = true;
    Write("cancelled");
}

void RunLog::WriteOut(const std::string& lines) {
    if (m_fd < 0 && m_failure.ok()) {
        const platform::Result<int> fd = platform::OpenForAppend(
            m_path, m_path == DefaultPath() ? platform::MissingDirectories::Make
                                            : platform::MissingDirectories::Refuse);
        if (!fd.ok()) {
            m_failure = fd.status();
            return;
        }
        m_fd = *fd;
    }
    // One write for whole lines: lines of two runs at once stay whole.
    if (m_failure.ok()) {
        m_failure = platform::WriteAll(m_fd, lines.data(), lines.size());
    }
}

bool RunRecord::Run(const CActionList& actions, const PlanCounts& planned,
                    platform::TreeRoot& master, platform::TreeRoot& slave, OnFailure onFailure,
                    FlushAtEnd flush, Keeper* keeper, unsigned jobs) {
    m_slaveRoot = slave.Path() + platform::kSeparator;
    m_planned = planned.byKind;
    m_progress.emplace(actions, RunProgress::Clock::now());
    m_keptIn = keeper != nullptr ? keeper->Where() : std::string();
    const bool done = ExecuteActions(*this, actions, master, slave, flush, onFailure, keeper, jobs);
    if (!done && m_inner.IsCancelled()) {
        m_discarded += std::exchange(m_stepCopied, 0);
    }
    if (m_log != nullptr) {
        // A cancel that came while the finished run was written to the disk
        // stopped nothing: the run is done.
        if (!done && m_inner.IsCancelled()) {
            m_log->WriteCancelled();  // before the next change; what was done stays done
        }
        m_log->Write("summary: " + Summary(m_unreadable, m_blocked));
    }
    m_inner.RunEnded();
    return done;
}

std::string PruneOldVersions(Keeper& keeper, int keepDays, RunLog* log) {
    const Pruned pruned = keeper.Prune(std::time(nullptr), keepDays);
    for (const std::string& name : pruned.removed) {
        if (log != nullptr) {
            log->Write("pruned: " + platform::JoinPath(pruned.versions, name));
        }
    }
    if (pruned.failure.ok()) {
        return {};
    }
    return "Unable to remove old versions " + platform::JoinPath(pruned.versions, pruned.failedAt) +
           " (" + pruned.failure.Reason() + ")";
}

bool RunRecord::Prune(Keeper& keeper, int keepDays) {
    const std::string failure = PruneOldVersions(keeper, keepDays, m_log);
    if (!failure.empty()) {
        ShowMessage(failure);
    }
    return failure.empty();
}

void RunRecord::PumpPending() {
    if (m_log != nullptr) {
        m_log->WriteDue();
    }
    m_inner.PumpPending();
}

void RunRecord::SetPlan(const CActionList& plan) {
    m_inner.SetPlan(plan);
    m_inner.SetProgress(*m_progress);
}

void RunRecord::SetPosition(size_t position) {
    // A step that ends without being done while a cancel is pending was a
    // copy thrown away, with what it had copied.
    if (m_inner.IsCancelled()) {
        m_discarded += m_stepCopied;
    }
    m_stepCopied = 0;
    m_progress->StepEnded(position);
    m_inner.SetPosition(position);
}

void RunRecord::AddCopiedBytes(std::uint64_t bytes) {
    m_progress->AddCopiedBytes(bytes);
    m_stepCopied += bytes;
    m_inner.AddCopiedBytes(bytes);
}

void RunRecord::ShowMessage(const std::string& text) {
    if (m_log != nullptr) {
        m_log->Write("failed: " + text);
    }
    m_inner.ShowMessage(text);
}

void RunRecord::StepEnded(int kind, const std::string& slavePath, StepOutcome outcome) {
    const size_t k = kind >= ACTION_MODIFY && kind <= ACTION_MOVE ? static_cast<size_t>(kind) : 0;
    m_stepCopied = 0;
    if (outcome == StepOutcome::Done) {
        ++m_done[k];
        static const char* const kDone[] = {
            "", "replaced: ", "deleted: ", "created: ", "made directory: ", "removed directory: ",
            ""};
        // What a keeper took away has its "kept:" line, and what lay below a
        // directory it took none; a move has its "moved:" line.
        const bool kept =
            (!m_keptIn.empty() && (k == ACTION_DELETE || k == ACTION_RMDIR)) || k == ACTION_MOVE;
        if (m_log != nullptr && !kept) {
            m_log->WriteSoon(kDone[k] + m_slaveRoot + slavePath);
        }
    } else if (outcome == StepOutcome::Failed) {
        ++m_failed[k];
    }
    m_inner.StepEnded(kind, slavePath, outcome);
}

void RunRecord::SourceVanished(int kind, const std::string& masterFile) {
    m_stepCopied = 0;
    ++m_vanished[kind >= ACTION_MODIFY && kind <= ACTION_MOVE ? static_cast<size_t>(kind) : 0];
    if (m_log != nullptr) {
        m_log->Write("vanished: " + masterFile);
    }
    m_inner.SourceVanished(kind, masterFile);
}

void RunRecord::ExtendedAttributesNotKept(const std::string& slavePath) {
    ++m_attributesLost;
    m_inner.ExtendedAttributesNotKept(slavePath);
}

void RunRecord::Kept(const std::string& slavePath, const std::string& keptPath) {
    ++m_kept;
    if (m_log != nullptr) {
        m_log->WriteSoon("kept: " + m_slaveRoot + slavePath + " -> " + keptPath);
    }
    m_inner.Kept(slavePath, keptPath);
}

void RunRecord::Moved(const std::string& from, const std::string& to) {
    if (m_log != nullptr) {
        m_log->WriteSoon("moved: " + m_slaveRoot + from + " -> " + m_slaveRoot + to);
    }
    m_inner.Moved(from, to);
}

void RunRecord::MoveFellBack(const std::string& from, const std::string& to,
                             const std::string& why) {
    ++m_movesCopied;
    if (m_log != nullptr) {
        m_log->Write("copied, not moved (" + why + "): " + m_slaveRoot + from + " -> " +
                     m_slaveRoot + to);
    }
    m_inner.MoveFellBack(from, to, why);
}

size_t RunRecord::Vanished() const {
    size_t vanished = 0;
    for (const size_t n : m_vanished) {
        vanished += n;
    }
    return vanished;
}

std::string RunRecord::Summary(size_t unreadable, size_t blocked) const {
    const double seconds =
        m_progress
            ? std::chrono::duration<double>(RunProgress::Clock::now() - m_progress->Start()).count()
            : 0.0;
    size_t failed = blocked;
    size_t skipped = 0;
    for (size_t kind = 0; kind < m_done.size(); ++kind) {
        const size_t copied = kind == ACTION_MOVE ? m_movesCopied : 0;
        failed += m_failed[kind];
        skipped += m_planned[kind] - std::min(m_planned[kind], m_done[kind] + m_failed[kind] +
                                                                   m_vanished[kind] + copied);
    }
    char text[384];
    int n =
        std::snprintf(text, sizeof text,
                      "%zu created, %zu modified, %zu deleted, %zu directories made, "
                      "%zu removed%s; %s copied in %.1f s",
                      m_done[ACTION_CREATE], m_done[ACTION_MODIFY], m_done[ACTION_DELETE],
                      m_done[ACTION_MKDIR], m_done[ACTION_RMDIR],
                      m_planned[ACTION_MOVE] == 0
                          ? ""
                          : (", " + std::to_string(m_done[ACTION_MOVE]) + " moved").c_str(),
                      ByteCountText(m_progress ? m_progress->BytesCopied() : 0).c_str(), seconds);
    if (failed + skipped + unreadable > 0 && n > 0 && static_cast<size_t>(n) < sizeof text) {
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                      "; %zu failed, %zu not tried, %zu directories not read", failed, skipped,
                      unreadable);
    }
    std::string summary = text;
    if (const size_t vanished = Vanished(); vanished > 0) {
        summary += "; " + std::to_string(vanished) + " vanished";
    }
    if (m_attributesLost > 0) {
        summary += "; extended attributes of " + std::to_string(m_attributesLost) +
                   (m_attributesLost == 1 ? " file" : " files") + " not kept";
    }
    if (m_kept > 0) {
        summary += "; " + std::to_string(m_kept) + " kept in " + m_keptIn;
    }
    if (m_discarded > 0) {
        summary += "; " + ByteCountText(m_discarded) + " of a copy discarded";
    }
    return summary;
}
