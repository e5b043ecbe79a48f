#include "platform/path_compare.h"

#include <cstring>

namespace platform {

namespace {

// Walks the bytes of a PathPieces as one string.
class PieceCursor {
public:
    explicit PieceCursor(const PathPieces& p) : m_pieces(p) { Skip(); }

    bool AtEnd() const { return m_index >= 3; }
    unsigned char Byte() const {
        return static_cast<unsigned char>(m_pieces.part[m_index][m_offset]);
    }
    void Advance() {
        ++m_offset;
        Skip();
    }
    // The rest of the current piece, for whole-run comparisons.
    std::string_view Run() const { return m_pieces.part[m_index].substr(m_offset); }
    void AdvanceBy(size_t n) {
        m_offset += n;
        Skip();
    }

private:
    void Skip() {
        while (m_index < 3 && m_offset >= m_pieces.part[m_index].size()) {
            ++m_index;
            m_offset = 0;
        }
    }

    const PathPieces& m_pieces;
    int m_index = 0;
    size_t m_offset = 0;
};

// Compares folded; `rawDiff` receives the sign of the first byte that differs
// unfolded (0 when none does), so one pass serves both orders.
int CompareFoldedAndRaw(const PathPieces& a, const PathPieces& b, int& rawDiff) {
    PieceCursor ca(a);
    PieceCursor cb(b);
    while (!ca.AtEnd() && !cb.AtEnd()) {
        // Skip the common run of identical bytes at memcmp speed; identical bytes
        // are equal folded or not.
        const std::string_view ra = ca.Run();
        const std::string_view rb = cb.Run();
        const size_t n = ra.size() < rb.size() ? ra.size() : rb.size();
        size_t same = 0;
        while (same < n && ra[same] == rb[same]) {
            ++same;
        }
        if (same > 0) {
            ca.AdvanceBy(same);
            cb.AdvanceBy(same);
            continue;
        }
        unsigned char x = ca.Byte();
        unsigned char y = cb.Byte();
        if (rawDiff == 0) {
            rawDiff = x < y ? -1 : 1;  // they differ: the run above stopped here
        }
        x = FoldByte(x);
        y = FoldByte(y);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        ca.Advance();
        cb.Advance();
    }
    if (ca.AtEnd() && cb.AtEnd()) {
        return 0;
    }
    return ca.AtEnd() ? -1 : 1;
}

}  // namespace

int ComparePaths(const PathPieces& a, const PathPieces& b) {
    return ComparePaths(a, b, NameMatch::Exact);
}

int ComparePaths(const PathPieces& a, const PathPieces& b, NameMatch match) {
    int rawDiff = 0;
    const int folded = CompareFoldedAndRaw(a, b, rawDiff);
    // Equal folded means equal lengths, so the first raw difference decides.
    return folded != 0 || match == NameMatch::IgnoreCase ? folded : rawDiff;
}

int ComparePaths(std::string_view a, std::string_view b) {
    return ComparePaths(PathPieces{{a, {}, {}}}, PathPieces{{b, {}, {}}});
}

}  // namespace platform
