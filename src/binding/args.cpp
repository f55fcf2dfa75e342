#include "args.hpp"

#include "py_ref.hpp"

namespace quor_binding {

namespace {

bool fail_type(const char* param, const char* what, PyObject* obj) {
    PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object %s", param, Py_TYPE(obj)->tp_name, what);
    return false;
}

// Re-raises the pending error with the parameter name in front of its message.
bool prefix_error(const char* param) {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    PyRef text(value ? PyObject_Str(value) : nullptr);
    const char* msg = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
    if (!msg) PyErr_Clear();
    PyErr_Format(type ? type : PyExc_TypeError, "argument '%s': %s", param, msg ? msg : "invalid value");
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(tb);
    return false;
}

}  // namespace

bool parse_args(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                std::initializer_list<const char*> names, PyObject** out) {
    const auto count = static_cast<Py_ssize_t>(names.size());
    if (nargs == count && kwnames == nullptr) {  // the common call: all positional
        for (Py_ssize_t i = 0; i < count; ++i) out[i] = args[i];
        return true;
    }
    if (nargs > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given", function, count,
                     count == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        const char* kname = PyUnicode_AsUTF8(key);
        if (!kname) return false;
        Py_ssize_t slot = -1;
        Py_ssize_t i = 0;
        for (const char* n : names) {
            if (std::string_view(n) == kname) slot = i;
            ++i;
        }
        if (slot < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", function, kname);
            return false;
        }
        if (out[slot]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function, kname);
            return false;
        }
        out[slot] = args[nargs + k];
    }
    std::string missing;
    Py_ssize_t missing_count = 0;
    Py_ssize_t i = 0;
    for (const char* n : names) {
        if (!out[i++]) {
            if (missing_count++) missing += ", ";
            missing += "'" + std::string(n) + "'";
        }
    }
    if (missing_count) {
        PyErr_Format(PyExc_TypeError, "%s() missing %zd required positional argument%s: %s", function,
                     missing_count, missing_count == 1 ? "" : "s", missing.c_str());
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

bool arg_u64(PyObject* obj, const char* param, uint64_t& out) {
    if (PyLong_CheckExact(obj)) {
        const unsigned long long v = PyLong_AsUnsignedLongLong(obj);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return prefix_error(param);
        out = v;
        return true;
    }
    PyRef index(PyNumber_Index(obj));
    if (!index) {
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
