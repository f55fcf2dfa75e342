#pragma once
// Argument parsing for METH_FASTCALL | METH_KEYWORDS methods. Every error names the function
// or the parameter, in the texts Python users know from native extensions.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "py_ref.hpp"

namespace quor_binding {

// Fills out[i] (borrowed) for each parameter name, from positional and keyword arguments.
// All parameters are required. Returns false with a TypeError set on a mismatch.
bool parse_args(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                std::initializer_list<const char*> names, PyObject** out);
// The same where only the first `required` parameters must be given; out[i] of an optional
// parameter not given is nullptr.
bool parse_args(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                std::initializer_list<const char*> names, PyObject** out, size_t required);

// Converters: return false with TypeError/OverflowError naming the parameter.
bool arg_str(PyObject* obj, const char* param, std::string_view& out);
// A file system path: str, bytes or os.PathLike, as Python's open() takes it (a str is encoded
// as os.fsencode does). owner keeps the bytes that out views.
bool arg_path(PyObject* obj, const char* param, PyRef& owner, std::string_view& out);
// An optional count: None (or a missing argument, nullptr) gives no limit.
bool arg_limit(PyObject* obj, const char* param, std::optional<uint64_t>& out);
bool arg_u64(PyObject* obj, const char* param, uint64_t& out);
bool arg_i64(PyObject* obj, const char* param, int64_t& out);
bool arg_f64(PyObject* obj, const char* param, double& out);
// A sequence of str (a str itself is refused).
bool arg_str_list(PyObject* obj, const char* param, std::vector<std::string>& out);

}  // namespace quor_binding
