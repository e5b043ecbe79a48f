#include "exec/executor.h"

#include <cerrno>
#include <chrono>
#include <future>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "exec/copier.h"
#include "platform/error_text.h"
#include "platform/file_ops.h"
#include "platform/path_compare.h"
#include "platform/tree_root.h"

namespace {

// " (reason)" for the errno of the call on the slave's `relative` that just
// failed. A mount point in the way is named: the system's words for it ("Invalid
// cross-device link", "Device or resource busy") do not say where it is.
std::string Reason(platform::TreeRoot& slave, std::string_view relative) {
    const int err = errno;
    if (err == EXDEV || err == EBUSY) {
        const std::string mountPoint = slave.MountPointOn(relative);
        if (!mountPoint.empty()) {
            return " (another file system is mounted at " + slave.Path() + platform::kSeparator +
                   mountPoint + ")";
        }
    }
    return " (" + platform::ErrorText(err) + ")";
}

// The same for a copy's outcome.
std::string Reason(platform::TreeRoot& slave, std::string_view relative, CopyOutcome outcome) {
    if (outcome.reason == EXDEV || outcome.reason == EBUSY) {
        const std::string mountPoint = slave.MountPointOn(relative);
        if (!mountPoint.empty()) {
            return " (" + std::string(CopyResultText(outcome.code)) +
                   ": another file system is mounted at " + slave.Path() + platform::kSeparator +
                   mountPoint + ")";
        }
    }
    return " (" + CopyOutcomeText(outcome) + ")";
}

// Writes the slave out to its disk on a thread of its own, the window answering
// meanwhile: a few gigabytes take seconds to write. Cancel cannot stop it, as
// every change is made by then. Returns what the flush returned, errno set.
int FlushKeepingAlive(IExecHost& host, platform::TreeRoot& slave) {
    auto flushing = std::async(std::launch::async, [&slave] {
        const int result = slave.Flush();
        return std::pair<int, int>(result, errno);
    });
    while (flushing.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        host.PumpOneMessage();
    }
    const auto [result, error] = flushing.get();
    errno = error;
    return result;
}

}  // namespace

