// The class PyExpr: one immutable expression tree, built only through its builder methods.

#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

#include "args.hpp"
#include "docstrings.hpp"
#include "method_tables.hpp"
#include "module_state.hpp"
#include "py_ref.hpp"

namespace quor_binding {

namespace {

using quor_core::eval::Expr;
using quor_core::eval::ExprKind;
using quor_core::signal::SignalValue;

void expr_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<PyExprObject*>(self)->expr.~Expr();
    type->tp_free(self);
    Py_DECREF(type);
}

const Expr& expr_of(PyObject* self) { return reinterpret_cast<PyExprObject*>(self)->expr; }

// Leaf builders are bound to the class, so self is the PyExpr type itself.
PyTypeObject* class_of_static(PyObject* self) { return reinterpret_cast<PyTypeObject*>(self); }

// Wraps the tree make() builds; one over the node limit raises MemoryError saying so.
template <typename Make>
PyObject* build(PyTypeObject* type, Make&& make) {
    try {
        return wrap_expr(type, make());
    } catch (const std::length_error& e) {
        PyErr_SetString(PyExc_MemoryError, e.what());
        return nullptr;
    }
}

PyObject* signal(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    uint64_t id = 0;
    if (!parse_args("PyExpr.signal", args, nargs, kwnames, {"id"}, a) || !arg_u64(a[0], "id", id)) return nullptr;
    return wrap_expr(class_of_static(self), Expr::signal(id));
}

PyObject* const_int(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    uint64_t val = 0;
    if (!parse_args("PyExpr.const_int", args, nargs, kwnames, {"val"}, a) || !arg_u64(a[0], "val", val)) return nullptr;
    return wrap_expr(class_of_static(self), Expr::constant(SignalValue::uint(val)));
}

// The 64-bit words of a non-negative int, least significant first; false with a Python error
// set when obj is no int or is negative.
bool int_words(PyObject* obj, const char* param, std::vector<uint64_t>& words) {
    PyRef value(PyNumber_Index(obj));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;  // raised by the object's own __index__
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be interpreted as an integer", param,
                     Py_TYPE(obj)->tp_name);
        return false;
    }
    const PyRef zero(PyLong_FromLong(0));
    const int sign = zero ? PyObject_RichCompareBool(value.get(), zero.get(), Py_LT) : -1;
    if (sign < 0) return false;
    if (sign == 1) {
        PyErr_Format(PyExc_OverflowError, "argument '%s': can't convert negative int to unsigned", param);
        return false;
    }
    PyRef bits(PyObject_CallMethod(value.get(), "bit_length", nullptr));
    const size_t bit_count = bits ? PyLong_AsSize_t(bits.get()) : static_cast<size_t>(-1);
    if (bit_count == static_cast<size_t>(-1)) return false;
    const size_t word_count = std::max<size_t>(1, (bit_count + 63) / 64);
    PyRef bytes(PyObject_CallMethod(value.get(), "to_bytes", "ns", static_cast<Py_ssize_t>(word_count * 8), "little"));
    if (!bytes) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(bytes.get()));
    words.assign(word_count, 0);
    for (size_t b = 0; b < word_count * 8; ++b) words[b / 8] |= uint64_t{p[b]} << (8 * (b % 8));
    return true;
}

PyObject* const_wide(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    std::vector<uint64_t> words;
    if (!parse_args("PyExpr.const_wide", args, nargs, kwnames, {"value"}, a) || !int_words(a[0], "value", words)) {
        return nullptr;
    }
    // A value that fits 64 bits is the same constant const_int makes.
    SignalValue constant = words.size() == 1 ? SignalValue::uint(words[0]) : SignalValue::wide(std::move(words));
    return wrap_expr(class_of_static(self), Expr::constant(std::move(constant)));
}

PyObject* const_float(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    double val = 0;
    if (!parse_args("PyExpr.const_float", args, nargs, kwnames, {"val"}, a) || !arg_f64(a[0], "val", val)) return nullptr;
    return wrap_expr(class_of_static(self), Expr::constant(SignalValue::real(val)));
}

