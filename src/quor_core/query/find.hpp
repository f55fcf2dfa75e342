#pragma once
// Searches over the indices of a trace and over its signals at one index.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "eval/expr.hpp"
#include "signal/values/value.hpp"
#include "trace/trace.hpp"
#include "util/interrupt.hpp"
#include "util/pod_buffer.hpp"

namespace quor_core::eval {

struct Transition {
    uint64_t index;
    signal::SignalValue old_value;
    signal::SignalValue new_value;
};

struct Change {
    std::string name;
    signal::SignalValue old_value;
    signal::SignalValue new_value;
};

// Indices 0..max_index() at which the expression is truthy, ascending.
std::vector<uint64_t> find(const trace::Trace& trace, const Expr& expr);
// The same list, computed on the worker pool.
std::vector<uint64_t> parallel_find(const trace::Trace& trace, const Expr& expr);

// Takes one piece of a search's result; false stops the search.
using PieceConsumer = std::function<bool(std::span<const uint64_t>)>;
// find on the calling thread, handing its result to take() stretch by stretch while the
// stretch's matches are still in cache; false when take() stopped it.
bool find_pieces(const trace::Trace& trace, const Expr& expr, const PieceConsumer& take);
// parallel_find, handing its result to take() on the calling thread piece by piece, ascending,
// each piece as soon as it and every piece before it are searched while the workers search the
// rest. When take() returns false the pieces not yet started are skipped, and the call returns
// false once no worker is searching any more; true when every piece was taken. An exception
// from take() or from a piece (a failed allocation) is rethrown, likewise only once the workers
// are done.
bool parallel_find_pieces(const trace::Trace& trace, const Expr& expr, const PieceConsumer& take);
// The number of indices find would list. Stops with util::Interrupted once the interrupt says
// so (asked every 65,536 indices of each piece).
uint64_t parallel_count(const trace::Trace& trace, const Expr& expr,
                        const util::Interrupt& interrupt = util::Interrupt::never());
// find and parallel_find into a buffer that can be handed on whole (to a Python array). Both
// stop with util::Interrupted once the interrupt says so (asked every 65,536 indices); out then
// holds part of the answer.
void find_into(const trace::Trace& trace, const Expr& expr, util::PodBuffer<uint64_t>& out,
               const util::Interrupt& interrupt = util::Interrupt::never());
void parallel_find_into(const trace::Trace& trace, const Expr& expr, util::PodBuffer<uint64_t>& out,
                        const util::Interrupt& interrupt = util::Interrupt::never());

// Every index from 1 on whose value is not identical to the one before.
std::vector<Transition> transitions(const trace::Trace& trace, std::string_view name);
// Signals whose values at index - 1 and index are not identical, in signal_names() order.
std::vector<Change> changed_at(const trace::Trace& trace, uint64_t index);
// As changed_at, for the signals inside scope (below it at any depth).
std::vector<Change> changed_at_scope(const trace::Trace& trace, uint64_t index, std::string_view scope);

}  // namespace quor_core::eval
