// PyTrace methods that answer with arrays (searches, times, a signal's runs), look up times,
// and those written in Python (expression text, Arrow and pandas tables), reached from here so
// that they are methods of the class like any other.

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "args.hpp"
#include "array_object.hpp"
#include "convert.hpp"
#include "gil.hpp"
#include "method_tables.hpp"
#include "module_state.hpp"
#include "py_ref.hpp"
#include "query/find.hpp"
#include "signal/values/bit_text.hpp"
#include "signal/column_runs.hpp"

namespace quor_binding {

namespace {

namespace qe = quor_core::eval;
namespace qs = quor_core::signal;
using quor_core::eval::Expr;
using quor_core::trace::Trace;
using quor_core::util::PodBuffer;

PyTraceObject* trace_object(PyObject* self) { return reinterpret_cast<PyTraceObject*>(self); }
const Trace& trace_of(PyObject* self) { return *trace_object(self)->trace; }

PyObject* py_text(const std::string& s) {
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
}

template <void (*Search)(const Trace&, const Expr&, PodBuffer<uint64_t>&, const quor_core::util::Interrupt&)>
PyObject* find_as_array(const char* function, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    PyObject* a[1];
    if (!parse_args(function, args, nargs, kwnames, {"expr"}, a)) return nullptr;
    const Expr* e = expr_arg(Py_TYPE(self), a[0], "expr");
    if (!e) return nullptr;
    PodBuffer<uint64_t> found;
    {
        // The PyExpr argument and the trace stay alive for the call, and neither ever changes, so
        // other Python threads go on meanwhile. A signal handler's exception (Ctrl-C) stops the
        // search and is what the call raises.
        GilReleased gil;
        const quor_core::util::Interrupt interrupt = gil.interrupt();
        Search(trace_of(self), *e, found, interrupt);
    }
    return array_from(Py_TYPE(self), std::move(found));
}

PyObject* find_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return find_as_array<qe::find_into>("PyTrace.find_array", self, args, nargs, kwnames);
}

PyObject* parallel_find_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return find_as_array<qe::parallel_find_into>("PyTrace.parallel_find_array", self, args, nargs, kwnames);
}

PyObject* timestamps(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args("PyTrace.timestamps", args, nargs, kwnames, {}, nullptr)) return nullptr;
    const std::shared_ptr<const Trace>& trace = trace_object(self)->trace;
    const std::span<const uint64_t> times = trace->timestamps();
    // A view of the trace's own time table, which keeps the trace alive.
    return wrap_array(Py_TYPE(self), std::shared_ptr<const void>(trace, times.data()), times.data(), times.size(),
                      'Q');
}

PyObject* index_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    uint64_t time = 0;
    if (!parse_args("PyTrace.index_at", args, nargs, kwnames, {"time"}, a) || !arg_u64(a[0], "time", time)) {
        return nullptr;
    }
    const std::span<const uint64_t> times = trace_of(self).timestamps();
    int& ascending = trace_object(self)->times_ascending;
    if (ascending < 0) ascending = std::is_sorted(times.begin(), times.end()) ? 1 : 0;
    size_t after = 0;  // one past the answer; 0 when no sample is at or before time
    if (ascending) {
        after = static_cast<size_t>(std::upper_bound(times.begin(), times.end(), time) - times.begin());
    } else {
        // Times that go back (a malformed dump): the last index whose time is not above it.
        after = times.size();
        while (after > 0 && times[after - 1] > time) --after;
    }
    if (after == 0) Py_RETURN_NONE;
    return PyLong_FromSize_t(after - 1);
}

PyObject* timescale(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args("PyTrace.timescale", args, nargs, kwnames, {}, nullptr)) return nullptr;
    const auto scale = trace_of(self).timescale();
    if (!scale) Py_RETURN_NONE;
    const std::string_view unit = scale->unit_name();
    return Py_BuildValue("(Ks#)", static_cast<unsigned long long>(scale->magnitude), unit.data(),
                         static_cast<Py_ssize_t>(unit.size()));
}

