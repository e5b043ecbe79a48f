// What a parse or a check above the file system comes to: its value, or a
// Problem that says in the user's words what is wrong. Failures of system
// calls are Status and Result (status.h); this is for what the user typed or
// wrote in a file.
#pragma once

#include <cassert>
#include <concepts>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace platform {

struct Problem {
    explicit Problem(std::string text, std::string in = {}, size_t at = 0)
        : message(std::move(text)), file(std::move(in)), line(at) {}

    std::string message;  // whole, as it is shown
    std::string file;     // the file it was found in, when it was read from one
    size_t line = 0;      // its line there (from 1); 0 when it is not a line's
};

// The value, or the Problem.
template <typename T = void>
class [[nodiscard]] Checked {
public:
    template <typename U>
    requires std::same_as<std::remove_cvref_t<U>, T> Checked(U&& value)
        : m_value(std::forward<U>(value)) {}
    Checked(Problem problem) : m_problem(std::move(problem)) {}

    bool ok() const { return m_value.has_value(); }
    // Only for a result that is not ok().
    const Problem& problem() const {
        assert(!ok());
        return m_problem;
    }
    const T& operator*() const& {
        assert(ok());
        return *m_value;
    }
    T& operator*() & {
        assert(ok());
        return *m_value;
    }
    T&& operator*() && {
        assert(ok());
        return std::move(*m_value);
    }
    const T* operator->() const {
        assert(ok());
        return &*m_value;
    }

private:
    std::optional<T> m_value;
    Problem m_problem{""};
};

// A check that has no value: fine, or a Problem.
template <>
class [[nodiscard]] Checked<void> {
public:
    Checked() = default;
    Checked(Problem problem) : m_problem(std::move(problem)), m_ok(false) {}

    bool ok() const { return m_ok; }
    const Problem& problem() const {
        assert(!ok());
        return m_problem;
    }

private:
    Problem m_problem{""};
    bool m_ok = true;
};

}  // namespace platform
