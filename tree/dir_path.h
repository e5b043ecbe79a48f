// The path of one directory, held once and shared by every entry directly
// inside it. Counted without atomics: a file list lives on one thread.
#pragma once

#include <string>
#include <utility>

class SharedDirPath {
public:
    SharedDirPath() = default;
    explicit SharedDirPath(std::string path) : m_node(new Node{std::move(path), 1}) {}
    SharedDirPath(const SharedDirPath& other) : m_node(other.m_node) {
        if (m_node != nullptr) {
            ++m_node->refs;
        }
    }
    SharedDirPath(SharedDirPath&& other) noexcept : m_node(std::exchange(other.m_node, nullptr)) {}
    SharedDirPath& operator=(SharedDirPath other) noexcept {
        std::swap(m_node, other.m_node);
        return *this;
    }
    ~SharedDirPath() {
        if (m_node != nullptr && --m_node->refs == 0) {
            delete m_node;
        }
    }

    // The path; empty for a default-constructed value.
    const std::string& Get() const {
        static const std::string empty;
        return m_node != nullptr ? m_node->path : empty;
    }
    // True when both share one copy.
    bool SameAs(const SharedDirPath& other) const { return m_node == other.m_node; }

private:
    struct Node {
        std::string path;
        size_t refs;
    };
    Node* m_node = nullptr;
};
