#pragma once
// A value or an error, for every operation that can fail at a loader or reader boundary.

#include <cassert>
#include <utility>
#include <variant>

namespace quor_core {

template <typename E>
struct Err {
    E error;
};

template <typename E>
Err<std::decay_t<E>> make_err(E&& e) {
    return Err<std::decay_t<E>>{std::forward<E>(e)};
}

template <typename T, typename E>
class Result {
public:
    Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}
    Result(Err<E> err) : data_(std::in_place_index<1>, std::move(err.error)) {}

    bool ok() const { return data_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { assert(ok()); return std::get<0>(data_); }
    const T& value() const& { assert(ok()); return std::get<0>(data_); }
    T&& value() && { assert(ok()); return std::get<0>(std::move(data_)); }

    E& error() & { assert(!ok()); return std::get<1>(data_); }
    const E& error() const& { assert(!ok()); return std::get<1>(data_); }
    E&& error() && { assert(!ok()); return std::get<1>(std::move(data_)); }

private:
    std::variant<T, E> data_;
};

}  // namespace quor_core