PyObject* const_str(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    std::string_view val;
    if (!parse_args("PyExpr.const_str", args, nargs, kwnames, {"val"}, a) || !arg_str(a[0], "val", val)) return nullptr;
    return wrap_expr(class_of_static(self), Expr::constant(SignalValue::text(std::string(val))));
}

PyObject* always_true(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args("PyExpr.always_true", args, nargs, kwnames, {}, nullptr)) return nullptr;
    return wrap_expr(class_of_static(self), Expr::always_true());
}

PyObject* rel_eval(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    int64_t offset = 0;
    if (!parse_args("PyExpr.rel_eval", args, nargs, kwnames, {"offset"}, a) || !arg_i64(a[0], "offset", offset)) {
        return nullptr;
    }
    return build(Py_TYPE(self), [&] { return Expr::rel_eval(expr_of(self), offset); });
}

PyObject* slice(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[2];
    uint64_t high = 0;
    uint64_t low = 0;
    if (!parse_args("PyExpr.slice", args, nargs, kwnames, {"high", "low"}, a) || !arg_u64(a[0], "high", high) ||
        !arg_u64(a[1], "low", low)) {
        return nullptr;
    }
    return build(Py_TYPE(self), [&] { return Expr::slice(expr_of(self), high, low); });
}

constexpr const char* builder_name(ExprKind k) {
    switch (k) {
        case ExprKind::Not: return "PyExpr.not_";
        case ExprKind::And: return "PyExpr.and_";
        case ExprKind::Or: return "PyExpr.or_";
        case ExprKind::Eq: return "PyExpr.eq_";
        case ExprKind::Neq: return "PyExpr.neq";
        case ExprKind::Gt: return "PyExpr.gt_";
        case ExprKind::Lt: return "PyExpr.lt_";
        case ExprKind::Gte: return "PyExpr.gte";
        case ExprKind::Lte: return "PyExpr.lte";
        case ExprKind::Add: return "PyExpr.add";
        case ExprKind::Sub: return "PyExpr.sub";
        case ExprKind::BitAnd: return "PyExpr.bit_and";
        case ExprKind::BitOr: return "PyExpr.bit_or";
        case ExprKind::BitXor: return "PyExpr.bit_xor";
        case ExprKind::Signed: return "PyExpr.signed";
        case ExprKind::IsX: return "PyExpr.is_x";
        case ExprKind::IsZ: return "PyExpr.is_z";
        default: return "PyExpr";
    }
}

template <ExprKind K>
PyObject* unary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (!parse_args(builder_name(K), args, nargs, kwnames, {}, nullptr)) return nullptr;
    return build(Py_TYPE(self), [&] { return Expr::unary(K, expr_of(self)); });
}

template <ExprKind K>
PyObject* binary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* a[1];
    if (!parse_args(builder_name(K), args, nargs, kwnames, {"other"}, a)) return nullptr;
    const Expr* other = expr_arg(Py_TYPE(self), a[0], "other");
    if (!other) return nullptr;
    return build(Py_TYPE(self), [&] { return Expr::binary(K, expr_of(self), *other); });
}

}  // namespace

#define QUOR_BINARY(name, kind, doc) \
    {name, as_cfunction<binary<ExprKind::kind>>(), kFastKw, name "($self, other)\n--\n\n" doc}

