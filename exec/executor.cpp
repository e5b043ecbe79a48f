#include "exec/executor.h"

#include <vector>

#include "exec/copier.h"
#include "platform/file_ops.h"
#include "platform/path_compare.h"

bool ExecuteActions(IExecHost& host, const CActionList& actions, std::string masterRoot,
                    std::string slaveRoot) {
    std::vector<const CAction*> pendingRemovals;
    slaveRoot.push_back(platform::kSeparator);
    masterRoot.push_back(platform::kSeparator);
    const size_t n = actions.size();
    host.SetRange(n);
    for (size_t i = 0; i < n; ++i) {
        if (host.IsCancelled()) {
            return false;
        }
        const CAction& action = *actions[i];
        switch (action.GetKind()) {
            case ACTION_MODIFY: {
                host.SetStatus(kStatusModify + action.GetSlavePath());
                const std::string target = slaveRoot + action.GetSlavePath();
                const int result =
                    CopyOneFile(host, masterRoot + action.GetMasterPath(), target, true);
                if (result != COPY_OK) {
                    host.ShowMessage("Error copying " + target + " (" + CopyResultText(result) +
                                     ")");
                    return false;
                }
                break;
            }
            case ACTION_CREATE: {
                host.SetStatus(kStatusCreate + action.GetMasterPath());
                const std::string target = slaveRoot + action.GetMasterPath();
                const int result =
                    CopyOneFile(host, masterRoot + action.GetMasterPath(), target, false);
                if (result != COPY_OK) {
                    host.ShowMessage("Error creating " + target + " (" + CopyResultText(result) +
                                     ")");
                    return false;
                }
                break;
            }
            case ACTION_DELETE: {
                host.SetStatus(kStatusDelete + action.GetSlavePath());
                const std::string target = slaveRoot + action.GetSlavePath();
                if (platform::RemoveFile(target) != 0) {
                    host.ShowMessage("Error deleting file " + target);
                    return false;
                }
                break;
            }
            case ACTION_MKDIR: {
                host.SetStatus(kStatusMkdir + action.GetMasterPath());
                const std::string target = slaveRoot + action.GetMasterPath();
                if (platform::MakeDirectory(target) != 0) {
                    host.ShowMessage("Error creating directory " + target);
                    return false;
                }
                break;
            }
            case ACTION_RMDIR:
                host.SetStatus(kStatusRmdir + action.GetSlavePath());
                pendingRemovals.push_back(&action);
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
    // A directory precedes its contents in the list, so the reverse order removes
    // the innermost first.
    for (auto it = pendingRemovals.rbegin(); it != pendingRemovals.rend(); ++it) {
        const std::string target = slaveRoot + (*it)->GetSlavePath();
        if (platform::RemoveDirectory(target) != 0) {
            host.ShowMessage("Unable to delete directory " + target);
            return false;
        }
    }
    return true;
}
