#pragma once
// Per-module state: the classes, created from type specs when the module executes.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "eval/expr.hpp"
#include "name_cache.hpp"
#include "trace/trace.hpp"

namespace quor_binding {

struct ModuleState {
    PyTypeObject* trace_type;
    PyTypeObject* expr_type;
    PyTypeObject* array_type;
};

struct PyTraceObject {
    PyObject_HEAD
    std::shared_ptr<const quor_core::trace::Trace> trace;
    NameCache names;
    int times_ascending;  // whether the timestamps never go back: -1 until first asked
};

struct PyExprObject {
    PyObject_HEAD
    quor_core::eval::Expr expr;
};

extern PyModuleDef quor_module_def;

// The module state reached from one of the module's own types.
ModuleState* state_of(PyTypeObject* type);

PyType_Spec* trace_type_spec();
PyType_Spec* expr_type_spec();

// A new PyTrace owning the trace, or nullptr with an error set.
PyObject* wrap_trace(PyTypeObject* type, std::shared_ptr<const quor_core::trace::Trace> trace);
// A new PyExpr holding the expression, or nullptr with an error set.
PyObject* wrap_expr(PyTypeObject* type, quor_core::eval::Expr expr);
// The expression of a PyExpr argument, or nullptr with a TypeError naming the parameter.
const quor_core::eval::Expr* expr_arg(PyTypeObject* any_module_type, PyObject* obj, const char* param);

}  // namespace quor_binding
