#include "convert.hpp"

namespace quor_binding {

using quor_core::signal::SignalValue;
using quor_core::signal::ValueKind;
using quor_core::signal::ValueRef;

PyObject* to_python(const SignalValue& v) {
    switch (v.kind()) {
        case ValueKind::Uint: return PyLong_FromUnsignedLongLong(v.as_uint());
        case ValueKind::Wide: {
            const auto& w = v.as_wide().words;
            return PyLong_FromUnsignedLongLong(w.empty() ? 0 : w[0]);
        }
        case ValueKind::Real: return PyFloat_FromDouble(v.as_real());
        case ValueKind::Text: {
            const auto& s = v.as_text();
            return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
        }
        case ValueKind::FourState:
        case ValueKind::Unknown: Py_RETURN_NONE;
    }
    Py_RETURN_NONE;
}

PyObject* to_python(const ValueRef& v) {
    switch (v.kind()) {
        case ValueKind::Uint: return PyLong_FromUnsignedLongLong(v.as_uint());
        case ValueKind::Real: return PyFloat_FromDouble(v.as_real());
        case ValueKind::Unknown:
        case ValueKind::FourState: Py_RETURN_NONE;
        default: return to_python(v.heap());
    }
}

}  // namespace quor_binding
