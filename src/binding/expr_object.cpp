// The class PyExpr: one immutable expression tree, built only through its builder methods.

#include <new>

#include "method_tables.hpp"
#include "module_state.hpp"

namespace quor_binding {

namespace {

void expr_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<PyExprObject*>(self)->expr.~Expr();
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace

PyMethodDef expr_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef expr_static[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyType_Spec* expr_type_spec() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(expr_dealloc)},
        {Py_tp_methods, expr_methods},
        {Py_tp_doc, const_cast<char*>("An expression over the signals of a trace.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "quor._core.PyExpr",
        sizeof(PyExprObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return &spec;
}

PyObject* wrap_expr(PyTypeObject* type, quor_core::eval::Expr expr) {
    PyObject* obj = type->tp_alloc(type, 0);
    if (!obj) return nullptr;
    new (&reinterpret_cast<PyExprObject*>(obj)->expr) quor_core::eval::Expr(std::move(expr));
    return obj;
}

const quor_core::eval::Expr* expr_arg(PyTypeObject* any_module_type, PyObject* obj, const char* param) {
    ModuleState* state = state_of(any_module_type);
    if (!state) return nullptr;
    if (!PyObject_TypeCheck(obj, state->expr_type)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be converted to 'PyExpr'", param,
                     Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    return &reinterpret_cast<PyExprObject*>(obj)->expr;
}

}  // namespace quor_binding
