#pragma once
// Value-or-error type used at every fallible boundary of the FST reader.

#include <cassert>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "error.hpp"

namespace fst_container {

// The error is held behind a pointer so that results stay small and cheap on
// hot paths, where they almost always carry a value.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}
    Result(ReaderError error)
        : data_(std::in_place_index<1>, std::make_unique<ReaderError>(std::move(error))) {}

    bool ok() const { return data_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { assert(ok()); return *std::get_if<0>(&data_); }
    const T& value() const& { assert(ok()); return *std::get_if<0>(&data_); }
    T&& value() && { assert(ok()); return std::move(*std::get_if<0>(&data_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    ReaderError& error() & { assert(!ok()); return **std::get_if<1>(&data_); }
    const ReaderError& error() const& { assert(!ok()); return **std::get_if<1>(&data_); }
    ReaderError&& error() && { assert(!ok()); return std::move(**std::get_if<1>(&data_)); }

private:
    std::variant<T, std::unique_ptr<ReaderError>> data_;
};

// Success carries nothing.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(ReaderError error) : error_(std::make_unique<ReaderError>(std::move(error))) {}

    bool ok() const { return error_ == nullptr; }
    explicit operator bool() const { return ok(); }
    ReaderError& error() & { assert(!ok()); return *error_; }
    const ReaderError& error() const& { assert(!ok()); return *error_; }
    ReaderError&& error() && { assert(!ok()); return std::move(*error_); }

private:
    std::unique_ptr<ReaderError> error_;
};

using Status = Result<void>;

}  // namespace fst_container

// Propagate the error of a Result-valued expression; otherwise bind its value.
#define FST_CONCAT_INNER(a, b) a##b
#define FST_CONCAT(a, b) FST_CONCAT_INNER(a, b)
#define FST_TRY_IMPL(tmp, decl, expr)            \
    auto tmp = (expr);                           \
    if (!tmp.ok()) return std::move(tmp).error(); \
    decl = std::move(tmp).value()
#define FST_TRY(decl, expr) FST_TRY_IMPL(FST_CONCAT(fst_try_, __LINE__), decl, expr)
#define FST_CHECK(expr)                                  \
    do {                                                 \
        auto fst_check_status_ = (expr);                 \
        if (!fst_check_status_.ok()) return std::move(fst_check_status_).error(); \
    } while (0)
