// What an operation on the file system came to. Every operation below a root
// and every file service returns a Status, or a Result that holds either its
// value or the Status of the failure: the system call that failed and the
// error number it gave. Words are made from it in one place, Reason().
#pragma once

#include <cassert>
#include <concepts>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace platform {

// A short description of an error number, such as "No space left on device".
std::string ErrorText(int error);

// Error numbers of Kelvad's own, for what the system says in its own codes and
// errno has no number for; the Windows layer gives the first two, and ErrorText
// words them all. A name the system cannot hold or open as one name (a trailing dot or
// space, a reserved character or device name, a separator inside it):
constexpr int kUnusableName = 0x4B01;  // "the name cannot be used on Windows"
// A file another program holds open without sharing it, or has locked:
constexpr int kInUse = 0x4B02;  // "in use by another program"
// An entry that is no longer the one a step was planned for:
constexpr int kChanged = 0x4B03;  // "changed since it was looked at"

class [[nodiscard]] Status {
public:
    // Success.
    Status() = default;
    // A failure of `call` (a system call's name, kept for diagnostics) with
    // the error number `error`, which must not be 0.
    static Status Failed(const char* call, int error) {
        assert(error != 0);
        Status s;
        s.m_call = call;
        s.m_error = error;
        return s;
    }
    // A failure of `call` with the error number the system just left in errno.
    static Status FromErrno(const char* call);

    bool ok() const { return m_error == 0; }
    // The error number; 0 for success.
    int Error() const { return m_error; }
    // Whether this is a failure with the error number `error`.
    bool Is(int error) const { return m_error == error && error != 0; }
    const char* Call() const { return m_call; }
    // The system's words for the failure ("No space left on device").
    std::string Reason() const { return ErrorText(m_error); }
    // The call and the words, for diagnostics ("renameat: Permission denied").
    std::string ToString() const;

private:
    const char* m_call = "";
    int m_error = 0;
};

// The value of an operation that succeeded, or the Status of its failure.
// Made from a T itself (no conversion from another type slips in) or from a
// failed Status; T needs no default value.
template <typename T>
class [[nodiscard]] Result {
public:
    template <typename U>
    requires std::same_as<std::remove_cvref_t<U>, T> Result(U&& value)
        : m_value(std::forward<U>(value)) {}
    Result(Status failure) : m_status(failure) { assert(!failure.ok()); }

    bool ok() const { return m_status.ok(); }
    const Status& status() const { return m_status; }
    // The value; only for a result that is ok().
    const T& operator*() const& {
        assert(ok());
        return *m_value;
    }
    T& operator*() & {
        assert(ok());
        return *m_value;
    }
    // Moves the value out of a result that is ok().
    T&& operator*() && {
        assert(ok());
        return std::move(*m_value);
    }
    const T* operator->() const {
        assert(ok());
        return &*m_value;
    }
    // The value, or `fallback` for a result that failed.
    T ValueOr(T fallback) const& { return ok() ? *m_value : std::move(fallback); }
    T ValueOr(T fallback) && { return ok() ? std::move(*m_value) : std::move(fallback); }

private:
    std::optional<T> m_value;
    Status m_status;
};

}  // namespace platform
