// The class PyTrace: one loaded trace, shared read-only with the worker threads.

#include <new>
#include <vector>

#include "docstrings.hpp"
#include "method_tables.hpp"
#include "module_state.hpp"

namespace quor_binding {

namespace {

void trace_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* t = reinterpret_cast<PyTraceObject*>(self);
    t->names.~NameCache();
    t->trace.~shared_ptr();
    type->tp_free(self);
    Py_DECREF(type);
}

std::vector<PyMethodDef>& trace_method_table() {
    // Built once from the per-file tables; never changed afterwards.
    static std::vector<PyMethodDef> table = [] {
        std::vector<PyMethodDef> all;
        for (PyMethodDef* part : {trace_query_methods, trace_analysis_methods, trace_array_methods}) {
            for (PyMethodDef* def = part; def->ml_name; ++def) all.push_back(*def);
        }
        all.push_back({nullptr, nullptr, 0, nullptr});
        return all;
    }();
    return table;
}

}  // namespace

PyType_Spec* trace_type_spec() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(trace_dealloc)},
        {Py_tp_methods, trace_method_table().data()},
        {Py_tp_doc, const_cast<char*>(QUOR_DOC_TRACE)},
        {0, nullptr},
    };
    static PyType_Spec type_spec = {
        "quor._core.PyTrace",
        sizeof(PyTraceObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return &type_spec;
}

PyObject* wrap_trace(PyTypeObject* type, std::shared_ptr<const quor_core::trace::Trace> trace) {
    PyObject* obj = type->tp_alloc(type, 0);
    if (!obj) return nullptr;
    auto* t = reinterpret_cast<PyTraceObject*>(obj);
    new (&t->trace) std::shared_ptr<const quor_core::trace::Trace>(std::move(trace));
    new (&t->names) NameCache();
    t->times_ascending = -1;
    return obj;
}

}  // namespace quor_binding
