// One planned change to the slave tree, and the action list that holds the plan.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Action kinds. Each names the path field that carries its meaning.
enum : int {
    ACTION_MODIFY = 1,  // master file written later: copy it over the slave entry (both paths)
    ACTION_DELETE = 2,  // file only in the slave: delete it (slave path)
    ACTION_CREATE = 3,  // file only in the master: copy it into the slave (master path)
    ACTION_MKDIR = 4,   // directory only in the master: create it (master path)
    ACTION_RMDIR = 5,   // directory only in the slave: remove it (slave path)
};

// Stands in the path field that a one-sided action does not use, when the other
// list had already been used up. No reader gives it a meaning.
inline constexpr const char* kNoPath = "~~~~";

class CAction {
public:
    // `bytes`: what the step copies, the master file's size when it was scanned.
    CAction(std::string masterPath, std::string slavePath, int kind, std::uint64_t bytes = 0)
        : m_masterPath(std::move(masterPath)),
          m_slavePath(std::move(slavePath)),
          m_kind(kind),
          m_bytes(bytes) {}

    // Relative paths, without the root and the separator after it.
    const std::string& GetMasterPath() const { return m_masterPath; }
    const std::string& GetSlavePath() const { return m_slavePath; }
    int GetKind() const { return m_kind; }
    // The bytes a creation or a modification copies, as scanned; 0 otherwise.
    std::uint64_t GetBytes() const { return m_bytes; }
    // The path in the slave that the step changes: the master's path for a
    // creation (nothing in the slave has it yet), the slave's otherwise. The
    // other field may hold "~~~~" or the other side's path; read this one.
    const std::string& GetTargetPath() const {
        return m_kind == ACTION_CREATE || m_kind == ACTION_MKDIR ? m_masterPath : m_slavePath;
    }
    // True for a modification whose slave file was written later than the
    // master's copy that replaces it (the sizes differ): a restore from an
    // older backup, or master and slave given the wrong way round.
    bool ReplacesNewer() const { return m_replacesNewer; }
    void MarkReplacesNewer() { m_replacesNewer = true; }
    // The size of the slave file a deletion or a modification takes away, as
    // scanned: what the step frees in the slave, unless it is kept.
    std::uint64_t GetFreedBytes() const { return m_freedBytes; }
    void SetFreedBytes(std::uint64_t bytes) { m_freedBytes = bytes; }

private:
    std::string m_masterPath;
    std::string m_slavePath;
    int m_kind;
    std::uint64_t m_bytes;
    bool m_replacesNewer = false;
    std::uint64_t m_freedBytes = 0;
};

// The plan, in the order the comparison made it. The list owns its actions.
using CActionList = std::vector<std::unique_ptr<CAction>>;