// The runs of one signal over [begin, end) of a trace's samples: the column's runs there, then
// one Unknown run past the column's end (or the whole range, for an id without values).
struct SignalRuns {
    const qs::Column* column = nullptr;
    qs::RunRange runs;
    PodBuffer<uint64_t> starts;
    bool unknown_tail = false;

    SignalRuns(const Trace& trace, uint32_t id, uint64_t begin, uint64_t end) : column(trace.store().column(id)) {
        end = std::min<uint64_t>(end, trace.timestamps().size());
        if (begin >= end) return;
        const uint64_t length = column ? column->length() : 0;
        if (column) {
            runs = qs::runs_overlapping(*column, begin, end);
            qs::append_run_starts(*column, begin, end, starts);
        }
        if (length < end) {
            unknown_tail = true;
            starts.push_back(std::max(begin, length));
        }
    }
    size_t count() const { return starts.size(); }
    qs::ValueRef value(size_t k) const {
        return k < runs.count ? column->run_value(runs.first + k) : qs::ValueRef();
    }
    qs::ValueKind kind(size_t k) const {
        if (k >= runs.count) return qs::ValueKind::Unknown;
        const auto kinds = column->run_kinds();
        return kinds.empty() ? qs::ValueKind::Uint : static_cast<qs::ValueKind>(kinds[runs.first + k]);
    }
    // Every run holds this kind.
    bool all(qs::ValueKind k) const {
        if (unknown_tail && k != qs::ValueKind::Unknown) return false;
        if (runs.count == 0) return true;
        const auto kinds = column->run_kinds();
        if (kinds.empty()) return k == qs::ValueKind::Uint;
        const auto mine = kinds.subspan(runs.first, runs.count);
        return std::all_of(mine.begin(), mine.end(), [k](uint8_t b) { return b == static_cast<uint8_t>(k); });
    }
    // The payload words (Uint values, Real bits) of the column's runs.
    PodBuffer<uint64_t> payloads() const {
        PodBuffer<uint64_t> out;
        out.resize(count());
        if (runs.count) column->copy_payloads(runs.first, runs.count, out.data());
        for (size_t k = runs.count; k < count(); ++k) out[k] = 0;
        return out;
    }
};

PyObject* signal_runs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    std::string_view name;
    if (!parse_args("PyTrace.signal_runs", args, nargs, kwnames, {"name"}, a) || !arg_str(a[0], "name", name)) {
        return nullptr;
    }
    const Trace& trace = trace_of(self);
    const auto id = trace.signal_id(name);
    if (!id) {
        PyRef starts(array_from(Py_TYPE(self), PodBuffer<uint64_t>()));
        PyRef values(starts ? array_from(Py_TYPE(self), PodBuffer<uint64_t>()) : nullptr);
        if (!values) return nullptr;
        return PyTuple_Pack(2, starts.get(), values.get());
    }
    SignalRuns runs(trace, *id, 0, trace.timestamps().size());
    const uint32_t width = trace.signal_width(name);
    PyRef values;
    // A signal declared wider than 64 bits is listed as ints, also while its values are small.
    if (width <= 64 && runs.all(qs::ValueKind::Uint)) {
        values = PyRef(array_from(Py_TYPE(self), runs.payloads()));
    } else if (runs.all(qs::ValueKind::Real)) {
        values = PyRef(array_from(Py_TYPE(self), runs.payloads(), 'd'));  // the payloads are the reals' bits
    } else {
        values = PyRef(PyList_New(static_cast<Py_ssize_t>(runs.count())));
        if (!values) return nullptr;
        for (size_t k = 0; k < runs.count(); ++k) {
            PyObject* v = to_python(runs.value(k));
            if (!v) return nullptr;
            PyList_SET_ITEM(values.get(), static_cast<Py_ssize_t>(k), v);
        }
    }
    if (!values) return nullptr;
    PyRef starts(array_from(Py_TYPE(self), std::move(runs.starts)));
    if (!starts) return nullptr;
    return PyTuple_Pack(2, starts.get(), values.get());
}

