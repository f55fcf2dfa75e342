#include "index_list.hpp"

#include <algorithm>

namespace quor_binding {

IndexListBuilder::~IndexListBuilder() {
    for (PyObject* item : items_) Py_DECREF(item);
}

bool IndexListBuilder::append(std::span<const uint64_t> indices) {
    const size_t needed = items_.size() + indices.size();
    if (needed > items_.capacity()) items_.reserve(std::max(needed, 2 * items_.capacity()));
    for (const uint64_t index : indices) {
        PyObject* v = PyLong_FromUnsignedLongLong(index);
        if (!v) return false;
        items_.push_back(v);  // cannot throw: capacity was reserved
    }
    return true;
}

PyObject* IndexListBuilder::finish() {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(items_.size()));
    if (!list) return nullptr;
    for (size_t i = 0; i < items_.size(); ++i) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), items_[i]);
    items_.clear();  // the list owns them now
    return list;
}

}  // namespace quor_binding
