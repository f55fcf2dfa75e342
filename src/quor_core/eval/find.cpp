#include "eval/find.hpp"

#include <algorithm>
#include <functional>

#include "eval/compiled.hpp"
#include "eval/pool.hpp"
#include "eval/runs.hpp"

namespace quor_core::eval {

namespace {

// Pieces per worker: enough to even out pieces that differ in cost (dense against sparse
// stretches of a trace), few enough that joining them costs nothing.
constexpr uint64_t kPiecesPerWorker = 8;

// Splits the n elements 0..n-1 into consecutive pieces, runs body(first, last) for each on the
// pool and returns the pieces' results in input order.
template <typename T>
std::vector<T> on_pool(uint64_t n, const std::function<T(uint64_t, uint64_t)>& body) {
    WorkerPool& pool = WorkerPool::instance();
    const uint64_t pieces = std::max<uint64_t>(1, std::min<uint64_t>(n, pool.size() * kPiecesPerWorker));
    std::vector<T> results(pieces);
    pool.run(pieces, [&](size_t k) {
        const uint64_t first = n / pieces * k + std::min<uint64_t>(k, n % pieces);
        const uint64_t size = n / pieces + (k < n % pieces ? 1 : 0);
        if (size > 0) results[k] = body(first, first + size - 1);
    });
    return results;
}

std::vector<Change> changes_where(const trace::Trace& trace, uint64_t index, std::string_view prefix) {
    if (index == 0) return {};
    const auto names = trace.signal_names();
    const std::function<std::vector<Change>(uint64_t, uint64_t)> body = [&](uint64_t first, uint64_t last) {
        std::vector<Change> out;
        for (uint64_t k = first; k <= last; ++k) {
            const std::string& name = names[k];
            if (!std::string_view(name).starts_with(prefix)) continue;
            const auto id = trace.signal_id(name);
            if (!id) continue;
            const signal::ValueRef before = trace.value_ref(*id, index - 1);
            const signal::ValueRef now = trace.value_ref(*id, index);
            if (!identical(before, now)) out.push_back({name, before.to_value(), now.to_value()});
        }
        return out;
    };
    std::vector<Change> all;
    for (auto& piece : on_pool(names.size(), body)) {
        all.insert(all.end(), std::make_move_iterator(piece.begin()), std::make_move_iterator(piece.end()));
    }
    return all;
}

}  // namespace

std::vector<uint64_t> find(const trace::Trace& trace, const Expr& expr) {
    std::vector<uint64_t> out;
    CompiledExpr(trace, expr).find(0, trace.max_index(), out);
    return out;
}

std::vector<uint64_t> parallel_find(const trace::Trace& trace, const Expr& expr) {
    const CompiledExpr compiled(trace, expr);
    const std::function<std::vector<uint64_t>(uint64_t, uint64_t)> body = [&](uint64_t first, uint64_t last) {
        std::vector<uint64_t> out;
        compiled.find(first, last, out);
        return out;
    };
    const auto pieces = on_pool(trace.max_index() + 1, body);
    size_t total = 0;
    for (const auto& p : pieces) total += p.size();
    std::vector<uint64_t> all;
    all.reserve(total);
    for (const auto& p : pieces) all.insert(all.end(), p.begin(), p.end());
    return all;  // pieces are consecutive ascending ranges, so the joined list is sorted
}

uint64_t parallel_count(const trace::Trace& trace, const Expr& expr) {
    const CompiledExpr compiled(trace, expr);
    const std::function<uint64_t(uint64_t, uint64_t)> body = [&](uint64_t first, uint64_t last) {
        return compiled.count(first, last);
    };
    uint64_t total = 0;
    for (uint64_t c : on_pool(trace.max_index() + 1, body)) total += c;
    return total;
}

std::vector<Transition> transitions(const trace::Trace& trace, std::string_view name) {
    const auto id = trace.signal_id(name);
    if (!id) return {};
    std::vector<Transition> out;
    RunWalker runs(trace.store().column(*id), trace.max_index());
    uint64_t begin = 0, end = 0;
    signal::ValueRef v, prev;
    while (runs.next(begin, end, v)) {
        if (begin > 0 && !identical(prev, v)) out.push_back({begin, prev.to_value(), v.to_value()});
        if (is_nan_real(v)) {
            for (uint64_t k = begin + 1; k < end; ++k) out.push_back({k, v.to_value(), v.to_value()});
        }
        prev = v;
    }
    return out;
}

std::vector<Change> changed_at(const trace::Trace& trace, uint64_t index) { return changes_where(trace, index, ""); }

std::vector<Change> changed_at_scope(const trace::Trace& trace, uint64_t index, std::string_view scope) {
    std::string prefix(scope);
    prefix.push_back('.');
    return changes_where(trace, index, prefix);
}

}  // namespace quor_core::eval
