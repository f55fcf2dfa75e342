#pragma once
// The one conversion of a stored value into a Python object: Uint and Wide to int (Wide whole),
// Real to float, Text to str, FourState and Unknown to None.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <span>

#include "signal/column.hpp"
#include "signal/values/value.hpp"

namespace quor_binding {

PyObject* to_python(const quor_core::signal::ValueRef& v);
PyObject* to_python(const quor_core::signal::SignalValue& v);

// An unsigned whole number given as words, least significant first, as a Python int.
PyObject* whole_number_to_python(std::span<const uint64_t> words);
// The two's complement of all the words, least significant first, as a Python int.
PyObject* signed_number_to_python(std::span<const uint64_t> words);

}  // namespace quor_binding