PyMethodDef expr_methods[] = {
    {"rel_eval", as_cfunction<rel_eval>(), kFastKw, "rel_eval($self, offset)\n--\n\n" QUOR_DOC_EXPR_REL_EVAL},
    {"not_", as_cfunction<unary<ExprKind::Not>>(), kFastKw, "not_($self)\n--\n\n" QUOR_DOC_EXPR_NOT},
    QUOR_BINARY("and_", And, QUOR_DOC_EXPR_AND),
    QUOR_BINARY("or_", Or, QUOR_DOC_EXPR_OR),
    QUOR_BINARY("eq_", Eq, QUOR_DOC_EXPR_EQ),
    QUOR_BINARY("neq", Neq, QUOR_DOC_EXPR_NEQ),
    QUOR_BINARY("gt_", Gt, QUOR_DOC_EXPR_GT),
    QUOR_BINARY("lt_", Lt, QUOR_DOC_EXPR_LT),
    QUOR_BINARY("gte", Gte, QUOR_DOC_EXPR_GTE),
    QUOR_BINARY("lte", Lte, QUOR_DOC_EXPR_LTE),
    QUOR_BINARY("add", Add, QUOR_DOC_EXPR_ADD),
    QUOR_BINARY("sub", Sub, QUOR_DOC_EXPR_SUB),
    QUOR_BINARY("bit_and", BitAnd, QUOR_DOC_EXPR_BIT_AND),
    QUOR_BINARY("bit_or", BitOr, QUOR_DOC_EXPR_BIT_OR),
    QUOR_BINARY("bit_xor", BitXor, QUOR_DOC_EXPR_BIT_XOR),
    {"slice", as_cfunction<slice>(), kFastKw, "slice($self, high, low)\n--\n\n" QUOR_DOC_EXPR_SLICE},
    {"signed", as_cfunction<unary<ExprKind::Signed>>(), kFastKw, "signed($self)\n--\n\n" QUOR_DOC_EXPR_SIGNED},
    {"is_x", as_cfunction<unary<ExprKind::IsX>>(), kFastKw, "is_x($self)\n--\n\n" QUOR_DOC_EXPR_IS_X},
    {"is_z", as_cfunction<unary<ExprKind::IsZ>>(), kFastKw, "is_z($self)\n--\n\n" QUOR_DOC_EXPR_IS_Z},
    {nullptr, nullptr, 0, nullptr},
};

#undef QUOR_BINARY

PyMethodDef expr_static[] = {
    {"signal", as_cfunction<signal>(), kFastKw, "signal(id)\n--\n\n" QUOR_DOC_EXPR_SIGNAL},
    {"const_int", as_cfunction<const_int>(), kFastKw, "const_int(val)\n--\n\n" QUOR_DOC_EXPR_CONST_INT},
    {"const_wide", as_cfunction<const_wide>(), kFastKw, "const_wide(value)\n--\n\n" QUOR_DOC_EXPR_CONST_WIDE},
    {"const_float", as_cfunction<const_float>(), kFastKw, "const_float(val)\n--\n\n" QUOR_DOC_EXPR_CONST_FLOAT},
    {"const_str", as_cfunction<const_str>(), kFastKw, "const_str(val)\n--\n\n" QUOR_DOC_EXPR_CONST_STR},
    {"always_true", as_cfunction<always_true>(), kFastKw, "always_true()\n--\n\n" QUOR_DOC_EXPR_ALWAYS_TRUE},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Spec* expr_type_spec() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(expr_dealloc)},
        {Py_tp_methods, expr_methods},
        {Py_tp_doc, const_cast<char*>(QUOR_DOC_EXPR)},
        {0, nullptr},
    };
    static PyType_Spec type_spec = {
        "quor._core.PyExpr",
        sizeof(PyExprObject),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    return &type_spec;
}

PyObject* wrap_expr(PyTypeObject* type, quor_core::eval::Expr expr) {
    PyObject* obj = type->tp_alloc(type, 0);
    if (!obj) return nullptr;
    new (&reinterpret_cast<PyExprObject*>(obj)->expr) quor_core::eval::Expr(std::move(expr));
    return obj;
}

const quor_core::eval::Expr* expr_arg(PyTypeObject* any_module_type, PyObject* obj, const char* param) {
    ModuleState* state = state_of(any_module_type);
    if (!state) return nullptr;
    if (!PyObject_TypeCheck(obj, state->expr_type)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be converted to 'PyExpr'", param,
                     Py_TYPE(obj)->tp_name);
        return nullptr;
    }
    return &reinterpret_cast<PyExprObject*>(obj)->expr;
}

}  // namespace quor_binding
