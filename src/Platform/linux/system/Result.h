#pragma once

#include <cerrno>
#include <optional>
#include <utility>

// Why an operation of the Linux layer failed: the error number of the system call or
// library that failed, or 0 when what it was given or found was at fault.
struct Failure {
    int error = 0;

    // The system ran short of descriptors, memory or processes: that says nothing about
    // what was asked, so it is worth asking again later.
    [[nodiscard]] bool isShortage() const {
        return error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOBUFS;
    }
    // The failure of the system call that just set errno.
    static Failure ofErrno() { return Failure{errno}; }
};

// A value, or the failure that left none; read like an optional.
template <class T> class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : failure_(failure) {}

    [[nodiscard]] explicit operator bool() const { return value_.has_value(); }
    [[nodiscard]] bool has_value() const { return value_.has_value(); }
    T& operator*() & { return *value_; }
    const T& operator*() const& { return *value_; }
    T&& operator*() && { return *std::move(value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    template <class U> T value_or(U&& otherwise) const& {
        return value_.value_or(std::forward<U>(otherwise));
    }
    // Meaningful only without a value.
    [[nodiscard]] Failure failure() const { return failure_; }

  private:
    std::optional<T> value_;
    Failure failure_;
};

// Success, or the failure.
template <> class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure failure) : failed_(true), failure_(failure) {}

    [[nodiscard]] explicit operator bool() const { return !failed_; }
    [[nodiscard]] Failure failure() const { return failure_; }

  private:
    bool failed_ = false;
    Failure failure_;
};

// The value alone, for a seam that speaks of nothing rather than of failures.
template <class T> std::optional<T> asOptional(Result<T> result) {
    if (!result)
        return std::nullopt;
    return std::move(*result);
}
