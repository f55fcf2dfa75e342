#include "array_object.hpp"

#include <cstring>
#include <new>
#include <string>

#include "args.hpp"
#include "method_tables.hpp"
#include "module_state.hpp"
#include "py_ref.hpp"

namespace quor_binding {

namespace {

struct ArrayObject {
    PyObject_HEAD
    std::shared_ptr<const void> owner;
    const void* data;
    Py_ssize_t shape[1];
    Py_ssize_t strides[1];
    char format[2];
};

// Where an empty array points: the buffer protocol wants an address even for no items.
constexpr uint64_t kNoItems = 0;

ArrayObject* as_array(PyObject* self) { return reinterpret_cast<ArrayObject*>(self); }

Py_ssize_t length_of(PyObject* self) { return as_array(self)->shape[0]; }

// Calls a slot function with every C++ exception turned into a Python one.
template <typename... Args>
PyObject* slot_guarded(PyObject* (*slot)(Args...), Args... args) {
    try {
        return slot(args...);
    } catch (const std::exception& e) {
        set_error_from_exception(e);
        return nullptr;
    }
}

bool format_is_real(const ArrayObject* a) { return a->format[0] == 'd'; }
bool is_real(PyObject* self) { return format_is_real(as_array(self)); }

void array_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    as_array(self)->owner.~shared_ptr();
    type->tp_free(self);
    Py_DECREF(type);
}

int array_getbuffer(PyObject* self, Py_buffer* view, int flags) {
    if (flags & PyBUF_WRITABLE) {
        PyErr_SetString(PyExc_BufferError, "PyArray is read-only");
        view->obj = nullptr;
        return -1;
    }
    ArrayObject* a = as_array(self);
    Py_INCREF(self);
    view->obj = self;
    view->buf = const_cast<void*>(a->data);
    view->len = a->shape[0] * static_cast<Py_ssize_t>(sizeof(uint64_t));
    view->readonly = 1;
    view->itemsize = sizeof(uint64_t);
    view->format = (flags & PyBUF_FORMAT) ? a->format : nullptr;
    view->ndim = 1;
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? a->shape : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? a->strides : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

PyObject* item(PyObject* self, Py_ssize_t k) {
    if (k < 0 || k >= length_of(self)) {
        PyErr_SetString(PyExc_IndexError, "PyArray index out of range");
        return nullptr;
    }
    if (is_real(self)) return PyFloat_FromDouble(static_cast<const double*>(as_array(self)->data)[k]);
    return PyLong_FromUnsignedLongLong(static_cast<const uint64_t*>(as_array(self)->data)[k]);
}

// A slice shares the memory when its step is 1, and is copied otherwise.
PyObject* slice_of(PyObject* self, PyObject* key) {
    Py_ssize_t start = 0, stop = 0, step = 0;
    if (PySlice_Unpack(key, &start, &stop, &step) < 0) return nullptr;
    const Py_ssize_t count = PySlice_AdjustIndices(length_of(self), &start, &stop, step);
    ArrayObject* a = as_array(self);
    const auto* words = static_cast<const uint64_t*>(a->data);
    if (step == 1) return wrap_array(Py_TYPE(self), a->owner, words + start, static_cast<size_t>(count), a->format[0]);
    quor_core::util::PodBuffer<uint64_t> picked;
    picked.resize(static_cast<size_t>(count));
    for (Py_ssize_t k = 0; k < count; ++k) picked[static_cast<size_t>(k)] = words[start + k * step];
    return format_is_real(a) ? array_from(Py_TYPE(self), std::move(picked), 'd')
                             : array_from(Py_TYPE(self), std::move(picked));
}

PyObject* subscript(PyObject* self, PyObject* key) {
    if (PySlice_Check(key)) return slot_guarded(slice_of, self, key);
    const Py_ssize_t k = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (k == -1 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Format(PyExc_TypeError, "PyArray indices must be integers or slices, not %s", Py_TYPE(key)->tp_name);
        }
        return nullptr;
    }
    return item(self, k < 0 ? k + length_of(self) : k);
}

PyObject* tolist(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args("PyArray.tolist", args, nargs, kwnames, {}, nullptr)) return nullptr;
    const Py_ssize_t n = length_of(self);
    PyRef list(PyList_New(n));
    if (!list) return nullptr;
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* v = item(self, k);
        if (!v) return nullptr;
        PyList_SET_ITEM(list.get(), k, v);
    }
    return list.release();
}

