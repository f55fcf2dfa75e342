#pragma once
// NameCache: remembers the signal id of recently used name objects, keyed by object identity.
// Scripts pass the same str objects again and again (literals, the items of signal_names()),
// so a hit skips hashing and comparing the text. Each entry holds a strong reference to its
// name, so the address cannot be reused by another object while the entry lives, and str
// contents never change. Used only while the interpreter lock is held.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "py_ref.hpp"

namespace quor_binding {

class NameCache {
public:
    // The id cached for this very object; nullopt on a miss. known is false on a miss.
    std::optional<uint32_t> find(PyObject* name, bool& known) const {
        known = false;
        if (!entries_) return std::nullopt;
        const Entry& e = (*entries_)[slot(name)];
        known = e.name.get() == name;
        return known && e.found ? std::optional<uint32_t>(e.id) : std::nullopt;
    }
    void remember(PyObject* name, std::optional<uint32_t> id) {
        if (!entries_) entries_ = std::make_unique<std::array<Entry, kEntries>>();  // on first use
        Entry& e = (*entries_)[slot(name)];
        Py_INCREF(name);
        e.name = PyRef(name);
        e.found = id.has_value();
        e.id = id.value_or(0);
    }

private:
    static constexpr size_t kEntries = 4096;  // 64 KiB: the names of a typical random-access script fit
    static size_t slot(PyObject* p) {
        const auto a = reinterpret_cast<uintptr_t>(p);
        return static_cast<size_t>((a >> 4) ^ (a >> 12)) % kEntries;  // objects are 16-byte aligned
    }
    struct Entry {
        PyRef name;
        uint32_t id = 0;
        bool found = false;
    };
    std::unique_ptr<std::array<Entry, kEntries>> entries_;
};

}  // namespace quor_binding
