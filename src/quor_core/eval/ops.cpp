#include "eval/ops.hpp"

#include <algorithm>

namespace quor_core::eval {

using signal::ValueKind;

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

}  // namespace

bool has_x_bit(const ValueRef& v) { return v.is_unknown() || four_state_has(v, signal::kBitX); }

bool has_z_bit(const ValueRef& v) { return four_state_has(v, signal::kBitZ); }

bool values_equal(const ValueRef& a, const ValueRef& b) {
    if (a.kind() == ValueKind::Uint && b.kind() == ValueKind::Uint) return a.as_uint() == b.as_uint();
    if (identical(a, b)) return true;
    const auto x = a.to_u64();
    if (!x) return false;
    const auto y = b.to_u64();
    return y && *x == *y;
}

ValueRef apply_unary(const Expr& node, const ValueRef& child) {
    switch (node.kind) {
        case ExprKind::Not: return bool_value(!child.truthy());
        case ExprKind::IsX: return bool_value(has_x_bit(child));
        case ExprKind::IsZ: return bool_value(has_z_bit(child));
        case ExprKind::Slice:
        case ExprKind::Signed: {
            const auto v = child.to_u64();
            if (!v) return ValueRef();
            return ValueRef::of_uint(node.kind == ExprKind::Slice ? bit_slice(*v, node.high, node.low) : *v);
        }
        default: return ValueRef();
    }
}

ValueRef apply_binary(ExprKind kind, const ValueRef& left, const ValueRef& right) {
    switch (kind) {
        case ExprKind::And: return bool_value(left.truthy() && right.truthy());
        case ExprKind::Or: return bool_value(left.truthy() || right.truthy());
        case ExprKind::Eq: return bool_value(values_equal(left, right));
        case ExprKind::Neq: return bool_value(!values_equal(left, right));
        default: break;
    }
    const auto a = left.to_u64();
    const auto b = right.to_u64();
    if (!a || !b) return ValueRef();
    switch (kind) {
        case ExprKind::Gt: return bool_value(*a > *b);
        case ExprKind::Lt: return bool_value(*a < *b);
        case ExprKind::Gte: return bool_value(*a >= *b);
        case ExprKind::Lte: return bool_value(*a <= *b);
        case ExprKind::Add: return ValueRef::of_uint(*a + *b);
        case ExprKind::Sub: return ValueRef::of_uint(*a - *b);
        case ExprKind::BitAnd: return ValueRef::of_uint(*a & *b);
        case ExprKind::BitOr: return ValueRef::of_uint(*a | *b);
        case ExprKind::BitXor: return ValueRef::of_uint(*a ^ *b);
        default: return ValueRef();
    }
}

}  // namespace quor_core::eval
