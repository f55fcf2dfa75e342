#pragma once
// Argument parsing for METH_FASTCALL | METH_KEYWORDS methods. Every error names the function
// or the parameter, in the texts Python users know from native extensions.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace quor_binding {

// Fills out[i] (borrowed) for each parameter name, from positional and keyword arguments.
// All parameters are required. Returns false with a TypeError set on a mismatch.
bool parse_args(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                std::initializer_list<const char*> names, PyObject** out);

// Converters: return false with TypeError/OverflowError naming the parameter.
bool arg_str(PyObject* obj, const char* param, std::string_view& out);
bool arg_u64(PyObject* obj, const char* param, uint64_t& out);
bool arg_i64(PyObject* obj, const char* param, int64_t& out);
bool arg_f64(PyObject* obj, const char* param, double& out);
// A sequence of str (a str itself is refused).
bool arg_str_list(PyObject* obj, const char* param, std::vector<std::string>& out);

}  // namespace quor_binding