// Calls the Python function quor.<Module>.<Function>(self, *args, **kwargs): the methods written
// in Python.
template <const char* Module, const char* Function>
PyObject* python_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyRef module(PyImport_ImportModule(Module));
    if (!module) return nullptr;
    PyRef function(PyObject_GetAttrString(module.get(), Function));
    if (!function) return nullptr;
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    std::vector<PyObject*> with_self(static_cast<size_t>(nargs + nkw + 1));
    with_self[0] = self;
    std::copy(args, args + nargs + nkw, with_self.begin() + 1);
    return PyObject_Vectorcall(function.get(), with_self.data(), static_cast<size_t>(nargs + 1), kwnames);
}

constexpr char kExprModule[] = "quor.exprlang";
constexpr char kTablesModule[] = "quor._tables";
constexpr char kExprFunction[] = "trace_expr";
constexpr char kToArrow[] = "to_arrow";
constexpr char kToPandas[] = "to_pandas";

}  // namespace

PyMethodDef trace_array_methods[] = {
    {"find_array", as_cfunction<find_array>(), kFastKw,
     "find_array($self, expr)\n--\n\n"
     "The indices at which expr holds, as an array: the same indices as find(), searched on the\n"
     "calling thread, without making a Python int for each.\n\n"
     "Args:\n    expr (PyExpr): the condition, e.g. from trace.expr(\"en && count > 10\", \"top\").\n\n"
     "Returns:\n    PyArray: ascending sample indices, format 'Q' (numpy.asarray gives uint64 without a copy).\n\n"
     "Raises:\n    TypeError: expr is not a PyExpr.\n    MemoryError: the result does not fit in memory.\n\n"
     "Example:\n    >>> hits = trace.find_array(trace.expr(\"en && count > 10\", scope=\"counter_tb\"))\n"
     "    >>> hits[:3].tolist()\n    [25, 26, 27]\n"},
    {"parallel_find_array", as_cfunction<parallel_find_array>(), kFastKw,
     "parallel_find_array($self, expr)\n--\n\n"
     "The indices at which expr holds, as an array: the same indices as parallel_find(), searched\n"
     "by the worker threads.\n\n"
     "Args:\n    expr (PyExpr): the condition.\n\n"
     "Returns:\n    PyArray: ascending sample indices, format 'Q'.\n\n"
     "Raises:\n    TypeError: expr is not a PyExpr.\n    MemoryError: the result does not fit in memory.\n\n"
     "Example:\n    >>> import numpy\n"
     "    >>> numpy.asarray(trace.parallel_find_array(trace.expr(\"counter_tb.count == 3\")))\n"
     "    array([ 8,  9, 10], dtype=uint64)\n"},
    {"timestamps", as_cfunction<timestamps>(), kFastKw,
     "timestamps($self)\n--\n\n"
     "The time of every sample, in the trace's time unit (see timescale()).\n\n"
     "Returns:\n    PyArray: one time per index 0 .. max_index(), format 'Q'; empty for a trace without\n"
     "    samples. It views the trace's own table (no copy) and keeps the trace alive.\n\n"
     "Example:\n    >>> times = trace.timestamps()\n    >>> len(times) == trace.max_index() + 1\n    True\n"},
    {"index_at", as_cfunction<index_at>(), kFastKw,
     "index_at($self, time)\n--\n\n"
     "The sample that holds at a time: the last index whose time is at most time.\n\n"
     "Args:\n    time (int): a time in the trace's unit (see timescale()).\n\n"
     "Returns:\n    int | None: the index, or None when time is before the first sample (or the trace\n"
     "    has none).\n\n"
     "Raises:\n    OverflowError: time is negative or above 2**64 - 1.\n"
     "    TypeError: time is not an integer.\n\n"
     "Example:\n    >>> trace.index_at(12000), trace.index_at(12999)\n    (3, 3)\n"},
    {"timescale", as_cfunction<timescale>(), kFastKw,
     "timescale($self)\n--\n\n"
     "The unit the trace's times count in, as the file states it.\n\n"
     "Returns:\n    tuple[int, str] | None: (magnitude, unit) with unit one of 's', 'ms', 'us', 'ns', 'ps',\n"
     "    'fs', 'as', e.g. (10, 'ns') when a time of 3 means 30 ns; None when the file states no\n"
     "    unit (VCD without $timescale, and the formats other than VCD and FST).\n\n"
     "Example:\n    >>> trace.timescale()\n    (1, 'ps')\n"},
    {"signal_runs", as_cfunction<signal_runs>(), kFastKw,
     "signal_runs($self, name)\n--\n\n"
     "A signal's values as runs: each run's first index and the value it holds until the next.\n\n"
     "Args:\n    name (str): the full signal name.\n\n"
     "Returns:\n    tuple[PyArray, PyArray | list]: (starts, values). starts is a 'Q' array of ascending\n"
     "    indices, starting at 0. values is a 'Q' array when the signal is at most 64 bits wide\n"
     "    and every run holds a two-state number, a 'd' array when every run holds a real, and\n"
     "    otherwise a list of the runs' values converted as signal_value converts them: int\n"
     "    (two-state, any width), float, str (text) or None (no value, or a value with an x or z\n"
     "    bit; to_arrow() gives such bits as text). An unknown name gives two empty arrays.\n\n"
     "Raises:\n    TypeError: name is not a str.\n\n"
     "Example:\n    >>> starts, values = trace.signal_runs(\"counter_tb.state\")\n"
     "    >>> starts[:4].tolist(), values[:4]\n    ([0, 1, 11, 19], [None, 0, 1, 2])\n"},
    {"expr", as_cfunction<python_method<kExprModule, kExprFunction>>(), kFastKw,
     "expr($self, text, scope=None)\n--\n\n"
     "Parses an expression of the `quor find` language into a PyExpr over this trace.\n\n"
     "The language: signal names, integers (42, 0x2a, 0b101010), == != < > <= >=, && || !, + -,\n"
     "& | ^, bit slices sig[7:4] and sig[3], signed(x), isx(x), isz(x), prev(x), next(x), x@-2\n"
     "and parentheses. A name is a full signal name, or with scope a name within that scope,\n"
     "resolved as the quor command resolves it.\n\n"
     "Args:\n    text (str): the expression.\n    scope (str | None): the scope short names are resolved in.\n\n"
     "Returns:\n    PyExpr: the expression, for find(), find_array(), parallel_count() and the like.\n\n"
     "Raises:\n    ValueError: a syntax error or an unknown signal; the message shows the text with a\n"
     "    caret under the offending character.\n    TypeError: text or scope is not a str.\n\n"
     "Example:\n    >>> trace.find(trace.expr(\"en && count > 10\", scope=\"counter_tb\"))[:3]\n"
     "    [25, 26, 27]\n"},
    {"to_arrow", as_cfunction<python_method<kTablesModule, kToArrow>>(), kFastKw,
     "to_arrow($self, names, start=0, end=None)\n--\n\n"
     "The values of some signals over a range of indices as a pyarrow.Table, one row per index.\n\n"
     "Columns: index (uint64), time (uint64), then one per signal, named as given. A signal's\n"
     "column type follows what the signal holds anywhere in the trace, so tables of different\n"
     "ranges share one schema: uint64 when every value is a two-state number of at most 64 bits,\n"
     "float64 for reals, string for text, and otherwise a string of the bits ('0', '1', 'x', 'z';\n"
     "wide values, values with x or z bits). A sample without a value is null.\n\n"
     "Args:\n    names (list[str]): full signal names.\n    start (int): the first index.\n"
     "    end (int | None): one past the last index; None or past the end means to the last sample.\n\n"
     "Returns:\n    pyarrow.Table\n\n"
     "Raises:\n    KeyError: a name is not a signal of the trace.\n"
     "    ImportError: pyarrow is not installed (pip install quor[arrow]).\n"
     "    OverflowError: start or end is negative.\n    TypeError: names is a str, or holds something else.\n\n"
     "Example:\n    >>> trace.to_arrow([\"counter_tb.count\"], 3, 6).to_pylist()[0]\n"
     "    {'index': 3, 'time': 12000, 'counter_tb.count': 0}\n"},
    {"to_pandas", as_cfunction<python_method<kTablesModule, kToPandas>>(), kFastKw,
     "to_pandas($self, names, start=0, end=None)\n--\n\n"
     "The table of to_arrow() as a pandas.DataFrame. index and time are uint64 columns; a signal's\n"
     "column uses pandas' nullable types (UInt64, Float64, string), so a sample without a value is\n"
     "<NA>, never confused with a number or NaN.\n\n"
     "Args:\n    names (list[str]): full signal names.\n    start (int): the first index.\n"
     "    end (int | None): one past the last index; None means to the last sample.\n\n"
     "Returns:\n    pandas.DataFrame\n\n"
     "Raises:\n    KeyError: a name is not a signal of the trace.\n"
     "    ImportError: pandas or pyarrow is not installed (pip install quor[pandas]).\n"
     "    OverflowError: start or end is negative.\n\n"
     "Example:\n    >>> df = trace.to_pandas([\"counter_tb.count\", \"counter_tb.en\"])\n"
     "    >>> df[df[\"counter_tb.count\"] > 10].head(1)\n"},
    {nullptr, nullptr, 0, nullptr},
};

