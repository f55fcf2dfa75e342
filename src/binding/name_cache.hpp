#pragma once
// NameCache: the answers of earlier name lookups (a signal id and the head of its column, or
// "no such signal"), kept twice over:
// - by object: a table placed by the address of the str object that was passed, one entry per
//   place, the newest object winning. Its entry is found without reading the object at all, so
//   the entry is fetched from memory while the object itself still is (the interpreter has just
//   touched the object, and with 10^5 names that was a cache miss): a lookup through the same
//   object as before costs one miss of its own instead of two in a row;
// - by text: a table placed by Python's own hash of the text, which a str computes once and
//   keeps. Another object of the same text (f"{prefix}.{leaf}" built anew) is found here after
//   one compare, and then fills its address's place in the other table if that is free.
// The column head beside the id lets a value be read without loading the Column object: with
// 10^5 signals read at random, the entry and the column's arrays are then the only cache misses
// of a call. An entry is one cache line.
//
// The text table is open-addressed (linear probing, at most half full) and grows with the
// distinct names looked up, up to a limit the caller gives (about twice the trace's signals),
// where both tables are emptied and start over: the names of a whole design stay cached, while a
// script making up endless texts cannot grow them without bound. The object table has as many
// places as the text table. Each entry holds a strong reference to its name, so an address is
// never reused by another object while the entry lives, and str contents never change. Used only
// while the interpreter lock is held, and only with exact str objects, whose release never runs
// Python code.

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

    // Starts fetching the object table's entry for name (any object), so that a find_object soon
    // after finds it at hand.
    void expect(const PyObject* name) const {
        if (!objects_.empty()) __builtin_prefetch(&objects_[object_place(name)]);
    }
    // The answer remembered for this very object (any object; it is not read).
    Answer find_object(const PyObject* name) const {
        if (objects_.empty()) return {};
        const Entry& e = objects_[object_place(name)];
        if (e.name != name) return {};
        return e.answer();
    }
    // The remembered answer for name (an exact str) whose hash is hash. A text found through
    // another object also takes name's place in the object table.
    Answer find(PyObject* name, Py_hash_t hash) {
        if (texts_.empty()) return {};
        const uint32_t tag = tag_of(hash);
        for (size_t i = static_cast<size_t>(hash) & mask_;; i = (i + 1) & mask_) {
            const Entry& e = texts_[i];
            if (e.name == nullptr) return {};
            if (e.name == name) return put_object(name, e, true).answer();
            if ((e.tag_found >> 1) == tag && same_text(e.name, name)) return put_object(name, e, false).answer();
        }
    }
    // Remembers the answer for name (an exact str, not found by find): the signal's id and the
    // head of its column, or no id and an empty head. When the table already holds limit names it
    // is emptied first.
    void remember(PyObject* name, Py_hash_t hash, std::optional<uint32_t> id,
                  const quor_core::signal::ColumnHead& head, size_t limit);
    // How many names are remembered by text.
    size_t size() const { return count_; }

private:
    struct alignas(64) Entry {
        PyObject* name = nullptr;  // a strong reference; nullptr marks a free entry
        quor_core::signal::ColumnHead head;
        uint32_t id = 0;
        uint32_t tag_found = 0;  // bits of the hash not used to place the entry, then 1 if id is valid

        Answer answer() const { return {&head, (tag_found & 1) ? std::optional<uint32_t>(id) : std::nullopt}; }
    };
    static_assert(sizeof(Entry) == 64, "an entry is one cache line");
    using Table = std::vector<Entry, quor_core::util::HugePageAllocator<Entry>>;
    static constexpr size_t kFirstSlots = 4096;

    static uint32_t tag_of(Py_hash_t hash) {
        const auto h = static_cast<uint64_t>(hash);
        return static_cast<uint32_t>((h >> 33) ^ h) & 0x7FFFFFFFu;
    }
    // Objects lie at multiples of 16 bytes, in runs: a multiplicative hash spreads the addresses.
    size_t object_place(const PyObject* name) const {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(name) * uint64_t{0x9E3779B97F4A7C15}) >> object_shift_);
    }
    static bool same_text(PyObject* a, PyObject* b) {
        // Both are ready exact str objects: equal texts have equal lengths, kinds and code units.
        const Py_ssize_t length = PyUnicode_GET_LENGTH(a);
        if (length != PyUnicode_GET_LENGTH(b) || PyUnicode_KIND(a) != PyUnicode_KIND(b)) return false;
        return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<size_t>(length) * PyUnicode_KIND(a)) == 0;
    }
    // Puts name (an exact str) with the answer of from into the object table where its place is
    // free, or where evict is set, releasing the object whose place it takes; returns from or
    // the new entry. Other objects of a remembered text (built afresh for each call, as often
    // as not) only fill free places: releasing the previous object would read it, one more
    // cache miss per call, for an entry that is seldom asked for again.
    const Entry& put_object(PyObject* name, const Entry& from, bool evict);
    void place(const Entry& entry, Py_hash_t hash);
    void grow();
    void clear();

    Table texts_;
    size_t mask_ = 0;
    size_t count_ = 0;
    Table objects_;  // as many places as texts_, or none
    unsigned object_shift_ = 64;
};

}  // namespace quor_binding
