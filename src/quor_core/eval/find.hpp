#pragma once
// Searches over the indices of a trace and over its signals at one index.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "eval/expr.hpp"
#include "signal/value.hpp"
#include "trace/trace.hpp"

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
uint64_t parallel_count(const trace::Trace& trace, const Expr& expr);

// Every index from 1 on whose value is not identical to the one before.
std::vector<Transition> transitions(const trace::Trace& trace, std::string_view name);
// Signals whose values at index - 1 and index are not identical, in signal_names() order.
std::vector<Change> changed_at(const trace::Trace& trace, uint64_t index);
// As changed_at, for the signals whose names begin with scope followed by '.'.
std::vector<Change> changed_at_scope(const trace::Trace& trace, uint64_t index, std::string_view scope);

}  // namespace quor_core::eval
