// PyTrace methods that read names, times, values and snapshots.

#include <optional>
#include <string>

#include "args.hpp"
#include "convert.hpp"
#include "docstrings.hpp"
#include "method_tables.hpp"
#include "module_state.hpp"
#include "py_ref.hpp"
#include "signal/column_head.hpp"
#include "util/name_path.hpp"

namespace quor_binding {

namespace {

using quor_core::trace::Trace;

const Trace& trace_of(PyObject* self) { return *reinterpret_cast<PyTraceObject*>(self)->trace; }

// The signal named by the argument obj (a str): its id, and the head of its column to read values
// by. Found through the trace's name cache.
struct NamedSignal {
    std::optional<uint32_t> id;
    quor_core::signal::ColumnHead head;  // of an empty column when there is no such signal
};

// Whether obj (an exact str) has its canonical form, which the cache compares; before Python 3.12
// a str made through the deprecated wide-character calls may not have it yet.
bool str_is_ready(PyObject* obj) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(obj) < 0) {
        PyErr_Clear();  // not cacheable; the lookup by text reports the fault
        return false;
    }
#else
    (void)obj;
#endif
    return true;
}

bool name_arg_signal(PyObject* self, PyObject* obj, const char* param, NamedSignal& out) {
    auto* t = reinterpret_cast<PyTraceObject*>(self);
    // The object seen before: answered without reading it (nor waiting for it to arrive).
    if (const NameCache::Answer seen = t->names.find_object(obj); seen.head != nullptr) {
        out.id = seen.id;
        out.head = *seen.head;
        return true;
    }
    // Only exact str objects are cached: releasing one can never run Python code, and its hash is
    // that of its text. Long ones are not: an entry keeps its name alive, and many long texts the
    // caller has dropped would hold on to their memory for the trace's lifetime.
    constexpr Py_ssize_t kLongestCached = 512;
    Py_hash_t hash = -1;
    if (PyUnicode_CheckExact(obj) && str_is_ready(obj) && PyUnicode_GET_LENGTH(obj) <= kLongestCached) {
        hash = PyObject_Hash(obj);  // kept in the str after the first call
        if (hash == -1) PyErr_Clear();  // not cacheable; the lookup below reports any real fault
    }
    if (hash != -1) {
        const NameCache::Answer answer = t->names.find(obj, hash);
        if (answer.head != nullptr) {
            out.id = answer.id;
            out.head = *answer.head;
            return true;
        }
    }
    std::string_view name;
    if (!arg_str(obj, param, name)) return false;
    const Trace& trace = *t->trace;
    out.id = trace.signal_id(name);
    const quor_core::signal::Column* column = out.id ? trace.store().column(*out.id) : nullptr;
    out.head = column ? quor_core::signal::ColumnHead(*column) : quor_core::signal::ColumnHead();
    // The names of the whole design fit, plus as many again of other texts (unknown names, other
    // spellings of known ones).
    if (hash != -1) t->names.remember(obj, hash, out.id, out.head, 2 * trace.signal_names().size() + 4096);
    return true;
}

bool name_arg_id(PyObject* self, PyObject* obj, const char* param, std::optional<uint32_t>& id) {
    NamedSignal signal;
    if (!name_arg_signal(self, obj, param, signal)) return false;
    id = signal.id;
    return true;
}

// Longest signal_values_range answer accepted past the end of the trace; anything longer would
// only be a list of None values sized by a typo.
constexpr uint64_t kRangeSlackPastEnd = uint64_t{1} << 20;

PyObject* string_list(std::span<const std::string> names) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(names.size())));
    if (!list) return nullptr;
    for (size_t i = 0; i < names.size(); ++i) {
        PyObject* s = PyUnicode_DecodeUTF8(names[i].data(), static_cast<Py_ssize_t>(names[i].size()), "replace");
        if (!s) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
    }
    return list.release();
}

PyObject* signal_names(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args("PyTrace.signal_names", args, nargs, kwnames, {}, nullptr)) return nullptr;
    return string_list(trace_of(self).signal_names());
}

PyObject* scopes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args("PyTrace.scopes", args, nargs, kwnames, {}, nullptr)) return nullptr;
    return string_list(trace_of(self).scopes());
}

PyObject* max_index(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args("PyTrace.max_index", args, nargs, kwnames, {}, nullptr)) return nullptr;
    return PyLong_FromUnsignedLongLong(trace_of(self).max_index());
}

PyObject* timestamp(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    uint64_t index = 0;
    if (!parse_args("PyTrace.timestamp", args, nargs, kwnames, {"index"}, a) || !arg_u64(a[0], "index", index)) {
        return nullptr;
    }
    return PyLong_FromUnsignedLongLong(trace_of(self).timestamp(index));
}

PyObject* signal_id(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    std::optional<uint32_t> id;
    if (!parse_args("PyTrace.signal_id", args, nargs, kwnames, {"name"}, a) || !name_arg_id(self, a[0], "name", id)) {
        return nullptr;
    }
    if (!id) Py_RETURN_NONE;
    return PyLong_FromUnsignedLong(*id);
}

PyObject* signal_width(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    std::string_view name;
    if (!parse_args("PyTrace.signal_width", args, nargs, kwnames, {"name"}, a) || !arg_str(a[0], "name", name)) {
        return nullptr;
    }
    return PyLong_FromUnsignedLong(trace_of(self).signal_width(name));
}

// Parses (name, index) and reads the value without copying its payload.
bool name_index_value(const char* function, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, quor_core::signal::ValueRef& out) {
    if (nargs > 0) reinterpret_cast<PyTraceObject*>(self)->names.expect(args[0]);
    PyObject* a[2];
    NamedSignal signal;
    uint64_t index = 0;
    if (!parse_args(function, args, nargs, kwnames, {"name", "index"}, a) ||
        !name_arg_signal(self, a[0], "name", signal) || !arg_u64(a[1], "index", index)) {
        return false;
    }
    out = signal.head.at(index);
    return true;
}

