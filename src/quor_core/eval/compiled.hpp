#pragma once
// CompiledExpr: an expression prepared once for a whole-trace search. Signal ids are resolved to
// columns, constants are viewed in place and the tree is flattened into a post-order program.
//
// Between the change points of every signal it reads (shifted by the relative offsets above it)
// and the bounds where a relative index leaves the trace, an expression's value is constant.
// A SegmentScanner therefore evaluates once per such segment and steps from segment to segment,
// following each column run by run with a cursor instead of evaluating every index. Where the
// segments are short and the signals hold two-state values, count and find evaluate whole
// blocks of indices at once instead: one bit per index when the expression only compares
// signals against constants and joins the truths (BitBlockEvaluator), else one number per index
// (BlockEvaluator).

#include <cstdint>
#include <vector>

#include "eval/bits/bit_instr.hpp"
#include "eval/expr.hpp"
#include "eval/ops.hpp"
#include "signal/column.hpp"
#include "trace/trace.hpp"
#include "util/pod_buffer.hpp"

namespace quor_core::eval {

__extension__ typedef __int128 Int128;

class CompiledExpr {
public:
    // The trace and the expression must outlive the compiled form.
    CompiledExpr(const trace::Trace& trace, const Expr& expr);

    uint64_t count(uint64_t first, uint64_t last) const;
    // Appends the matching indices of first..last (inclusive), ascending.
    void find(uint64_t first, uint64_t last, std::vector<uint64_t>& out) const;
    void find(uint64_t first, uint64_t last, util::PodBuffer<uint64_t>& out) const;
    // Sets bit i of marks (bit i in word i / 64; zero before) for each matching index i of
    // first..last and returns how many there are. It writes only words holding bits of
    // first..last, so searches of ranges split at multiples of 64 may share one bitmap.
    uint64_t mark(uint64_t first, uint64_t last, uint64_t* marks) const;

private:
    friend class SegmentScanner;
    friend class BlockEvaluator;
    friend class BitBlockEvaluator;
    template <typename Sink>
    void scan(uint64_t first, uint64_t last, Sink&& sink) const;

    // The root indices at which a node is reached with every relative target inside the trace.
    struct Reach {
        Int128 lo;
        Int128 hi;
    };
    struct Leaf {
        const signal::Column* column;  // nullptr: the id has no values
        Int128 offset;                 // total relative offset above the leaf
        Reach reach;
    };
    struct Instr {
        ExprKind kind;
        uint32_t slot;     // Signal: leaf number; RelEval: reach number
        const Expr* node;  // operator nodes: kind and Slice bounds
        signal::ValueRef constant;
        NodeInfo info;     // Signed: the width it extends from; comparisons: signed operands
    };

    std::vector<Instr> program_;
    std::vector<Leaf> leaves_;
    std::vector<Reach> reaches_;  // one per RelEval node: the reach of its child
    size_t max_stack_ = 0;        // deepest value stack the program needs
    bool blockable_ = false;      // constants are Uints and the stack is shallow: blocks may run
    std::vector<BitInstr> bit_program_;  // the program over truth values; empty when it has none
};

// Walks first..last (inclusive) of one CompiledExpr segment by segment. Each scanner has its own
// cursors, so several may run over one CompiledExpr at once on different threads.
class SegmentScanner {
public:
    SegmentScanner(const CompiledExpr& expr, uint64_t first, uint64_t last);

    // The next segment [begin, end) on which the expression has one value; false when done.
    // matched tells whether that value is truthy.
    bool next(uint64_t& begin, uint64_t& end, bool& matched);
    // Continues from pos (not before the current position).
    void seek(uint64_t pos) { pos_ = pos; }

private:
    struct Cursor {
        size_t run = 0;
        uint64_t run_end = 0;
        bool valid = false;
    };
    const CompiledExpr& expr_;
    Int128 pos_;
    Int128 stop_;  // last + 1
    std::vector<Cursor> cursors_;
    std::vector<signal::ValueRef> leaf_values_;
    std::vector<signal::ValueRef> stack_;
    std::vector<signal::SignalValue> scratch_;  // per instruction: a Wide it computed
};

}  // namespace quor_core::eval