namespace {

// The kinds _runs reports: the ValueKind codes, and one more for a four-state value whose bits
// are all x, which tables treat as no value (as the VCD reader treats a scalar x).
constexpr uint8_t kAllX = 6;

bool all_x(const qs::ValueRef& v) {
    const auto& bits = v.heap().as_four_state().bits;
    return !bits.empty() && std::all_of(bits.begin(), bits.end(), [](uint8_t b) { return b == qs::kBitX; });
}

// A signal declared wider than 64 bits reports its numbers as wide, also the small ones, so that
// all its values land in one column of a table.
uint8_t reported_kind(const SignalRuns& runs, size_t k, uint32_t width) {
    const qs::ValueKind kind = runs.kind(k);
    if (kind == qs::ValueKind::FourState && all_x(runs.value(k))) return kAllX;
    if (kind == qs::ValueKind::Uint && width > 64) return static_cast<uint8_t>(qs::ValueKind::Wide);
    return static_cast<uint8_t>(kind);
}

// The kinds the signal holds anywhere in the trace, as bits 1 << reported kind.
unsigned long kinds_anywhere(const Trace& trace, uint32_t id, uint32_t width) {
    const SignalRuns whole(trace, id, 0, trace.timestamps().size());
    if (width <= 64 && whole.all(qs::ValueKind::Uint)) return whole.count() ? 1UL : 0UL;
    unsigned long kinds = 0;
    for (size_t k = 0; k < whole.count(); ++k) kinds |= 1UL << reported_kind(whole, k, width);
    return kinds;
}

// The text a run gets in the texts list: the text of a Text value, the bits of a number or a
// four-state value, the repr of a real; nullptr with no error set for no value.
PyObject* run_text(const qs::ValueRef& v, uint32_t width) {
    switch (v.kind()) {
        case qs::ValueKind::Text: return py_text(v.heap().as_text());
        case qs::ValueKind::Real: {
            PyRef number(PyFloat_FromDouble(v.as_real()));
            return number ? PyObject_Repr(number.get()) : nullptr;
        }
        case qs::ValueKind::Unknown: return nullptr;
        default: return py_text(*qs::bit_text(v, width));
    }
}

// _runs(trace, name, start, end, all_texts): the raw runs of a signal over [start, end), for the
// table and export code of the package.
PyObject* raw_runs(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[5];
    std::string_view name;
    uint64_t start = 0;
    uint64_t end = 0;
    if (!parse_args("_runs", args, nargs, kwnames, {"trace", "name", "start", "end", "all_texts"}, a)) return nullptr;
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (!PyObject_TypeCheck(a[0], state->trace_type)) {
        PyErr_Format(PyExc_TypeError, "argument 'trace': '%s' object cannot be converted to 'PyTrace'",
                     Py_TYPE(a[0])->tp_name);
        return nullptr;
    }
    if (!arg_str(a[1], "name", name) || !arg_u64(a[2], "start", start) || !arg_u64(a[3], "end", end)) return nullptr;
    const int all_texts = PyObject_IsTrue(a[4]);
    if (all_texts < 0) return nullptr;
    const Trace& trace = trace_of(a[0]);
    const auto id = trace.signal_id(name);
    if (!id) Py_RETURN_NONE;
    const uint32_t width = trace.signal_width(name);
    SignalRuns runs(trace, *id, start, end);

    PyRef kinds(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(runs.count())));
    if (!kinds) return nullptr;
    char* kind_bytes = PyBytes_AS_STRING(kinds.get());
    PyRef texts(PyList_New(0));
    if (!texts) return nullptr;
    for (size_t k = 0; k < runs.count(); ++k) {
        const uint8_t kind = reported_kind(runs, k, width);
        kind_bytes[k] = static_cast<char>(kind);
        const bool has_text = kind == static_cast<uint8_t>(qs::ValueKind::Text) ||
                              kind == static_cast<uint8_t>(qs::ValueKind::Wide) ||
                              kind == static_cast<uint8_t>(qs::ValueKind::FourState) || kind == kAllX;
        if (!all_texts && !has_text) continue;
        PyRef text(run_text(runs.value(k), width));
        if (!text) {
            if (PyErr_Occurred()) return nullptr;
            text = PyRef((Py_INCREF(Py_None), Py_None));
        }
        if (PyList_Append(texts.get(), text.get()) < 0) return nullptr;
    }
    PyRef payloads(array_from(Py_TYPE(a[0]), runs.payloads()));
    if (!payloads) return nullptr;
    PyRef starts(array_from(Py_TYPE(a[0]), std::move(runs.starts)));
    if (!starts) return nullptr;
    return Py_BuildValue("(OOOOkI)", starts.get(), kinds.get(), payloads.get(), texts.get(),
                         kinds_anywhere(trace, *id, width), width);
}

