#pragma once
// The value semantics of the expression operators, shared by the plain evaluator and the
// compiled searches. Every operator yields a Uint or Unknown, so results are plain ValueRefs.

#include <cstdint>

#include "eval/expr.hpp"
#include "signal/column.hpp"

namespace quor_core::eval {

using signal::ValueRef;

// Bits high..low of val (both inclusive); 0 when high < low. The width is computed without
// overflow, so (2^64 - 1, 0) selects the whole value; a low bound of 64 or more selects 0.
uint64_t bit_slice(uint64_t val, uint64_t high, uint64_t low);

// Copies bit width-1 into every higher bit when width is 1..63 and that bit is set.
int64_t sign_extend(uint64_t val, uint64_t width);

bool has_x_bit(const ValueRef& v);  // Unknown, or a FourState with an x bit
bool has_z_bit(const ValueRef& v);

// Identical, or else both have a numeric reading and the readings agree.
bool values_equal(const ValueRef& a, const ValueRef& b);

// Not, Slice, Signed, IsX, IsZ applied to the child's value.
ValueRef apply_unary(const Expr& node, const ValueRef& child);
// The two-operand variants, And through BitXor.
ValueRef apply_binary(ExprKind kind, const ValueRef& left, const ValueRef& right);

inline ValueRef bool_value(bool b) { return ValueRef::of_uint(b ? 1 : 0); }

}  // namespace quor_core::eval
