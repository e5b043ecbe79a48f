#include "app/action_line.h"

std::string BuildActionLine(const CAction& action, const std::string& slaveRootWithSeparator) {
    switch (action.GetKind()) {
        case ACTION_MODIFY: return "Modify:\t" + slaveRootWithSeparator + action.GetSlavePath();
        case ACTION_DELETE: return "Delete:\t" + slaveRootWithSeparator + action.GetSlavePath();
        case ACTION_CREATE: return "Create:\t" + slaveRootWithSeparator + action.GetMasterPath();
        case ACTION_MKDIR: return "Mkdir:\t" + slaveRootWithSeparator + action.GetMasterPath();
        case ACTION_RMDIR: return "Rmdir:\t" + slaveRootWithSeparator + action.GetSlavePath();
        default: return "Eh?\t" + action.GetMasterPath() + " <> " + action.GetSlavePath();
    }
}

std::array<size_t, 6> CountByKind(const CActionList& actions) {
    std::array<size_t, 6> counts{};
    for (const auto& action : actions) {
        const int kind = action->GetKind();
        ++counts[kind >= ACTION_MODIFY && kind <= ACTION_RMDIR ? kind : 0];
    }
    return counts;
}