// _change_rows(trace, names, first, max_rows): the runs of names[first], names[first + 1], ...
// joined, up to the signal that brings them to max_rows or more: a row group of the export.
PyObject* change_rows(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[4];
    uint64_t first = 0;
    uint64_t max_rows = 0;
    if (!parse_args("_change_rows", args, nargs, kwnames, {"trace", "names", "first", "max_rows"}, a)) return nullptr;
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (!PyObject_TypeCheck(a[0], state->trace_type)) {
        PyErr_Format(PyExc_TypeError, "argument 'trace': '%s' object cannot be converted to 'PyTrace'",
                     Py_TYPE(a[0])->tp_name);
        return nullptr;
    }
    if (!PyList_Check(a[1])) {
        PyErr_Format(PyExc_TypeError, "argument 'names': '%s' object is not a list", Py_TYPE(a[1])->tp_name);
        return nullptr;
    }
    if (!arg_u64(a[2], "first", first) || !arg_u64(a[3], "max_rows", max_rows)) return nullptr;
    PyObject* names = a[1];  // read one name at a time: a batch takes few of a long list
    const Trace& trace = trace_of(a[0]);
    const uint64_t samples = trace.timestamps().size();
    PodBuffer<uint64_t> signal_of_row, starts, payloads;
    std::string kinds;
    PyRef texts(PyList_New(0));
    if (!texts) return nullptr;
    uint64_t next = first;
    for (; next < static_cast<uint64_t>(PyList_GET_SIZE(names)) && starts.size() < std::max<uint64_t>(max_rows, 1);
         ++next) {
        std::string_view name;
        if (!arg_str(PyList_GET_ITEM(names, static_cast<Py_ssize_t>(next)), "names", name)) return nullptr;
        const auto id = trace.signal_id(name);
        if (!id) continue;
        const uint32_t width = trace.signal_width(name);
        SignalRuns runs(trace, *id, 0, samples);
        const PodBuffer<uint64_t> words = runs.payloads();
        payloads.append(words.data(), words.size());
        starts.append(runs.starts.data(), runs.starts.size());
        for (size_t k = 0; k < runs.count(); ++k) {
            signal_of_row.push_back(next - first);
            const uint8_t kind = reported_kind(runs, k, width);
            kinds.push_back(static_cast<char>(kind));
            if (kind == static_cast<uint8_t>(qs::ValueKind::Uint) || kind == static_cast<uint8_t>(qs::ValueKind::Real) ||
                kind == static_cast<uint8_t>(qs::ValueKind::Unknown)) {
                continue;
            }
            PyRef text(run_text(runs.value(k), width));
            if (!text || PyList_Append(texts.get(), text.get()) < 0) return nullptr;
        }
    }
    PyRef kind_bytes(PyBytes_FromStringAndSize(kinds.data(), static_cast<Py_ssize_t>(kinds.size())));
    if (!kind_bytes) return nullptr;
    PyRef rows_signal(array_from(Py_TYPE(a[0]), std::move(signal_of_row)));
    if (!rows_signal) return nullptr;
    PyRef rows_start(array_from(Py_TYPE(a[0]), std::move(starts)));
    if (!rows_start) return nullptr;
    PyRef rows_payload(array_from(Py_TYPE(a[0]), std::move(payloads)));
    if (!rows_payload) return nullptr;
    return Py_BuildValue("(KOOOOO)", static_cast<unsigned long long>(next), rows_signal.get(), rows_start.get(),
                         kind_bytes.get(), rows_payload.get(), texts.get());
}

}  // namespace