PyObject* repr_of(PyObject* self) {
    // PyArray('Q', [1, 5, 9]); the middle of a long array is left out.
    constexpr Py_ssize_t kShownAtEnds = 3;
    const Py_ssize_t n = length_of(self);
    std::string text = std::string("PyArray('") + as_array(self)->format + "', [";
    for (Py_ssize_t k = 0; k < n; ++k) {
        if (n > 2 * kShownAtEnds + 1 && k == kShownAtEnds) {
            text += "..., ";
            k = n - kShownAtEnds;
        }
        PyRef v(item(self, k));
        PyRef s(v ? PyObject_Repr(v.get()) : nullptr);
        const char* utf8 = s ? PyUnicode_AsUTF8(s.get()) : nullptr;
        if (!utf8) return nullptr;
        text += utf8;
        if (k + 1 < n) text += ", ";
    }
    text += "]";
    if (n > 2 * kShownAtEnds + 1) text += ", length=" + std::to_string(n);
    text += ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* repr(PyObject* self) { return slot_guarded(repr_of, self); }

PyObject* get_typecode(PyObject* self, void*) { return PyUnicode_FromString(as_array(self)->format); }

PyObject* get_itemsize(PyObject*, void*) { return PyLong_FromLong(sizeof(uint64_t)); }

// Pickling (and copy.copy / copy.deepcopy) rebuild the array from its bytes through the module's
// _array_from_bytes, since the class cannot be instantiated from Python.
PyObject* reduce(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args("PyArray.__reduce__", args, nargs, kwnames, {}, nullptr)) return nullptr;
    PyObject* module = PyType_GetModuleByDef(Py_TYPE(self), &quor_module_def);
    if (!module) return nullptr;
    PyRef rebuild(PyObject_GetAttrString(module, "_array_from_bytes"));
    if (!rebuild) return nullptr;
    const ArrayObject* a = as_array(self);
    PyRef bytes(PyBytes_FromStringAndSize(static_cast<const char*>(a->data),
                                          a->shape[0] * static_cast<Py_ssize_t>(sizeof(uint64_t))));
    if (!bytes) return nullptr;
    return Py_BuildValue("(O(sO))", rebuild.get(), a->format, bytes.get());
}

