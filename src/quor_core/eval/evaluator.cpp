#include "eval/evaluator.hpp"

#include <limits>
#include <vector>

#include "eval/offset.hpp"
#include "eval/ops.hpp"

namespace quor_core::eval {

using signal::SignalValue;

namespace {

struct Frame {
    const Expr* node;
    uint64_t index;
    int stage;  // how many children have been evaluated
};

bool is_binary(ExprKind k) { return k >= ExprKind::And && k <= ExprKind::BitXor; }

SignalValue leaf_value(const trace::Trace& trace, const Expr& node, uint64_t index) {
    switch (node.kind) {
        case ExprKind::Signal:
            // Ids beyond the trace's 32-bit range are unknown, never truncated onto another signal.
            if (node.id > std::numeric_limits<uint32_t>::max()) return SignalValue::unknown();
            return trace.signal_value_by_id(static_cast<uint32_t>(node.id), index);
        case ExprKind::Const: return node.value;
        default: return SignalValue::uint(1);  // AlwaysTrue
    }
}

}  // namespace

SignalValue eval(const trace::Trace& trace, const Expr& expr, uint64_t index) {
    const uint64_t max_index = trace.max_index();
    std::vector<Frame> frames{{&expr, index, 0}};
    std::vector<SignalValue> values;
    while (!frames.empty()) {
        Frame& f = frames.back();
        const Expr& node = *f.node;
        switch (node.kind) {
            case ExprKind::Signal:
            case ExprKind::Const:
            case ExprKind::AlwaysTrue:
                values.push_back(leaf_value(trace, node, f.index));
                frames.pop_back();
                break;
            case ExprKind::RelEval: {
                const auto target = shifted_index(f.index, node.offset, max_index);
                if (!target) {
                    values.push_back(SignalValue::unknown());
                    frames.pop_back();
                } else {
                    f = Frame{node.left.get(), *target, 0};  // continue with the child in place
                }
                break;
            }
            default:
                if (f.stage == 0) {
                    f.stage = 1;
                    frames.push_back({node.left.get(), f.index, 0});
                } else if (is_binary(node.kind) && f.stage == 1) {
                    f.stage = 2;
                    frames.push_back({node.right.get(), f.index, 0});
                } else if (is_binary(node.kind)) {
                    SignalValue right = std::move(values.back());
                    values.pop_back();
                    const ValueRef result = apply_binary(node.kind, node_info(trace, node), ValueRef::of(values.back()),
                                                         ValueRef::of(right));
                    values.back() = result.to_value();
                    frames.pop_back();
                } else {
                    SignalValue scratch;
                    const ValueRef result = apply_unary(node, node_info(trace, node), ValueRef::of(values.back()), scratch);
                    values.back() = result.to_value();
                    frames.pop_back();
                }
                break;
        }
    }
    return std::move(values.back());
}

bool eval_bool(const trace::Trace& trace, const Expr& expr, uint64_t index) {
    const SignalValue v = eval(trace, expr, index);
    return ValueRef::of(v).truthy();
}

}  // namespace quor_core::eval
