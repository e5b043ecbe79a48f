#include "sync/action_line.h"

#include "sync/display_text.h"

namespace {

// The line, each path passed through `show`.
template <typename Show>
std::string BuildLine(const CAction& action, const std::string& root, Show show) {
    const std::string target = root + action.GetTargetPath();
    switch (action.GetKind()) {
        case ACTION_MODIFY:
            return "Modify:\t" + show(target) + (action.ReplacesNewer() ? kReplacesNewerMark : "");
        case ACTION_DELETE:
            return "Delete:\t" + show(target);
        case ACTION_CREATE:
            return "Create:\t" + show(target);
        case ACTION_MKDIR:
            return "Mkdir:\t" + show(target);
        case ACTION_RMDIR:
            return "Rmdir:\t" + show(target);
        case ACTION_MOVE:
            return "Move:\t" + show(root + action.GetSlavePath()) + " -> " + show(target);
        default:
            return "Eh?\t" + show(action.GetMasterPath()) + " <> " + show(action.GetSlavePath());
    }
}

}  // namespace

std::string BuildActionLine(const CAction& action, const std::string& slaveRootWithSeparator) {
    return BuildLine(action, slaveRootWithSeparator, [](std::string path) { return path; });
}

std::string BuildTerminalActionLine(const CAction& action,
                                    const std::string& slaveRootWithSeparator) {
    return BuildLine(action, slaveRootWithSeparator,
                     [](const std::string& path) { return EscapeForTerminal(path); });
}

PlanCounts CountPlan(const CActionList& actions) {
    PlanCounts counts;
    for (const auto& action : actions) {
        const int kind = action->GetKind();
        ++counts
              .byKind[kind >= ACTION_MODIFY && kind <= ACTION_MOVE ? static_cast<size_t>(kind) : 0];
        counts.bytes += action->GetBytes();
        counts.freed += action->GetFreedBytes();
        counts.movedBytes += action->GetMovedBytes();
        if (action->ReplacesNewer()) {
            ++counts.replacingNewer;
        }
    }
    return counts;
}

std::string LeftOutText(size_t entries) {
    return entries == 0 ? std::string() : "; " + std::to_string(entries) + " left out";
}

std::string ReplacingNewerText(size_t files) {
    return files == 1 ? "1 newer slave file" : std::to_string(files) + " newer slave files";
}

std::string PlanTotals(const PlanCounts& counts, const PlanNotes& notes) {
    const std::array<size_t, kActionKinds>& n = counts.byKind;
    const auto count = [](size_t value) { return std::to_string(value); };
    const size_t newer = counts.replacingNewer;
    return count(n[ACTION_CREATE]) + " to create, " + count(n[ACTION_MODIFY]) + " to replace (" +
           ByteCountText(counts.bytes) + "); " + count(n[ACTION_DELETE]) + " to delete" +
           (notes.keptIn.empty() ? "" : ", kept in " + notes.keptIn) + "; " +
           count(n[ACTION_MKDIR]) + " directories to make, " + count(n[ACTION_RMDIR]) +
           " to remove" +
           (n[ACTION_MOVE] == 0 ? ""
                                : "; " + count(n[ACTION_MOVE]) + " to move (" +
                                      ByteCountText(counts.movedBytes) + " not copied)") +
           (newer == 0 ? ""
                       : "; " + ReplacingNewerText(newer) + " to be replaced by " +
                             (newer == 1 ? "an older one" : "older ones")) +
           LeftOutText(notes.leftOut) +
           (notes.space ? "; needs " + ByteCountText(notes.space->needed) + ", " +
                              ByteCountText(notes.space->free) + " free in the slave"
                        : "");
}

std::string SpaceText(const SpaceShortage& shortage) {
    return "This run needs " + ByteCountText(shortage.needed) + " more in the slave, which has " +
           ByteCountText(shortage.free) + " free";
}