PyMethodDef array_methods[] = {
    {"__reduce__", as_cfunction<reduce>(), kFastKw, "__reduce__($self)\n--\n\nSupport for pickle and copy."},
    {"tolist", as_cfunction<tolist>(), kFastKw,
     "tolist($self)\n--\n\n"
     "The values as a list of Python numbers (int for format 'Q', float for 'd').\n\n"
     "Returns:\n    list: one number per item, in order.\n\n"
     "Example:\n    >>> trace.timestamps()[:3].tolist()\n    [0, 5000, 10000]\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef array_getset[] = {
    {"typecode", get_typecode, nullptr,
     const_cast<char*>("The item format: 'Q' (unsigned 64-bit integers) or 'd' (64-bit floats)."), nullptr},
    {"itemsize", get_itemsize, nullptr, const_cast<char*>("Bytes per item: always 8."), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kArrayDoc =
    "A read-only array of 64-bit numbers returned by quor: indices and times as unsigned integers\n"
    "(format 'Q'), reals as floats (format 'd').\n\n"
    "It owns its memory and exports it through the buffer protocol, so numpy.asarray(a),\n"
    "memoryview(a) and pyarrow wrap it without copying; numpy is not needed to use it. It supports\n"
    "len(), indexing with ints (negative ones count from the end) and slices (a slice with step 1\n"
    "shares the memory), iteration and tolist(). Views of it are read-only: numpy.array(a) makes\n"
    "a writable copy. It can be pickled (sent to another process) and copied.\n\n"
    "Example:\n"
    "    >>> hits = trace.find_array(trace.expr(\"en && count > 10\", scope=\"counter_tb\"))\n"
    "    >>> len(hits), hits[0], hits[-1]\n"
    "    (19, 25, 43)\n"
    "    >>> import numpy\n"
    "    >>> numpy.asarray(hits).dtype\n"
    "    dtype('uint64')\n";

}  // namespace

PyObject* array_from_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2] = {};
    if (!parse_args("_array_from_bytes", args, nargs, kwnames, {"typecode", "data"}, a)) return nullptr;
    std::string_view typecode;
    if (!arg_str(a[0], "typecode", typecode)) return nullptr;
    if (typecode != "Q" && typecode != "d") {
        PyErr_SetString(PyExc_ValueError, "typecode must be 'Q' or 'd'");
        return nullptr;
    }
    Py_buffer view;
    if (PyObject_GetBuffer(a[1], &view, PyBUF_SIMPLE) < 0) return nullptr;
    const auto release = [&view] { PyBuffer_Release(&view); };
    if (view.len % static_cast<Py_ssize_t>(sizeof(uint64_t)) != 0) {
        release();
        PyErr_SetString(PyExc_ValueError, "data must hold a whole number of 8-byte items");
        return nullptr;
    }
    quor_core::util::PodBuffer<uint64_t> values;
    try {
        values.resize(static_cast<size_t>(view.len) / sizeof(uint64_t));
    } catch (const std::bad_alloc&) {
        release();
        return PyErr_NoMemory();
    }
    if (view.len) std::memcpy(values.data(), view.buf, static_cast<size_t>(view.len));
    release();
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (!state || !state->array_type) {
        PyErr_SetString(PyExc_RuntimeError, "quor internal error: module state missing");
        return nullptr;
    }
    return array_from(state->array_type, std::move(values), typecode[0]);
}

PyType_Spec* array_type_spec() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(array_dealloc)},
        {Py_tp_methods, array_methods},
        {Py_tp_getset, array_getset},
        {Py_tp_repr, reinterpret_cast<void*>(repr)},
        {Py_tp_doc, const_cast<char*>(kArrayDoc)},
        {Py_bf_getbuffer, reinterpret_cast<void*>(array_getbuffer)},
        {Py_sq_length, reinterpret_cast<void*>(length_of)},
        {Py_sq_item, reinterpret_cast<void*>(item)},
        {Py_mp_length, reinterpret_cast<void*>(length_of)},
        {Py_mp_subscript, reinterpret_cast<void*>(subscript)},
        {0, nullptr},
    };
    static PyType_Spec type_spec = {
        "quor._core.PyArray",
        sizeof(ArrayObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return &type_spec;
}

PyObject* wrap_array(PyTypeObject* any_module_type, std::shared_ptr<const void> owner, const void* data,
                     size_t length, char format) {
    ModuleState* state = state_of(any_module_type);
    if (!state) return nullptr;
    PyTypeObject* type = state->array_type;
    PyObject* obj = type->tp_alloc(type, 0);
    if (!obj) return nullptr;
    ArrayObject* a = as_array(obj);
    new (&a->owner) std::shared_ptr<const void>(std::move(owner));
    a->data = length ? data : &kNoItems;
    a->shape[0] = static_cast<Py_ssize_t>(length);
    a->strides[0] = sizeof(uint64_t);
    a->format[0] = format;
    a->format[1] = '\0';
    return obj;
}

PyObject* array_from(PyTypeObject* any_module_type, quor_core::util::PodBuffer<uint64_t>&& values, char format) {
    const size_t length = values.size();
    auto memory = values.release();
    const quor_core::util::PodRelease free_memory = memory.get_deleter();
    // Should making the owner fail, it frees the memory itself.
    std::shared_ptr<const void> owner(memory.release(), free_memory);
    const void* data = owner.get();
    return wrap_array(any_module_type, std::move(owner), data, length, format);
}

}  // namespace quor_binding
