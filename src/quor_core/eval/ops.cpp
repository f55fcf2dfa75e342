#include "eval/ops.hpp"

#include <algorithm>
#include <limits>

#include "eval/whole_number.hpp"

namespace quor_core::eval {

using signal::ValueKind;

__extension__ typedef __int128 Int128;

uint64_t bit_slice(uint64_t val, uint64_t high, uint64_t low) {
    if (high < low) return 0;
    if (low >= 64) return 0;
    const uint64_t s = val >> low;
    // width = high - low + 1 without wrapping: high - low < 63 means width <= 63.
    if (high - low < 63) return s & ((uint64_t{1} << (high - low + 1)) - 1);
    return s;
}

int64_t sign_extend(uint64_t val, uint64_t width) {
    if (width >= 1 && width <= 63 && ((val >> (width - 1)) & 1U)) val |= ~uint64_t{0} << width;
    return static_cast<int64_t>(val);
}

namespace {

bool four_state_has(const ValueRef& v, uint8_t code) {
    if (v.kind() != ValueKind::FourState) return false;
    const auto& bits = v.heap().as_four_state().bits;
    return std::find(bits.begin(), bits.end(), code) != bits.end();
}

const Expr& below_rel_evals(const Expr& e) {
    const Expr* n = &e;
    while (n->kind == ExprKind::RelEval) n = n->left.get();
    return *n;
}

template <typename T>
bool ordered(ExprKind kind, T a, T b) {
    switch (kind) {
        case ExprKind::Gt: return a > b;
        case ExprKind::Lt: return a < b;
        case ExprKind::Gte: return a >= b;
        default: return a <= b;  // Lte
    }
}

// The number of an operand compared with a real: a Real as it is, a signed operand's signed
// reading, else the whole number.
std::optional<double> as_double(const ValueRef& v, bool is_signed) {
    if (v.kind() == ValueKind::Real) return v.as_real();
    if (is_signed && v.kind() == ValueKind::Wide) {
        const auto n = SignedNumber::of(v, true);
        if (!n) return std::nullopt;
        const double d = words_to_double(n->magnitude());
        return n->negative() ? -d : d;
    }
    if (is_signed) {
        const auto r = v.to_u64();
        if (!r) return std::nullopt;
        return static_cast<double>(static_cast<int64_t>(*r));
    }
    if (v.kind() == ValueKind::Uint) return static_cast<double>(v.as_uint());
    const auto w = WholeNumber::of(v);
    if (!w) return std::nullopt;
    return words_to_double(w->words());
}

bool any_real(const ValueRef& a, const ValueRef& b) { return a.kind() == ValueKind::Real || b.kind() == ValueKind::Real; }

// A Uint operand's number: a signed 64-bit one under a signed reading.
Int128 uint_number(const ValueRef& v, bool is_signed) {
    return is_signed ? Int128(static_cast<int64_t>(v.as_uint())) : Int128(v.as_uint());
}

// -1, 0 or 1 as a's number is below, equal to or above b's, each read as signed or not; nothing
// when either has none.
std::optional<int> compare_numbers(const ValueRef& a, const ValueRef& b, Signs signs) {
    const auto x = SignedNumber::of(a, signs.left);
    if (!x) return std::nullopt;
    const auto y = SignedNumber::of(b, signs.right);
    if (!y) return std::nullopt;
    return compare_signed(*x, *y);
}

// Gt, Lt, Gte, Lte: 1 or 0, or Unknown when an operand has no number.
ValueRef compare_order(ExprKind kind, const ValueRef& a, const ValueRef& b, Signs signs) {
    const bool is_signed = signs.left || signs.right;
    if (a.kind() == ValueKind::Uint && b.kind() == ValueKind::Uint) {
        if (signs.whole) return bool_value(ordered(kind, uint_number(a, signs.left), uint_number(b, signs.right)));
        if (is_signed) {
            return bool_value(ordered(kind, static_cast<int64_t>(a.as_uint()), static_cast<int64_t>(b.as_uint())));
        }
        return bool_value(ordered(kind, a.as_uint(), b.as_uint()));
    }
    if (any_real(a, b)) {
        const auto x = as_double(a, signs.left);
        const auto y = as_double(b, signs.right);
        if (!x || !y) return ValueRef();
        return bool_value(ordered(kind, *x, *y));  // false when either is NaN
    }
    if (signs.whole) {
        const auto c = compare_numbers(a, b, signs);
        if (!c) return ValueRef();
        return bool_value(ordered(kind, *c, 0));
    }
    if (is_signed) {
        const auto x = a.to_u64();
        const auto y = b.to_u64();
        if (!x || !y) return ValueRef();
        return bool_value(ordered(kind, static_cast<int64_t>(*x), static_cast<int64_t>(*y)));
    }
    const auto x = WholeNumber::of(a);
    const auto y = WholeNumber::of(b);
    if (!x || !y) return ValueRef();
    return bool_value(ordered(kind, compare_words(x->words(), y->words()), 0));
}

// Slice of a value other than a Uint: its whole number's bits.
ValueRef slice_of(const ValueRef& v, uint64_t high, uint64_t low, signal::SignalValue& scratch) {
    const auto w = WholeNumber::of(v);
    if (!w) return ValueRef();
    if (w->fits_u64()) return ValueRef::of_uint(bit_slice(w->words().empty() ? 0 : w->words()[0], high, low));
    return slice_words(w->words(), high, low, scratch);
}

}  // namespace

bool has_x_bit(const ValueRef& v) { return v.is_unknown() || four_state_has(v, signal::kBitX); }

bool has_z_bit(const ValueRef& v) { return four_state_has(v, signal::kBitZ); }

bool reads_signed(const Expr& e) { return below_rel_evals(e).kind == ExprKind::Signed; }

uint64_t signed_width(const trace::Trace& trace, const Expr& signed_node) {
    if (!signed_node.left) return 0;
    const Expr& operand = below_rel_evals(*signed_node.left);
    switch (operand.kind) {
        case ExprKind::Signal:
            if (operand.id > std::numeric_limits<uint32_t>::max()) return 0;
            return trace.signal_width_by_id(static_cast<uint32_t>(operand.id));
        case ExprKind::Slice:
            if (operand.high < operand.low) return 0;
            // [2^64 - 1 : 0] is one bit wider than a count can say; its top bit is never set.
            return operand.high - operand.low == std::numeric_limits<uint64_t>::max() ? operand.high - operand.low
                                                                                       : operand.high - operand.low + 1;
        case ExprKind::Const:
            return operand.value.kind() == ValueKind::Wide ? 64 * uint64_t{operand.value.as_wide().words.size()} : 0;
        default: return 0;
    }
}

Signs operand_signs(const Expr& node) {
    if (!node.left || !node.right) return {};
    return {reads_signed(*node.left), reads_signed(*node.right)};
}

NodeInfo node_info(const trace::Trace& trace, const Expr& node) {
    switch (node.kind) {
        case ExprKind::Signed: return {signed_width(trace, node), {}};
        case ExprKind::Eq:
        case ExprKind::Neq:
        case ExprKind::Gt:
        case ExprKind::Lt:
        case ExprKind::Gte:
        case ExprKind::Lte: {
            Signs signs = operand_signs(node);
            const auto wide = [&trace](const Expr& operand) {
                return signed_width(trace, below_rel_evals(operand)) > 64;
            };
            signs.whole = (signs.left && wide(*node.left)) || (signs.right && wide(*node.right));
            return {0, signs};
        }
        default: return {};
    }
}

bool values_equal(const ValueRef& a, const ValueRef& b, Signs signs) {
    if (a.kind() == ValueKind::Uint && b.kind() == ValueKind::Uint) {
        // A signed and an unsigned number with the same 64 bits differ when the top bit is set.
        return a.as_uint() == b.as_uint() && (!signs.whole || signs.left == signs.right || a.as_uint() >> 63 == 0);
    }
    if (signs.whole && !any_real(a, b)) {
        if (const auto c = compare_numbers(a, b, signs)) return *c == 0;
        return identical(a, b);  // without a number on a side: no value equals no value
    }
    if (identical(a, b)) return true;
    if (any_real(a, b)) {
        const auto x = as_double(a, signs.left);
        const auto y = as_double(b, signs.right);
        return x && y && *x == *y;
    }
    if (signs.left || signs.right) {
        const auto x = a.to_u64();
        const auto y = b.to_u64();
        return x && y && *x == *y;
    }
    const auto x = WholeNumber::of(a);
    if (!x) return false;
    const auto y = WholeNumber::of(b);
    return y && compare_words(x->words(), y->words()) == 0;
}

ValueRef apply_unary(const Expr& node, const NodeInfo& info, const ValueRef& child, signal::SignalValue& scratch) {
    switch (node.kind) {
        case ExprKind::Not: return bool_value(!child.truthy());
        case ExprKind::IsX: return bool_value(has_x_bit(child));
        case ExprKind::IsZ: return bool_value(has_z_bit(child));
        case ExprKind::Slice:
            if (child.kind() == ValueKind::Uint) return ValueRef::of_uint(bit_slice(child.as_uint(), node.high, node.low));
            return slice_of(child, node.high, node.low, scratch);
        case ExprKind::Signed: {
            if (child.kind() == ValueKind::Real) return child;  // a real is signed already
            if (info.extend_from > 64) return sign_extend_wide(child, info.extend_from, scratch);
            const auto v = child.to_u64();
            if (!v) return ValueRef();
            return ValueRef::of_uint(static_cast<uint64_t>(sign_extend(*v, info.extend_from)));
        }
        default: return ValueRef();
    }
}

ValueRef apply_binary(ExprKind kind, const NodeInfo& info, const ValueRef& left, const ValueRef& right) {
    switch (kind) {
        case ExprKind::And: return bool_value(left.truthy() && right.truthy());
        case ExprKind::Or: return bool_value(left.truthy() || right.truthy());
        case ExprKind::Eq: return bool_value(values_equal(left, right, info.signs));
        case ExprKind::Neq: return bool_value(!values_equal(left, right, info.signs));
        case ExprKind::Gt:
        case ExprKind::Lt:
        case ExprKind::Gte:
        case ExprKind::Lte: return compare_order(kind, left, right, info.signs);
        default: break;
    }
    const auto a = left.to_u64();
    const auto b = right.to_u64();
    if (!a || !b) return ValueRef();
    switch (kind) {
        case ExprKind::Add: return ValueRef::of_uint(*a + *b);
        case ExprKind::Sub: return ValueRef::of_uint(*a - *b);
        case ExprKind::BitAnd: return ValueRef::of_uint(*a & *b);
        case ExprKind::BitOr: return ValueRef::of_uint(*a | *b);
        case ExprKind::BitXor: return ValueRef::of_uint(*a ^ *b);
        default: return ValueRef();
    }
}

}  // namespace quor_core::eval
