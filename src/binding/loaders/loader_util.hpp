#pragma once
// The steps every loading constructor shares: take one argument (a path: str, bytes or
// os.PathLike; or text: str), run the loader on the calling thread with the GIL released (other
// Python threads run while a big trace loads), raise ValueError with the loader's message
// (MemoryError when memory ran out; the signal handler's exception, KeyboardInterrupt for
// Ctrl-C, when one raised meanwhile) or wrap the trace in a PyTrace. The loader receives an
// interrupt that it asks every few tens of milliseconds.

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "args.hpp"
#include "gil.hpp"
#include "module_state.hpp"

namespace quor_binding {

enum class LoaderArg { Path, Text };

template <typename Loader>
PyObject* run_loader(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     const char* function, const char* param, Loader&& loader,
                     LoaderArg kind = LoaderArg::Path) {
    PyObject* arg = nullptr;
    if (!parse_args(function, args, nargs, kwnames, {param}, &arg)) return nullptr;
    std::string_view text;
    PyRef owner;  // the encoded path, alive until the loader returns
    const bool converted = kind == LoaderArg::Path ? arg_path(arg, param, owner, text) : arg_str(arg, param, text);
    if (!converted) return nullptr;
    using ResultT = decltype(loader(text, quor_core::util::Interrupt::never()));
    std::optional<ResultT> loaded;
    bool out_of_memory = false;
    {
        GilReleased gil;
        const quor_core::util::Interrupt interrupt = gil.interrupt();
        try {
            loaded.emplace(loader(text, interrupt));
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
        } catch (const std::length_error&) {
            out_of_memory = true;
        } catch (const quor_core::util::Interrupted&) {
            // The signal handler's exception is set.
        }
    }
    if (PyErr_Occurred()) return nullptr;
    if (out_of_memory) return PyErr_NoMemory();
    ResultT& result = *loaded;
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
