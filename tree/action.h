// One planned change to the slave tree, and the action list that holds the plan.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_time.h"

// Action kinds. Each names the path field that carries its meaning.
enum : int {
    ACTION_MODIFY = 1,  // master file written later: copy it over the slave entry (both paths)
    ACTION_DELETE = 2,  // file only in the slave: delete it (slave path)
    ACTION_CREATE = 3,  // file only in the master: copy it into the slave (master path)
    ACTION_MKDIR = 4,   // directory only in the master: create it (master path)
    ACTION_RMDIR = 5,   // directory only in the slave: remove it (slave path)
    ACTION_MOVE = 6,    // a slave file or directory the master has elsewhere: rename it
                        // from the slave path to the master path
};

// The kinds there are, for arrays indexed by kind (index 0 for any other).
inline constexpr int kActionKinds = ACTION_MOVE + 1;

// Stands in the path field that a one-sided action does not use, when the other
// list had already been used up. No reader gives it a meaning.
inline constexpr const char* kNoPath = "~~~~";

// What a move's slave source was when it was compared, to be found again just
// before it is renamed: its size (a file's), last-write and change times (any
// write or change of times moves the latter) and identity.
struct MoveSource {
    std::uint64_t size = 0;
    platform::FileTime lastWrite = 0;
    platform::FileTime lastChange = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool isDirectory = false;
};

class CAction {
public:
    // `bytes`: what the step copies, the master file's size when it was scanned.
    CAction(std::string masterPath, std::string slavePath, int kind, std::uint64_t bytes = 0)
        : m_masterPath(std::move(masterPath)),
          m_slavePath(std::move(slavePath)),
          m_kind(kind),
          m_bytes(bytes) {}
    // A copy, a move's replaced actions copied too.
    CAction(const CAction& other)
        : m_masterPath(other.m_masterPath),
          m_slavePath(other.m_slavePath),
          m_kind(other.m_kind),
          m_bytes(other.m_bytes),
          m_replacesNewer(other.m_replacesNewer) {
        if (other.m_move) {
            std::vector<std::unique_ptr<CAction>> replaced;
            for (const auto& action : other.m_move->replaced) {
                replaced.push_back(std::make_unique<CAction>(*action));
            }
            MakeMove(other.m_move->source, other.m_move->bytes, std::move(replaced));
            m_move->make = other.m_move->make;
        }
    }
    CAction& operator=(const CAction&) = delete;

    // Relative paths, without the root and the separator after it.
    const std::string& GetMasterPath() const { return m_masterPath; }
    const std::string& GetSlavePath() const { return m_slavePath; }
    int GetKind() const { return m_kind; }
    // The bytes a creation or a modification copies, as scanned; 0 otherwise.
    std::uint64_t GetBytes() const { return m_bytes; }
    // The path in the slave that the step changes: the master's path for a
    // creation (nothing in the slave has it yet), the slave's otherwise. The
    // other field may hold "~~~~" or the other side's path; read this one.
    // A move changes both; it is planned at the place its new name takes.
    const std::string& GetTargetPath() const {
        return m_kind == ACTION_CREATE || m_kind == ACTION_MKDIR || m_kind == ACTION_MOVE
                   ? m_masterPath
                   : m_slavePath;
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

    // Of a move: the slave source as compared, the bytes the rename spares
    // copying, and the actions it stands for (a creation and a deletion, or a
    // directory's making, creations, deletions and removal, in plan order),
    // carried out instead when the source is no longer the one compared.
    // Only a move made by MakeMove has them; IsWholeMove says it is one.
    // The actions a folder moved whole stands for, one per entry on each side,
    // are made by `make` when first asked for: a rename that goes as planned
    // never needs them. Only one thread may ask at a time.
    bool IsWholeMove() const { return m_kind == ACTION_MOVE && m_move != nullptr; }
    const MoveSource& GetMoveSource() const { return m_move->source; }
    std::uint64_t GetMovedBytes() const { return m_move ? m_move->bytes : 0; }
    const std::vector<std::unique_ptr<CAction>>& GetReplaced() const {
        if (m_move->make) {
            m_move->replaced = m_move->make();
            m_move->make = nullptr;
        }
        return m_move->replaced;
    }
    using ReplacedMaker = std::function<std::vector<std::unique_ptr<CAction>>()>;
    void MakeMove(const MoveSource& source, std::uint64_t movedBytes,
                  std::vector<std::unique_ptr<CAction>> replaced, ReplacedMaker make = nullptr) {
        m_move =
            std::make_unique<Move>(Move{source, movedBytes, std::move(replaced), std::move(make)});
    }

private:
    std::string m_masterPath;
    std::string m_slavePath;
    int m_kind;
    std::uint64_t m_bytes;
    bool m_replacesNewer = false;
    std::uint64_t m_freedBytes = 0;
    // Apart, so that the other kinds, a million in a first run, stay small.
    struct Move {
        MoveSource source;
        std::uint64_t bytes;
        std::vector<std::unique_ptr<CAction>> replaced;
        ReplacedMaker make;  // null once made, or when they were given
    };
    std::unique_ptr<Move> m_move;
};

// The plan, in the order the comparison made it. The list owns its actions.
using CActionList = std::vector<std::unique_ptr<CAction>>;
