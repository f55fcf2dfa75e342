#pragma once
// IndexListBuilder: collects indices as Python ints, in pieces, and turns them into one list.
// The ints are owned by the builder until finish(); a builder dropped early releases them.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>
#include <vector>

namespace quor_binding {

class IndexListBuilder {
public:
    IndexListBuilder() = default;
    ~IndexListBuilder();
    IndexListBuilder(const IndexListBuilder&) = delete;
    IndexListBuilder& operator=(const IndexListBuilder&) = delete;

    // Appends one int per index; false with a Python error set when one cannot be made.
    bool append(std::span<const uint64_t> indices);
    // The list of every int appended, in order (new reference), or nullptr with an error set.
    PyObject* finish();

private:
    std::vector<PyObject*> items_;
};

}  // namespace quor_binding
