#pragma once
// NameCache: the answers of earlier name lookups (a signal id and the head of its column, or
// "no such signal"), keyed by the text of exact str objects and found through Python's own hash
// of that text, which a str computes once and keeps. Scripts look names up again and again, often through the very same
// objects (literals, the items of signal_names()): a slot whose object is the argument itself
// answers without reading any text; another object of the same text answers after one compare.
// The column head beside the id lets a value be read without loading the Column object: with
// 10^5 signals read at random, the slot, the column's run starts and its payload are then the
// only cache misses of a call.
//
// The table is open-addressed (linear probing, at most half full) and grows with the distinct
// names looked up, up to a limit the caller gives (about twice the trace's signals), where it is
// emptied and starts over: the names of a whole design stay cached, while a script making up
// endless texts cannot grow it without bound. Each slot holds a strong reference to its name,
// so an address is never reused by another object while the slot lives, and str contents never
// change. Used only while the interpreter lock is held, and only with exact str objects, whose
// release never runs Python code.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "signal/column_head.hpp"
#include "util/huge_pages.hpp"

namespace quor_binding {

class NameCache {
public:
    // An answer that was remembered for this text: head is nullptr when it is not known.
    struct Answer {
        const quor_core::signal::ColumnHead* head = nullptr;  // valid until the next remember
        std::optional<uint32_t> id;
    };

    NameCache() = default;
    NameCache(const NameCache&) = delete;
    NameCache& operator=(const NameCache&) = delete;
    ~NameCache() { clear(); }

    // The remembered answer for name (an exact str) whose hash is hash.
    Answer find(PyObject* name, Py_hash_t hash) const {
        if (slots_.empty()) return {};
        const uint32_t tag = tag_of(hash);
        for (size_t i = static_cast<size_t>(hash) & mask_;; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.name == nullptr) return {};
            if (s.name == name || ((s.tag_found >> 1) == tag && same_text(s.name, name))) {
                return {&s.head, (s.tag_found & 1) ? std::optional<uint32_t>(s.id) : std::nullopt};
            }
        }
    }
    // Remembers the answer for name (an exact str, not found by find): the signal's id and the
    // head of its column, or no id and an empty head. When the table already holds limit names it
    // is emptied first.
    void remember(PyObject* name, Py_hash_t hash, std::optional<uint32_t> id,
                  const quor_core::signal::ColumnHead& head, size_t limit);
    // How many names are remembered.
    size_t size() const { return count_; }

private:
    struct Slot {
        PyObject* name = nullptr;  // a strong reference; nullptr marks a free slot
        uint32_t id = 0;
        uint32_t tag_found = 0;  // bits of the hash not used to place the slot, then 1 if id is valid
        quor_core::signal::ColumnHead head;
    };
    static constexpr size_t kFirstSlots = 4096;

    static uint32_t tag_of(Py_hash_t hash) {
        const auto h = static_cast<uint64_t>(hash);
        return static_cast<uint32_t>((h >> 33) ^ h) & 0x7FFFFFFFu;
    }
    static bool same_text(PyObject* a, PyObject* b) {
        // Both are ready exact str objects: equal texts have equal lengths, kinds and code units.
        const Py_ssize_t length = PyUnicode_GET_LENGTH(a);
        if (length != PyUnicode_GET_LENGTH(b) || PyUnicode_KIND(a) != PyUnicode_KIND(b)) return false;
        return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<size_t>(length) * PyUnicode_KIND(a)) == 0;
    }
    void place(const Slot& slot, Py_hash_t hash);
    void grow();
    void clear();

    std::vector<Slot, quor_core::util::HugePageAllocator<Slot>> slots_;
    size_t mask_ = 0;
    size_t count_ = 0;
};

}  // namespace quor_binding