PyMethodDef module_functions[] = {
    {"_array_from_bytes", as_cfunction<array_from_bytes>(), kFastKw,
     "_array_from_bytes(typecode, data)\n--\n\n"
     "A new PyArray of format typecode ('Q' or 'd') holding a copy of the 8-byte items of the\n"
     "bytes-like data, in the machine's byte order: how pickled arrays are loaded.\n\n"
     "Raises:\n    ValueError: typecode is neither 'Q' nor 'd', or data's length is not a multiple of 8.\n"},
    {"_change_rows", as_cfunction<change_rows>(), kFastKw,
     "_change_rows(trace, names, first, max_rows)\n--\n\n"
     "The runs of names[first], names[first + 1], ... joined, up to the signal that brings them\n"
     "to max_rows or more, for the export: (next, signals, starts, kinds, payloads, texts).\n"
     "next is the position of the first name not taken; signals a 'Q' array of each row's name\n"
     "position minus first; starts, kinds, payloads and texts as _runs gives them (unknown names\n"
     "give no rows).\n"},
    {"_runs", as_cfunction<raw_runs>(), kFastKw,
     "_runs(trace, name, start, end, all_texts)\n--\n\n"
     "The runs of a signal over [start, end), for the package's table and export code: None for\n"
     "an unknown name, else (starts, kinds, payloads, texts, kinds_anywhere, width).\n\n"
     "starts: a 'Q' array of each run's first index (the first clipped to start).\n"
     "kinds: bytes, a kind per run: 0 a two-state number of a signal at most 64 bits wide, 1 one\n"
     "of a wider signal, 2 a value with x or z bits, 3 a real, 4 text, 5 no value, 6 a value\n"
     "whose bits are all x.\n"
     "payloads: a 'Q' array: the number of a kind 0 run, the bits of a real, else 0.\n"
     "texts: the text (kind 4) or the bits (kinds 1, 2, 6) of those runs, in order; with\n"
     "all_texts, one entry per run: also the bits of numbers, the repr of reals and None.\n"
     "kinds_anywhere: the kinds of the whole signal, as bits 1 << kind.\n"
     "width: the declared width.\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
