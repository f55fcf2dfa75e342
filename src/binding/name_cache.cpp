#include "name_cache.hpp"

#include <utility>

namespace quor_binding {

void NameCache::remember(PyObject* name, Py_hash_t hash, std::optional<uint32_t> id,
                         const quor_core::signal::ColumnHead& head, size_t limit) {
    if (count_ >= limit) clear();
    if (2 * (count_ + 1) > slots_.size()) grow();
    Py_INCREF(name);
    place(Slot{name, id.value_or(0), (tag_of(hash) << 1) | (id ? 1u : 0u), head}, hash);
    ++count_;
}

void NameCache::place(const Slot& slot, Py_hash_t hash) {
    size_t i = static_cast<size_t>(hash) & mask_;
    while (slots_[i].name != nullptr) i = (i + 1) & mask_;
    slots_[i] = slot;
}

void NameCache::grow() {
    const size_t size = slots_.empty() ? kFirstSlots : 2 * slots_.size();
    auto old = std::exchange(slots_, decltype(slots_)(size));
    mask_ = size - 1;
    for (const Slot& s : old) {
        // A str keeps its hash once computed, so asking again costs no hashing and cannot fail.
        if (s.name != nullptr) place(s, PyObject_Hash(s.name));
    }
}

void NameCache::clear() {
    // The references go only after the table is empty: nothing can see a released name.
    auto old = std::exchange(slots_, decltype(slots_)());
    mask_ = 0;
    count_ = 0;
    for (const Slot& s : old) Py_XDECREF(s.name);
}

}  // namespace quor_binding
