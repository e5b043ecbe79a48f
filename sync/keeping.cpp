#include "sync/keeping.h"

#include <cerrno>
#include <utility>

#include "platform/file_ops.h"
#include "platform/trash.h"

namespace {

// The file system the root lies on; nothing when it cannot be looked at.
std::optional<std::uint64_t> DeviceOf(platform::TreeRoot& root) {
    const platform::Result<int> fd = root.OpenDirectory("");
    if (!fd.ok()) {
        return std::nullopt;
    }
    platform::FileInfo info;
    const platform::Status described = root.Describe(*fd, info);
    (void)root.Close(*fd);
    return described.ok() ? std::optional(info.device) : std::nullopt;
}

std::unique_ptr<platform::TreeRoot> Open(const StartRequest& r, const std::string& path) {
    return r.openRoot ? r.openRoot(path, platform::Mounts::Stay)
                      : platform::OpenTreeRoot(path, platform::Mounts::Stay);
}

PreparedKeeping InVersionsDirectory(const StartRequest& r, platform::TreeRoot& slave,
                                    platform::TreeRoot& master, std::time_t start) {
    const std::string& dir = r.keeping.versionsDir;
    std::unique_ptr<platform::TreeRoot> versions = Open(r, dir);
    const std::string named = "Versions directory " + dir;
    if (!versions->IsOpen()) {
        return {nullptr, "", named + " doesn't exist or isn't a directory"};
    }
    const std::optional<std::uint64_t> device = DeviceOf(*versions);
    if (!device || device != DeviceOf(slave)) {
        return {nullptr, "",
                named + " is not on the slave's file system: keeping there would take a copy"};
    }
    if (const platform::Result<bool> same = slave.OnSameMount(*versions); !same.ok() || !*same) {
        return {nullptr, "",
                named + " is on another mount of the slave's file system: keeping there would " +
                    "take a copy"};
    }
    for (platform::TreeRoot* tree : {&master, &slave}) {
        const platform::Result<bool> overlaps = versions->Overlaps(*tree, "");
        if (!overlaps.ok() || *overlaps) {
            return {nullptr, "",
                    named + (tree == &master ? " overlaps the master" : " overlaps the slave")};
        }
    }
    auto keeper = std::make_unique<VersionKeeper>(slave, std::move(versions), dir, start);
    std::string where = keeper->Where();
    return {std::move(keeper), std::move(where), ""};
}

// The Trash's keeper; in a dry run only whether the Trash could take them,
// with nothing made.
PreparedKeeping InTrash(const StartRequest& r, platform::TreeRoot& slave) {
    const std::string refusal = "The Trash cannot take what this run deletes or replaces in " +
                                r.slaveDir + " without a copy (";
    const platform::Result<std::string> absolute = slave.RealPath();
    const std::optional<std::uint64_t> device = DeviceOf(slave);
    if (!absolute.ok() || !device) {
        return {nullptr, "",
                refusal +
                    (absolute.ok() ? "its file system cannot be looked at"
                                   : absolute.status().Reason()) +
                    "); nothing was changed"};
    }
    const platform::Result<platform::TrashCan> can = platform::FindTrash(
        *absolute, *device, r.dryRun ? platform::TrashLook::LookOnly : platform::TrashLook::Make);
    if (!can.ok()) {
        return {nullptr, "", refusal + can.status().Reason() + "); nothing was changed"};
    }
    if (r.dryRun && !platform::IsDirectoryPath(can->directory)) {
        return {nullptr, "the Trash", ""};  // it would be made where the slave's entries can go
    }
    std::unique_ptr<platform::TreeRoot> trash = Open(r, can->directory);
    if (!trash->IsOpen()) {
        return {nullptr, "", refusal + trash->OpenStatus().Reason() + "); nothing was changed"};
    }
    // A bind mount shows the same file system elsewhere, yet no rename crosses it.
    if (const platform::Result<bool> same = slave.OnSameMount(*trash); !same.ok() || !*same) {
        const platform::Status crossing = platform::Status::Failed("renameat2", EXDEV);
        return {nullptr, "", refusal + crossing.Reason() + "); nothing was changed"};
    }
    // A trash at the top of a file system holds paths relative to that top.
    std::string shown = *absolute;
    if (!can->topDirectory.empty()) {
        shown.erase(0, can->topDirectory == "/" ? 1 : can->topDirectory.size() + 1);
    }
    if (r.dryRun) {
        return {nullptr, "the Trash", ""};
    }
    auto keeper = std::make_unique<TrashKeeper>(slave, std::move(trash), std::move(shown));
    return {std::move(keeper), "the Trash", ""};
}

}  // namespace

PreparedKeeping PrepareKeeping(const StartRequest& r, platform::TreeRoot* slave,
                               platform::TreeRoot& master, std::time_t start) {
    const Keeping& keeping = r.keeping;
    if (keeping.place == Keeping::Place::Nowhere) {
        return {};
    }
    if (keeping.place == Keeping::Place::Trash) {
        if (slave == nullptr) {
            return {nullptr, "the Trash", ""};
        }
        return InTrash(r, *slave);
    }
    if (slave == nullptr) {
        const std::string versions =
            keeping.versionsDir.empty() ? std::string(kVersionsFolderName) : keeping.versionsDir;
        return {nullptr, versions + "/" + RunFolderName(start), ""};
    }
    if (!keeping.versionsDir.empty()) {
        return InVersionsDirectory(r, *slave, master, start);
    }
    auto keeper = std::make_unique<VersionKeeper>(*slave, std::string(kVersionsFolderName), start);
    std::string where = keeper->Where();
    return {std::move(keeper), std::move(where), ""};
}
