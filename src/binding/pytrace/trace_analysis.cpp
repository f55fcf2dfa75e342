// PyTrace methods that evaluate expressions, search the trace, navigate scopes and compute
// statistics.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "args.hpp"
#include "convert.hpp"
#include "gil.hpp"
#include "eval/compiled.hpp"
#include "eval/evaluator.hpp"
#include "query/find.hpp"
#include "names/names.hpp"
#include "eval/ops.hpp"
#include "query/scope.hpp"
#include "query/stats.hpp"
#include "index_list.hpp"
#include "docstrings.hpp"
#include "method_tables.hpp"
#include "module_state.hpp"
#include "py_ref.hpp"

namespace quor_binding {

namespace {

namespace qe = quor_core::eval;
using quor_core::eval::Expr;
using quor_core::trace::Trace;

const Trace& trace_of(PyObject* self) { return *reinterpret_cast<PyTraceObject*>(self)->trace; }

PyObject* py_str(const std::string& s) {
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
}

PyObject* string_list(const std::vector<std::string>& names) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(names.size())));
    if (!list) return nullptr;
    for (size_t i = 0; i < names.size(); ++i) {
        PyObject* s = py_str(names[i]);
        if (!s) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
    }
    return list.release();
}

// Keeps the cyclic garbage collector off for a scope, restoring its previous state.
class GcPause {
public:
    GcPause() : was_enabled_(PyGC_Disable() == 1) {}
    ~GcPause() {
        if (was_enabled_) PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

private:
    bool was_enabled_;
};

// Parses the single argument expr.
const Expr* expr_only(const char* function, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
    PyObject* a[1];
    if (!parse_args(function, args, nargs, kwnames, {"expr"}, a)) return nullptr;
    return expr_arg(Py_TYPE(self), a[0], "expr");
}

// Parses the single str argument param.
bool str_only(const char* function, const char* param, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
              std::string_view& out) {
    PyObject* a[1];
    return parse_args(function, args, nargs, kwnames, {param}, a) && arg_str(a[0], param, out);
}

// Parses expr and the optional limit (None: every match).
const Expr* expr_and_limit(const char* function, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, std::optional<uint64_t>& limit) {
    PyObject* a[2];
    if (!parse_args(function, args, nargs, kwnames, {"expr", "limit"}, a, 1)) return nullptr;
    const Expr* e = expr_arg(Py_TYPE(self), a[0], "expr");
    if (!e || !arg_limit(a[1], "limit", limit)) return nullptr;
    return e;
}

// Takes pieces of a search's result into a list, at most limit indices; stops the search once
// it has them, so a limited search neither searches nor keeps more than it returns.
class LimitedIndexList {
public:
    explicit LimitedIndexList(std::optional<uint64_t> limit) : left_(limit) {}
    bool take(std::span<const uint64_t> piece) {
        if (left_ && piece.size() > *left_) piece = piece.first(*left_);
        if (!out_.append(piece)) return false;  // making an int failed: its error is set
        if (!left_) return true;
        *left_ -= piece.size();
        return *left_ > 0;
    }
    bool full() const { return left_ && *left_ == 0; }
    PyObject* finish() { return out_.finish(); }

private:
    IndexListBuilder out_;
    std::optional<uint64_t> left_;
};

template <bool Parallel>
PyObject* find_indices(const char* function, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
    std::optional<uint64_t> limit;
    const Expr* e = expr_and_limit(function, self, args, nargs, kwnames, limit);
    if (!e) return nullptr;
    LimitedIndexList out(limit);
    if (out.full()) return out.finish();
    // Between pieces the signal handlers run, so Ctrl-C stops a long search.
    bool interrupted = false;  // a handler raised: its error is set
    const auto take = [&](std::span<const uint64_t> piece) {
        if (!out.take(piece)) return false;
        interrupted = PyErr_CheckSignals() != 0;
        return !interrupted;
    };
    bool complete = false;
    if constexpr (Parallel) {
        // The workers search while this thread makes the ints of the pieces already searched,
        // taking the interpreter lock back for each piece.
        GilReleased gil;
        complete = qe::parallel_find_pieces(trace_of(self), *e, [&](std::span<const uint64_t> piece) {
            const GilReleased::Held held(gil);
            return take(piece);
        });
    } else {
        complete = qe::find_pieces(trace_of(self), *e, take);
    }
    if (interrupted || (!complete && !out.full())) return nullptr;  // its error is set
    return out.finish();
}

PyObject* find(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return find_indices<false>("PyTrace.find", self, args, nargs, kwnames);
}

PyObject* parallel_find(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return find_indices<true>("PyTrace.parallel_find", self, args, nargs, kwnames);
}

PyObject* parallel_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Expr* e = expr_only("PyTrace.parallel_count", self, args, nargs, kwnames);
    if (!e) return nullptr;
    uint64_t count = 0;
    {
        GilReleased gil;
        const quor_core::util::Interrupt interrupt = gil.interrupt();
        count = qe::parallel_count(trace_of(self), *e, interrupt);
    }
    return PyLong_FromUnsignedLongLong(count);
}

