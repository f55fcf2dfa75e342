#pragma once
// The plain evaluator: one expression at one index, over any Trace. Iterative, so trees nested
// hundreds of thousands of levels deep evaluate without growing the thread's stack.

#include <cstdint>

#include "eval/expr.hpp"
#include "signal/values/value.hpp"
#include "trace/trace.hpp"

namespace quor_core::eval {

signal::SignalValue eval(const trace::Trace& trace, const Expr& expr, uint64_t index);
bool eval_bool(const trace::Trace& trace, const Expr& expr, uint64_t index);

}  // namespace quor_core::eval
