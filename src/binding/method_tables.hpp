#pragma once
// The method tables of the two classes, one per source file; each ends with a null entry.
// Tables named *_static hold static methods: they are bound to the class when the module runs,
// so their functions receive the class as `self`.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <stdexcept>

#include "util/exception_storage.hpp"
#include "util/interrupt.hpp"

namespace quor_binding {

extern PyMethodDef trace_query_methods[];     // names, times, values, snapshots
extern PyMethodDef trace_analysis_methods[];  // expressions, searches, scopes, statistics
extern PyMethodDef trace_array_methods[];     // arrays, times, runs, expression text, tables
extern PyMethodDef module_functions[];        // functions of the module itself
extern PyMethodDef vcd_loader_static[];       // from_vcd, from_vcd_string
extern PyMethodDef fst_loader_static[];       // from_fst
extern PyMethodDef format_loader_static[];    // from_fsdb, from_wlf, from_shm, from_vpd
extern PyMethodDef expr_methods[];            // PyExpr instance builders
extern PyMethodDef expr_static[];             // PyExpr leaf builders

}  // namespace quor_binding

namespace quor_binding {

// A METH_FASTCALL | METH_KEYWORDS function as the PyCFunction that PyMethodDef stores.
using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// Sets the Python exception for a C++ exception: MemoryError for a failed allocation, the
// signal handler's exception (KeyboardInterrupt for Ctrl-C) for stopped work, and RuntimeError
// naming any other failure, so that no C++ exception ever leaves a function Python called,
// which would end the interpreter. Only std::exception is caught: the unwinding that ends a
// thread (pthread_exit, which the interpreter uses for daemon threads at exit) must pass.
inline void set_error_from_exception(const std::exception& e) {
    if (dynamic_cast<const std::bad_alloc*>(&e) || dynamic_cast<const std::length_error*>(&e)) {
        PyErr_NoMemory();
    } else if (dynamic_cast<const quor_core::util::Interrupted*>(&e)) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } else {
        PyErr_Format(PyExc_RuntimeError, "quor internal error: %s", e.what());
    }
}

// Calls F with every C++ exception turned into a Python one (set_error_from_exception). The
// calling thread first takes its exception storage, which it could not take once memory has
// run out.
template <FastMethod F>
PyObject* guarded(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    quor_core::util::prepare_exception_storage();
    try {
        return F(self, args, nargs, kwnames);
    } catch (const std::exception& e) {
        set_error_from_exception(e);
        return nullptr;
    }
}

// A method-table entry for F, guarded.
template <FastMethod F>
PyCFunction as_cfunction() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&guarded<F>));
}

inline constexpr int kFastKw = METH_FASTCALL | METH_KEYWORDS;

}  // namespace quor_binding