bool expr_index(const char* function, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                const Expr*& e, uint64_t& index) {
    PyObject* a[2];
    if (!parse_args(function, args, nargs, kwnames, {"expr", "index"}, a)) return false;
    e = expr_arg(Py_TYPE(self), a[0], "expr");
    return e && arg_u64(a[1], "index", index);
}

PyObject* eval_expr(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Expr* e = nullptr;
    uint64_t index = 0;
    if (!expr_index("PyTrace.eval_expr", self, args, nargs, kwnames, e, index)) return nullptr;
    const quor_core::signal::SignalValue v = qe::eval(trace_of(self), *e, index);
    // A signed expression's number is its two's-complement reading.
    if (v.kind() == quor_core::signal::ValueKind::Uint && qe::reads_signed(*e)) {
        return PyLong_FromLongLong(static_cast<long long>(static_cast<int64_t>(v.as_uint())));
    }
    if (v.kind() == quor_core::signal::ValueKind::Wide && qe::reads_signed(*e)) {
        return signed_number_to_python(v.as_wide().words);
    }
    return to_python(v);
}

PyObject* eval_expr_bool(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Expr* e = nullptr;
    uint64_t index = 0;
    if (!expr_index("PyTrace.eval_expr_bool", self, args, nargs, kwnames, e, index)) return nullptr;
    return PyBool_FromLong(qe::eval_bool(trace_of(self), *e, index));
}

PyObject* find_with_values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2];
    std::vector<std::string> names;
    if (!parse_args("PyTrace.find_with_values", args, nargs, kwnames, {"expr", "signal_names"}, a)) return nullptr;
    const Expr* e = expr_arg(Py_TYPE(self), a[0], "expr");
    if (!e || !arg_str_list(a[1], "signal_names", names)) return nullptr;
    const Trace& trace = trace_of(self);
    // Names resolve once; a name without an id reads as None, like a column without values.
    std::vector<const quor_core::signal::Column*> columns;
    columns.reserve(names.size());
    for (const auto& n : names) {
        const auto id = trace.signal_id(n);
        columns.push_back(id ? trace.store().column(*id) : nullptr);
    }
    const qe::CompiledExpr compiled(trace, *e);
    std::vector<uint64_t> indices;
    compiled.find(0, trace.max_index(), indices);
    // The rows are a million small containers that form no cycles; letting the collector run
    // while they are made would scan all of them again and again.
    const GcPause pause;
    PyRef rows(PyList_New(static_cast<Py_ssize_t>(indices.size())));
    if (!rows) return nullptr;
    for (size_t r = 0; r < indices.size(); ++r) {
        PyRef values(PyList_New(static_cast<Py_ssize_t>(columns.size())));
        if (!values) return nullptr;
        for (size_t k = 0; k < columns.size(); ++k) {
            const auto v = columns[k] ? columns[k]->at(indices[r]) : quor_core::signal::ValueRef();
            PyObject* obj = to_python(v);
            if (!obj) return nullptr;
            PyList_SET_ITEM(values.get(), static_cast<Py_ssize_t>(k), obj);
        }
        PyRef index(PyLong_FromUnsignedLongLong(indices[r]));
        if (!index) return nullptr;
        PyObject* row = PyTuple_New(2);
        if (!row) return nullptr;
        PyTuple_SET_ITEM(row, 0, index.release());
        PyTuple_SET_ITEM(row, 1, values.release());
        PyList_SET_ITEM(rows.get(), static_cast<Py_ssize_t>(r), row);
    }
    return rows.release();
}

