#include "name_cache.hpp"

#include <bit>
#include <utility>

namespace quor_binding {

void NameCache::remember(PyObject* name, Py_hash_t hash, std::optional<uint32_t> id,
                         const quor_core::signal::ColumnHead& head, size_t limit) {
    if (count_ >= limit) clear();
    if (2 * (count_ + 1) > texts_.size()) grow();
    Py_INCREF(name);
    Entry entry;
    entry.name = name;
    entry.head = head;
    entry.id = id.value_or(0);
    entry.tag_found = (tag_of(hash) << 1) | (id ? 1u : 0u);
    place(entry, hash);
    ++count_;
    put_object(name, entry, true);
}

const NameCache::Entry& NameCache::put_object(PyObject* name, const Entry& from, bool evict) {
    Entry& e = objects_[object_place(name)];
    PyObject* const old = e.name;
    if (old != nullptr && !evict) return from;
    Py_INCREF(name);
    e = from;
    e.name = name;
    Py_XDECREF(old);  // after the entry changed: nothing can see a released name
    return e;
}

void NameCache::place(const Entry& entry, Py_hash_t hash) {
    size_t i = static_cast<size_t>(hash) & mask_;
    while (texts_[i].name != nullptr) i = (i + 1) & mask_;
    texts_[i] = entry;
}

void NameCache::grow() {
    const size_t size = texts_.empty() ? kFirstSlots : 2 * texts_.size();
    auto old = std::exchange(texts_, Table(size));
    mask_ = size - 1;
    for (const Entry& e : old) {
        // A str keeps its hash once computed, so asking again costs no hashing and cannot fail.
        if (e.name != nullptr) place(e, PyObject_Hash(e.name));
    }
    // The object table is rebuilt at the new size; of objects that now share a place, the last
    // stays and the others are released.
    auto old_objects = std::exchange(objects_, Table(size));
    object_shift_ = 64 - static_cast<unsigned>(std::countr_zero(size));
    for (const Entry& e : old_objects) {
        if (e.name == nullptr) continue;
        put_object(e.name, e, true);
        Py_DECREF(e.name);
    }
}

void NameCache::clear() {
    // The references go only after the tables are empty: nothing can see a released name.
    auto old = std::exchange(texts_, Table());
    auto old_objects = std::exchange(objects_, Table());
    mask_ = 0;
    count_ = 0;
    object_shift_ = 64;
    for (const Entry& e : old) Py_XDECREF(e.name);
    for (const Entry& e : old_objects) Py_XDECREF(e.name);
}

}  // namespace quor_binding
