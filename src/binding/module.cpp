// The extension module _core: adds the classes PyTrace, PyExpr and PyArray when it executes.

#include <string_view>
#include <vector>

#include "array_object.hpp"
#include "method_tables.hpp"
#include "module_state.hpp"
#include "py_ref.hpp"
#include "util/exception_storage.hpp"

namespace quor_binding {

namespace {

// Binds each static method to the class, so its function receives the class as `self`.
bool add_static_methods(PyTypeObject* type, PyObject* module, PyMethodDef* table) {
    for (PyMethodDef* def = table; def->ml_name; ++def) {
        PyRef func(PyCFunction_NewEx(def, reinterpret_cast<PyObject*>(type), module));
        if (!func) return false;
        PyRef method(PyStaticMethod_New(func.get()));
        if (!method) return false;
        if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), def->ml_name, method.get()) < 0) return false;
    }
    return true;
}

PyTypeObject* add_type(PyObject* module, PyType_Spec* type_spec) {
    PyObject* type = PyType_FromModuleAndSpec(module, type_spec, nullptr);
    if (!type) return nullptr;
    if (PyModule_AddObjectRef(module, type_spec->name + std::string_view(type_spec->name).rfind('.') + 1, type) < 0) {
        Py_DECREF(type);
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(type);
}

int exec_module(PyObject* module) {
    quor_core::util::prepare_exception_storage();  // for the importing thread, while memory is there
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    state->trace_type = add_type(module, trace_type_spec());
    if (!state->trace_type) return -1;
    state->expr_type = add_type(module, expr_type_spec());
    if (!state->expr_type) return -1;
    state->array_type = add_type(module, array_type_spec());
    if (!state->array_type) return -1;
    for (PyMethodDef* table : {vcd_loader_static, fst_loader_static, format_loader_static}) {
        if (!add_static_methods(state->trace_type, module, table)) return -1;
    }
    if (!add_static_methods(state->expr_type, module, expr_static)) return -1;
    PyType_Modified(state->trace_type);
    PyType_Modified(state->expr_type);
    return 0;
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (state) {
        Py_VISIT(state->trace_type);
        Py_VISIT(state->expr_type);
        Py_VISIT(state->array_type);
    }
    return 0;
}

int clear_module(PyObject* module) {
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (state) {
        Py_CLEAR(state->trace_type);
        Py_CLEAR(state->expr_type);
        Py_CLEAR(state->array_type);
    }
    return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

}  // namespace

PyModuleDef quor_module_def = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "Waveform traces loaded into memory and queried fast.",
    sizeof(ModuleState),
    module_functions,
    module_slots,
    traverse_module,
    clear_module,
    free_module,
};

ModuleState* state_of(PyTypeObject* type) {
    PyObject* module = PyType_GetModuleByDef(type, &quor_module_def);
    return module ? static_cast<ModuleState*>(PyModule_GetState(module)) : nullptr;
}

}  // namespace quor_binding

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&quor_binding::quor_module_def); }