PyObject* signal_value(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    quor_core::signal::ValueRef v;
    if (!name_index_value("PyTrace.signal_value", self, args, nargs, kwnames, v)) return nullptr;
    return to_python(v);
}

PyObject* signal_value_raw(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    quor_core::signal::ValueRef v;
    if (!name_index_value("PyTrace.signal_value_raw", self, args, nargs, kwnames, v)) return nullptr;
    return PyLong_FromUnsignedLongLong(v.to_u64().value_or(0));
}

PyObject* signal_values_range(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[3];
    std::optional<uint32_t> id;
    uint64_t start = 0;
    uint64_t end = 0;
    if (!parse_args("PyTrace.signal_values_range", args, nargs, kwnames, {"name", "start", "end"}, a) ||
        !name_arg_id(self, a[0], "name", id) || !arg_u64(a[1], "start", start) || !arg_u64(a[2], "end", end)) {
        return nullptr;
    }
    const Trace& trace = trace_of(self);
    const uint64_t count = end > start ? end - start : 0;
    const uint64_t limit = trace.timestamps().size() + kRangeSlackPastEnd;
    if (count > limit) {
        PyErr_Format(PyExc_ValueError,
                     "signal_values_range: %llu values requested, more than the trace's %llu samples plus %llu",
                     static_cast<unsigned long long>(count),
                     static_cast<unsigned long long>(trace.timestamps().size()),
                     static_cast<unsigned long long>(kRangeSlackPastEnd));
        return nullptr;
    }
    PyRef list(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) return nullptr;
    const quor_core::signal::Column* column = id ? trace.store().column(*id) : nullptr;
    for (uint64_t i = 0; i < count; ++i) {
        PyObject* v = column ? to_python(column->at(start + i)) : (Py_INCREF(Py_None), Py_None);
        if (!v) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), v);
    }
    return list.release();
}

// Adds name -> value for every signal inside scope (every signal when there is none), keyed
// relative to the scope.
PyObject* snapshot_of(const Trace& trace, uint64_t index, std::optional<std::string_view> scope) {
    PyRef dict(PyDict_New());
    if (!dict) return nullptr;
    const size_t prefix = scope ? scope->size() + 1 : 0;
    for (const std::string& name : trace.signal_names()) {
        if (scope && !quor_core::util::inside_scope(name, *scope)) continue;
        const auto id = trace.signal_id(name);
        if (!id) continue;
        PyRef value(to_python(trace.value_ref(*id, index)));
        if (!value) return nullptr;
        PyRef key(PyUnicode_DecodeUTF8(name.data() + prefix, static_cast<Py_ssize_t>(name.size() - prefix), "replace"));
        if (!key || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return dict.release();
}

PyObject* snapshot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    uint64_t index = 0;
    if (!parse_args("PyTrace.snapshot", args, nargs, kwnames, {"index"}, a) || !arg_u64(a[0], "index", index)) {
        return nullptr;
    }
    return snapshot_of(trace_of(self), index, std::nullopt);
}

PyObject* snapshot_scope(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2];
    uint64_t index = 0;
    std::string_view scope;
    if (!parse_args("PyTrace.snapshot_scope", args, nargs, kwnames, {"index", "scope"}, a) ||
        !arg_u64(a[0], "index", index) || !arg_str(a[1], "scope", scope)) {
        return nullptr;
    }
    return snapshot_of(trace_of(self), index, scope);
}

}  // namespace

PyMethodDef trace_query_methods[] = {
    {"signal_names", as_cfunction<signal_names>(), kFastKw, "signal_names($self)\n--\n\n" QUOR_DOC_TRACE_SIGNAL_NAMES},
    {"scopes", as_cfunction<scopes>(), kFastKw, "scopes($self)\n--\n\n" QUOR_DOC_TRACE_SCOPES},
    {"max_index", as_cfunction<max_index>(), kFastKw, "max_index($self)\n--\n\n" QUOR_DOC_TRACE_MAX_INDEX},
    {"timestamp", as_cfunction<timestamp>(), kFastKw, "timestamp($self, index)\n--\n\n" QUOR_DOC_TRACE_TIMESTAMP},
    {"signal_id", as_cfunction<signal_id>(), kFastKw, "signal_id($self, name)\n--\n\n" QUOR_DOC_TRACE_SIGNAL_ID},
    {"signal_width", as_cfunction<signal_width>(), kFastKw,
     "signal_width($self, name)\n--\n\n" QUOR_DOC_TRACE_SIGNAL_WIDTH},
    {"signal_value", as_cfunction<signal_value>(), kFastKw,
     "signal_value($self, name, index)\n--\n\n" QUOR_DOC_TRACE_SIGNAL_VALUE},
    {"signal_value_raw", as_cfunction<signal_value_raw>(), kFastKw,
     "signal_value_raw($self, name, index)\n--\n\n" QUOR_DOC_TRACE_SIGNAL_VALUE_RAW},
    {"signal_values_range", as_cfunction<signal_values_range>(), kFastKw,
     "signal_values_range($self, name, start, end)\n--\n\n" QUOR_DOC_TRACE_SIGNAL_VALUES_RANGE},
    {"snapshot", as_cfunction<snapshot>(), kFastKw,
     "snapshot($self, index)\n--\n\n" QUOR_DOC_TRACE_SNAPSHOT},
    {"snapshot_scope", as_cfunction<snapshot_scope>(), kFastKw,
     "snapshot_scope($self, index, scope)\n--\n\n" QUOR_DOC_TRACE_SNAPSHOT_SCOPE},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
