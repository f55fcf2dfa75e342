#pragma once
// The class PyArray: a read-only one-dimensional array of 64-bit numbers that owns its memory
// and exports it through the buffer protocol (format "Q" for indices and times, "d" for reals),
// so numpy.asarray() and memoryview() wrap it without a copy.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <memory>

#include "util/pod_buffer.hpp"

namespace quor_binding {

PyType_Spec* array_type_spec();

// A new PyArray over length values at data, kept alive by owner; nullptr with an error set.
PyObject* wrap_array(PyTypeObject* any_module_type, std::shared_ptr<const void> owner, const void* data,
                     size_t length, char format);

// A new PyArray taking over the buffer's memory: 64-bit words read as format ('Q' for unsigned
// integers, 'd' for the bits of doubles).
PyObject* array_from(PyTypeObject* any_module_type, quor_core::util::PodBuffer<uint64_t>&& values,
                     char format = 'Q');

// The module function _array_from_bytes(typecode, data): a new PyArray of format typecode
// ('Q' or 'd') holding a copy of data's 8-byte items in native byte order; how pickles of
// PyArray are loaded.
PyObject* array_from_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quor_binding
