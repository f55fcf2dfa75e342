#pragma once
// Scope navigation over the hierarchical names of a trace: elements joined by '.', an escaped
// identifier one element however many dots it holds (util/name_path.hpp).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace/trace.hpp"

namespace quor_core::eval {

// The full name of short within scope: scope.short when it exists, else the first signal that
// is short or ends with "." and the elements of short, with or without its trailing bit range,
// and begins with scope (a plain byte prefix).
std::optional<std::string> resolve(const trace::Trace& trace, std::string_view scope, std::string_view short_name);
// The direct child scopes of scope, first-seen order, each once; the empty scope is the top.
std::vector<std::string> local_scopes(const trace::Trace& trace, std::string_view scope);
// The signals directly in scope, in the trace's order.
std::vector<std::string> local_signals(const trace::Trace& trace, std::string_view scope);

}  // namespace quor_core::eval