PyObject* transitions(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::string_view name;
    if (!str_only("PyTrace.transitions", "name", args, nargs, kwnames, name)) return nullptr;
    const auto records = qe::transitions(trace_of(self), name);
    PyRef list(PyList_New(static_cast<Py_ssize_t>(records.size())));
    if (!list) return nullptr;
    for (size_t i = 0; i < records.size(); ++i) {
        PyRef index(PyLong_FromUnsignedLongLong(records[i].index));
        PyRef old_value(to_python(records[i].old_value));
        PyRef new_value(to_python(records[i].new_value));
        if (!index || !old_value || !new_value) return nullptr;
        PyObject* t = PyTuple_Pack(3, index.get(), old_value.get(), new_value.get());
        if (!t) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), t);
    }
    return list.release();
}

PyObject* change_list(const std::vector<qe::Change>& changes) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(changes.size())));
    if (!list) return nullptr;
    for (size_t i = 0; i < changes.size(); ++i) {
        PyRef name(py_str(changes[i].name));
        PyRef old_value(to_python(changes[i].old_value));
        PyRef new_value(to_python(changes[i].new_value));
        if (!name || !old_value || !new_value) return nullptr;
        PyObject* t = PyTuple_Pack(3, name.get(), old_value.get(), new_value.get());
        if (!t) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), t);
    }
    return list.release();
}

PyObject* changed_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    uint64_t index = 0;
    if (!parse_args("PyTrace.changed_at", args, nargs, kwnames, {"index"}, a) || !arg_u64(a[0], "index", index)) {
        return nullptr;
    }
    std::vector<qe::Change> changes;
    {
        const GilReleased gil;  // the search runs on the pool
        changes = qe::changed_at(trace_of(self), index);
    }
    return change_list(changes);
}

PyObject* changed_at_scope(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2];
    uint64_t index = 0;
    std::string_view scope;
    if (!parse_args("PyTrace.changed_at_scope", args, nargs, kwnames, {"index", "scope"}, a) ||
        !arg_u64(a[0], "index", index) || !arg_str(a[1], "scope", scope)) {
        return nullptr;
    }
    std::vector<qe::Change> changes;
    {
        const GilReleased gil;  // the search runs on the pool
        changes = qe::changed_at_scope(trace_of(self), index, scope);
    }
    return change_list(changes);
}

PyObject* resolve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2];
    std::string_view scope, short_name;
    if (!parse_args("PyTrace.resolve", args, nargs, kwnames, {"scope_name", "short_name"}, a) ||
        !arg_str(a[0], "scope_name", scope) || !arg_str(a[1], "short_name", short_name)) {
        return nullptr;
    }
    const auto full = qe::resolve(trace_of(self), scope, short_name);
    if (!full) Py_RETURN_NONE;
    return py_str(*full);
}

PyObject* local_scopes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::string_view scope;
    if (!str_only("PyTrace.local_scopes", "scope_name", args, nargs, kwnames, scope)) return nullptr;
    return string_list(qe::local_scopes(trace_of(self), scope));
}

PyObject* local_signals(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::string_view scope;
    if (!str_only("PyTrace.local_signals", "scope_name", args, nargs, kwnames, scope)) return nullptr;
    return string_list(qe::local_signals(trace_of(self), scope));
}

PyObject* find_signals_glob(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::string_view pattern;
    if (!str_only("PyTrace.find_signals_glob", "pattern", args, nargs, kwnames, pattern)) return nullptr;
    return string_list(qe::find_signals_glob(trace_of(self), pattern));
}

PyObject* find_signals_containing(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::string_view substring;
    if (!str_only("PyTrace.find_signals_containing", "substring", args, nargs, kwnames, substring)) return nullptr;
    return string_list(qe::find_signals_containing(trace_of(self), substring));
}

PyObject* signal_stats(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::string_view name;
    if (!str_only("PyTrace.signal_stats", "name", args, nargs, kwnames, name)) return nullptr;
    const qe::SignalStats s = qe::compute_stats(trace_of(self), name);
    PyRef min(whole_number_to_python(s.min));
    PyRef max(whole_number_to_python(s.max));
    PyRef sum(whole_number_to_python(s.sum));
    if (!min || !max || !sum) return nullptr;
    return Py_BuildValue("(OOOKKKK)", min.get(), max.get(), sum.get(), static_cast<unsigned long long>(s.count),
                         static_cast<unsigned long long>(s.transitions), static_cast<unsigned long long>(s.num_x),
                         static_cast<unsigned long long>(s.num_z));
}

