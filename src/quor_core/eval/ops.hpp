#pragma once
// The value semantics of the expression operators, shared by the plain evaluator and the
// compiled searches. Every operator yields a Uint or Unknown, except Signed of a Real (the real
// itself) and Slice of bits above the lowest 64 (a Wide).

#include <cstdint>

#include "eval/expr.hpp"
#include "signal/column.hpp"
#include "trace/trace.hpp"

namespace quor_core::eval {

using signal::ValueRef;

// Bits high..low of val (both inclusive); 0 when high < low. The width is computed without
// overflow, so (2^64 - 1, 0) selects the whole value; a low bound of 64 or more selects 0.
uint64_t bit_slice(uint64_t val, uint64_t high, uint64_t low);

// Copies bit width-1 into every higher bit when width is 1..63 and that bit is set.
int64_t sign_extend(uint64_t val, uint64_t width);

bool has_x_bit(const ValueRef& v);  // Unknown, or a FourState with an x bit
bool has_z_bit(const ValueRef& v);

// Whether an expression's number reads as signed: a Signed node, under any number of RelEval
// nodes. Its value is then a two's complement: a Uint a signed 64-bit number, a Wide (signed()
// of more than 64 bits) a number of all its words. Ordering comparisons with such an operand
// compare signed numbers, and the value converts to Python as a signed number.
bool reads_signed(const Expr& e);

// The width a Signed node extends its operand from: the declared width of a signal (under any
// RelEval nodes), the width of a Slice, 64 bits a word of a wide constant, else 0 (the
// operand's 64 bits as they are).
uint64_t signed_width(const trace::Trace& trace, const Expr& signed_node);

// Which operands of a comparison read as signed numbers. With a signed operand of more than 64
// bits (whole), the comparison compares the whole numbers, signed operands as signed and the
// others as unsigned; else a signed operand makes both sides signed 64-bit numbers.
struct Signs {
    bool left = false;
    bool right = false;
    bool whole = false;
};
Signs operand_signs(const Expr& node);

// What an operator node needs besides its operands' values, found once per node.
struct NodeInfo {
    uint64_t extend_from = 0;  // Signed: signed_width
    Signs signs;               // comparisons: operand_signs
};
NodeInfo node_info(const trace::Trace& trace, const Expr& node);

// Identical; else, with a Real on either side, equal as floating-point numbers (NaN equals
// nothing); else, with a signed operand, equal 64-bit readings (equal numbers when signs.whole);
// else equal whole numbers.
bool values_equal(const ValueRef& a, const ValueRef& b, Signs signs = {});

// Not, Slice, Signed, IsX, IsZ applied to the child's value. A Wide result is held in scratch.
ValueRef apply_unary(const Expr& node, const NodeInfo& info, const ValueRef& child, signal::SignalValue& scratch);
// The two-operand variants, And through BitXor.
ValueRef apply_binary(ExprKind kind, const NodeInfo& info, const ValueRef& left, const ValueRef& right);

inline ValueRef bool_value(bool b) { return ValueRef::of_uint(b ? 1 : 0); }

inline bool is_ordering(ExprKind k) {
    return k == ExprKind::Gt || k == ExprKind::Lt || k == ExprKind::Gte || k == ExprKind::Lte;
}

}  // namespace quor_core::eval
