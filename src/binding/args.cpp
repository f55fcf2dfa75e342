#include "args.hpp"

#include "py_ref.hpp"

namespace quor_binding {

namespace {

bool fail_type(const char* param, const char* what, PyObject* obj) {
    PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object %s", param, Py_TYPE(obj)->tp_name, what);
    return false;
}

// Re-raises a pending TypeError or OverflowError with the parameter name in front of its
// message. Any other error (a UnicodeEncodeError for a lone surrogate, an error raised inside
// a caller's __index__ or __float__) stays as it is: its class may not be constructible from
// one message, and its own text says best what went wrong.
bool prefix_error(const char* param) {
    const bool overflow = PyErr_ExceptionMatches(PyExc_OverflowError);
    if (!overflow && !PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    PyRef text(value ? PyObject_Str(value) : nullptr);
    const char* msg = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (!msg) PyErr_Clear();
    PyErr_Format(overflow ? PyExc_OverflowError : PyExc_TypeError, "argument '%s': %s", param,
                 msg ? msg : "invalid value");
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(tb);
    return false;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c': how Python lists missing arguments.
std::string name_list(const std::vector<const char*>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += names.size() == 2 ? " and " : i + 1 == names.size() ? ", and " : ", ";
        out.append(1, '\'').append(names[i]).append(1, '\'');
    }
    return out;
}

}  // namespace

bool parse_args(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                std::initializer_list<const char*> names, PyObject** out) {
    return parse_args(function, args, nargs, kwnames, names, out, names.size());
}

bool parse_args(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                std::initializer_list<const char*> names, PyObject** out, size_t required) {
    const auto count = static_cast<Py_ssize_t>(names.size());
    if (nargs == count && kwnames == nullptr) {  // the common call: all positional
        for (Py_ssize_t i = 0; i < count; ++i) out[i] = args[i];
        return true;
    }
    if (count == 0) {  // worded as Python words it for methods without parameters
        if (nargs > 0) {
            PyErr_Format(PyExc_TypeError, "%s() takes no arguments (%zd given)", function, nargs);
        } else {
            PyErr_Format(PyExc_TypeError, "%s() takes no keyword arguments", function);
        }
        return false;
    }
    if (nargs > count) {
        if (required < names.size()) {
            PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zd positional arguments but %zd %s given",
                         function, required, count, nargs, nargs == 1 ? "was" : "were");
        } else {
            PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given", function, count,
                         count == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
        }
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t key_size = 0;
        const char* kname = PyUnicode_AsUTF8AndSize(key, &key_size);
        if (!kname) PyErr_Clear();  // not encodable: it names no parameter
        // Compared with its length: a name with a NUL byte in it is not the name before the NUL.
        const std::string_view key_text = kname ? std::string_view(kname, static_cast<size_t>(key_size)) : "";
        Py_ssize_t slot = -1;
        Py_ssize_t i = 0;
        for (const char* n : names) {
            if (kname && std::string_view(n) == key_text) slot = i;
            ++i;
        }
        if (slot < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument %R", function, key);
            return false;
        }
        if (out[slot]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function, kname);
            return false;
        }
        out[slot] = args[nargs + k];
    }
    std::vector<const char*> missing;
    Py_ssize_t i = 0;
    for (const char* n : names) {
        if (static_cast<size_t>(i) < required && !out[i]) missing.push_back(n);
        ++i;
    }
    if (!missing.empty()) {
        PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", function,
                     missing.size(), missing.size() == 1 ? "" : "s", name_list(missing).c_str());
        return false;
    }
    return true;
}

bool arg_str(PyObject* obj, const char* param, std::string_view& out) {
    if (!PyUnicode_Check(obj)) return fail_type(param, "cannot be converted to 'PyString'", obj);
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (!data) return prefix_error(param);
    out = std::string_view(data, static_cast<size_t>(size));
    return true;
}

bool arg_path(PyObject* obj, const char* param, PyRef& owner, std::string_view& out) {
    PyRef path(PyOS_FSPath(obj));
    if (!path) return prefix_error(param);
    if (PyUnicode_Check(path.get())) {
        owner = PyRef(PyUnicode_EncodeFSDefault(path.get()));
        if (!owner) return false;  // a surrogate the file system encoding cannot carry
    } else {
        owner = std::move(path);  // PyOS_FSPath gives str or bytes
    }
    PyObject* bytes = owner.get();
    out = std::string_view(PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
    return true;
}

bool arg_limit(PyObject* obj, const char* param, std::optional<uint64_t>& out) {
    out.reset();
    if (obj == nullptr || obj == Py_None) return true;
    uint64_t v = 0;
    if (!arg_u64(obj, param, v)) return false;
    out = v;
    return true;
}

bool arg_u64(PyObject* obj, const char* param, uint64_t& out) {
    if (PyLong_CheckExact(obj)) {
        const unsigned long long v = PyLong_AsUnsignedLongLong(obj);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return prefix_error(param);
        out = v;
        return true;
    }
    PyRef index(PyNumber_Index(obj));
    if (!index) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;  // raised by the object's own __index__
        PyErr_Clear();
        return fail_type(param, "cannot be interpreted as an integer", obj);
    }
    const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return prefix_error(param);
    out = v;
    return true;
}

bool arg_i64(PyObject* obj, const char* param, int64_t& out) {
    PyRef index(PyNumber_Index(obj));
    if (!index) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;  // raised by the object's own __index__
        PyErr_Clear();
        return fail_type(param, "cannot be interpreted as an integer", obj);
    }
    const long long v = PyLong_AsLongLong(index.get());
    if (v == -1 && PyErr_Occurred()) return prefix_error(param);
    out = v;
    return true;
}

bool arg_f64(PyObject* obj, const char* param, double& out) {
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return prefix_error(param);
    out = v;
    return true;
}

bool arg_str_list(PyObject* obj, const char* param, std::vector<std::string>& out) {
    if (PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': Can't extract `str` to `Vec`", param);
        return false;
    }
    if (!PySequence_Check(obj)) return fail_type(param, "cannot be converted to 'Sequence'", obj);
    const Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) return prefix_error(param);
    out.clear();
    out.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyRef item(PySequence_GetItem(obj, i));
        if (!item) return prefix_error(param);
        std::string_view s;
        if (!arg_str(item.get(), param, s)) return false;
        out.emplace_back(s);
    }
    return true;
}

}  // namespace quor_binding