PyObject* bit_slice_val(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[3];
    uint64_t val = 0, high = 0, low = 0;
    if (!parse_args("PyTrace.bit_slice_val", args, nargs, kwnames, {"val", "high", "low"}, a) ||
        !arg_u64(a[0], "val", val) || !arg_u64(a[1], "high", high) || !arg_u64(a[2], "low", low)) {
        return nullptr;
    }
    return PyLong_FromUnsignedLongLong(qe::bit_slice(val, high, low));
}

PyObject* sign_extend_val(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2];
    uint64_t val = 0, width = 0;
    if (!parse_args("PyTrace.sign_extend_val", args, nargs, kwnames, {"val", "width"}, a) ||
        !arg_u64(a[0], "val", val) || !arg_u64(a[1], "width", width)) {
        return nullptr;
    }
    return PyLong_FromLongLong(qe::sign_extend(val, width));
}

}  // namespace

PyMethodDef trace_analysis_methods[] = {
    {"find", as_cfunction<find>(), kFastKw, "find($self, expr, limit=None)\n--\n\n" QUOR_DOC_TRACE_FIND},
    {"parallel_find", as_cfunction<parallel_find>(), kFastKw,
     "parallel_find($self, expr, limit=None)\n--\n\n" QUOR_DOC_TRACE_PARALLEL_FIND},
    {"parallel_count", as_cfunction<parallel_count>(), kFastKw,
     "parallel_count($self, expr)\n--\n\n" QUOR_DOC_TRACE_PARALLEL_COUNT},
    {"eval_expr", as_cfunction<eval_expr>(), kFastKw, "eval_expr($self, expr, index)\n--\n\n" QUOR_DOC_TRACE_EVAL_EXPR},
    {"eval_expr_bool", as_cfunction<eval_expr_bool>(), kFastKw,
     "eval_expr_bool($self, expr, index)\n--\n\n" QUOR_DOC_TRACE_EVAL_EXPR_BOOL},
    {"find_with_values", as_cfunction<find_with_values>(), kFastKw,
     "find_with_values($self, expr, signal_names)\n--\n\n" QUOR_DOC_TRACE_FIND_WITH_VALUES},
    {"transitions", as_cfunction<transitions>(), kFastKw,
     "transitions($self, name)\n--\n\n" QUOR_DOC_TRACE_TRANSITIONS},
    {"changed_at", as_cfunction<changed_at>(), kFastKw,
     "changed_at($self, index)\n--\n\n" QUOR_DOC_TRACE_CHANGED_AT},
    {"changed_at_scope", as_cfunction<changed_at_scope>(), kFastKw,
     "changed_at_scope($self, index, scope)\n--\n\n" QUOR_DOC_TRACE_CHANGED_AT_SCOPE},
    {"resolve", as_cfunction<resolve>(), kFastKw,
     "resolve($self, scope_name, short_name)\n--\n\n" QUOR_DOC_TRACE_RESOLVE},
    {"local_scopes", as_cfunction<local_scopes>(), kFastKw,
     "local_scopes($self, scope_name)\n--\n\n" QUOR_DOC_TRACE_LOCAL_SCOPES},
    {"local_signals", as_cfunction<local_signals>(), kFastKw,
     "local_signals($self, scope_name)\n--\n\n" QUOR_DOC_TRACE_LOCAL_SIGNALS},
    {"find_signals_glob", as_cfunction<find_signals_glob>(), kFastKw,
     "find_signals_glob($self, pattern)\n--\n\n" QUOR_DOC_TRACE_FIND_SIGNALS_GLOB},
    {"find_signals_containing", as_cfunction<find_signals_containing>(), kFastKw,
     "find_signals_containing($self, substring)\n--\n\n" QUOR_DOC_TRACE_FIND_SIGNALS_CONTAINING},
    {"signal_stats", as_cfunction<signal_stats>(), kFastKw,
     "signal_stats($self, name)\n--\n\n" QUOR_DOC_TRACE_SIGNAL_STATS},
    {"bit_slice_val", as_cfunction<bit_slice_val>(), kFastKw,
     "bit_slice_val($self, val, high, low)\n--\n\n" QUOR_DOC_TRACE_BIT_SLICE_VAL},
    {"sign_extend_val", as_cfunction<sign_extend_val>(), kFastKw,
     "sign_extend_val($self, val, width)\n--\n\n" QUOR_DOC_TRACE_SIGN_EXTEND_VAL},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quor_binding
