#pragma once
// The steps every loading constructor shares: take one str argument, run the loader on the
// calling thread, raise ValueError with the loader's message or wrap the trace in a PyTrace.

#include <memory>
#include <string>
#include <utility>

#include "args.hpp"
#include "module_state.hpp"

namespace quor_binding {

template <typename Loader>
PyObject* run_loader(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     const char* function, const char* param, Loader&& loader) {
    PyObject* arg = nullptr;
    if (!parse_args(function, args, nargs, kwnames, {param}, &arg)) return nullptr;
    std::string_view text;
    if (!arg_str(arg, param, text)) return nullptr;
    auto result = loader(text);
    if (!result.ok()) {
        const std::string& message = result.error();
        PyObject* msg = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
        if (msg) {
            PyErr_SetObject(PyExc_ValueError, msg);
            Py_DECREF(msg);
        }
        return nullptr;
    }
    using TraceT = std::decay_t<decltype(std::move(result).value())>;
    auto trace = std::make_shared<const TraceT>(std::move(result).value());
    return wrap_trace(reinterpret_cast<PyTypeObject*>(cls), std::move(trace));
}

}  // namespace quor_binding