bool ExecuteActions(IExecHost& host, const CActionList& actions, platform::TreeRoot& master,
                    platform::TreeRoot& slave, FlushAtEnd flush) {
    std::string masterRoot = master.Path();
    std::string slaveRoot = slave.Path();
    std::vector<const CAction*> pendingRemovals;
    std::unordered_set<std::string_view> pendingPaths;  // theirs, for a quick look
    // Directories made with the owner's rights added, so they can be filled;
    // they get the master's bits when the run has filled them.
    std::vector<std::pair<std::string, mode_t>> modesToSet;
    const mode_t umask = platform::Umask();
    slaveRoot.push_back(platform::kSeparator);
    masterRoot.push_back(platform::kSeparator);

    // A slave directory that gives way to a master file of the same path is
    // removed just before that file is created, with the directories below it:
    // the held-back removals in reverse, innermost first, as the removal pass
    // would.
    auto removeNow = [&](const std::string& path) {
        if (pendingPaths.erase(path) == 0) {
            return true;  // nothing held back there
        }
        for (auto it = pendingRemovals.rbegin(); it != pendingRemovals.rend(); ++it) {
            const std::string& relative = (*it)->GetSlavePath();
            if (platform::IsAtOrBelow(relative, path) && slave.RemoveDirectory(relative) != 0) {
                host.ShowMessage("Unable to delete directory " + slaveRoot + relative +
                                 Reason(slave, relative));
                return false;
            }
        }
        std::erase_if(pendingRemovals, [&](const CAction* a) {
            return platform::IsAtOrBelow(a->GetSlavePath(), path);
        });
        return true;
    };

    const size_t n = actions.size();
    host.SetRange(n);
    for (size_t i = 0; i < n; ++i) {
        if (host.IsCancelled()) {
            return false;
        }
        const CAction& action = *actions[i];
        // Each step resolves its directories anew from the roots: one that was
        // moved out of the slave since the last step receives nothing more.
        master.ForgetKeptDirectory();
        slave.ForgetKeptDirectory();
        switch (action.GetKind()) {
            case ACTION_MODIFY: {
                host.SetStatus(kStatusModify + action.GetSlavePath());
                const CopyOutcome result = CopyFileBetween(host, master, action.GetMasterPath(), slave,
                                                           action.GetSlavePath(), CopyMode::Replace);
                if (result.code != COPY_OK) {
                    host.ShowMessage("Error copying " + slaveRoot + action.GetSlavePath() +
                                     Reason(slave, action.GetSlavePath(), result));
                    return false;
                }
                break;
            }
            case ACTION_CREATE: {
                host.SetStatus(kStatusCreate + action.GetMasterPath());
                if (!removeNow(action.GetMasterPath())) {
                    return false;
                }
                const CopyOutcome result = CopyFileBetween(host, master, action.GetMasterPath(), slave,
                                                           action.GetMasterPath(), CopyMode::Create);
                if (result.code != COPY_OK) {
                    host.ShowMessage("Error creating " + slaveRoot + action.GetMasterPath() +
                                     Reason(slave, action.GetMasterPath(), result));
                    return false;
                }
                break;
            }
            case ACTION_DELETE: {
                host.SetStatus(kStatusDelete + action.GetSlavePath());
                if (slave.RemoveFile(action.GetSlavePath()) != 0) {
                    host.ShowMessage("Error deleting file " + slaveRoot + action.GetSlavePath() +
                                     Reason(slave, action.GetSlavePath()));
                    return false;
                }
                break;
            }
            case ACTION_MKDIR: {
                host.SetStatus(kStatusMkdir + action.GetMasterPath());
                // The master directory's bits, as cp gives them; one that has
                // gone since the scan is made as a new directory would be.
                const int masterMode = master.ModeOf(action.GetMasterPath());
                const mode_t mode = (masterMode < 0 ? 0777 : static_cast<mode_t>(masterMode)) & 0777;
                if (slave.MakeDirectory(action.GetMasterPath(), mode | 0700) != 0) {
                    host.ShowMessage("Error creating directory " + slaveRoot +
                                     action.GetMasterPath() +
                                     Reason(slave, action.GetMasterPath()));
                    return false;
                }
                if ((mode & 0700) != 0700) {
                    modesToSet.emplace_back(action.GetMasterPath(), mode & ~umask);
                }
                break;
            }
            case ACTION_RMDIR:
                host.SetStatus(kStatusRmdir + action.GetSlavePath());
                pendingRemovals.push_back(&action);
                pendingPaths.insert(action.GetSlavePath());
                break;
            default:
                host.ShowMessage("Invalid action");
                return false;
        }
        host.PumpOneMessage();
        // Deliberately the index of the action just done: after the last one the
        // bar stands one step short of full.
        host.SetPosition(i);
    }
    // A Cancel pressed during the last action is honoured: the run ends as
    // cancelled before any directory is removed.
    if (host.IsCancelled()) {
        return false;
    }
    // Innermost first, so a directory that loses its owner's search right is
    // not in the way of the ones below it.
    for (auto it = modesToSet.rbegin(); it != modesToSet.rend(); ++it) {
        if (slave.SetMode(it->first, it->second) != 0) {
            host.ShowMessage("Error creating directory " + slaveRoot + it->first +
                             Reason(slave, it->first));
            return false;
        }
    }
    // A directory precedes its contents in the list, so the reverse order removes
    // the innermost first.
    for (auto it = pendingRemovals.rbegin(); it != pendingRemovals.rend(); ++it) {
        if (slave.RemoveDirectory((*it)->GetSlavePath()) != 0) {
            host.ShowMessage("Unable to delete directory " + slaveRoot + (*it)->GetSlavePath() +
                             Reason(slave, (*it)->GetSlavePath()));
            return false;
        }
    }
    // "Done" means on the disk: a drive pulled out after Kelvad closes keeps
    // every change.
    if (n > 0 && flush == FlushAtEnd::Yes && FlushKeepingAlive(host, slave) != 0) {
        host.ShowMessage("Unable to write the slave directory to disk" + Reason(slave, ""));
        return false;
    }
    return true;
}
