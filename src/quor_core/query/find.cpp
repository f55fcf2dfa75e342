#include "query/find.hpp"

#include <algorithm>
#include <functional>
#include <optional>

#include "eval/compiled.hpp"
#include "parallel/piece_handoff.hpp"
#include "parallel/pool.hpp"
#include "eval/runs.hpp"
#include "eval/bits/set_bits.hpp"
#include "util/name_path.hpp"

namespace quor_core::eval {

namespace {

// Pieces per worker: enough to even out pieces that differ in cost (dense against sparse
// stretches of a trace), few enough that joining them costs nothing.
constexpr uint64_t kPiecesPerWorker = 8;

// A streamed search hands over pieces of at most this many indices, so the caller starts
// converting early and never waits long for the next piece.
constexpr uint64_t kStreamPieceIndices = uint64_t{1} << 16;

// parallel_find_into writes fewer indices than this on the calling thread alone.
constexpr uint64_t kWriteAloneBelow = uint64_t{1} << 18;

struct Range {
    uint64_t first;
    uint64_t size;
};

// Piece k of n elements split into `pieces` consecutive pieces whose sizes differ by at most 1.
Range piece_range(uint64_t n, uint64_t pieces, uint64_t k) {
    return {n / pieces * k + std::min<uint64_t>(k, n % pieces), n / pieces + (k < n % pieces ? 1 : 0)};
}

// Splits the n elements 0..n-1 into consecutive pieces, runs body(first, last) for each on the
// pool and returns the pieces' results in input order.
template <typename T>
std::vector<T> on_pool(uint64_t n, const std::function<T(uint64_t, uint64_t)>& body,
                       const util::Interrupt& interrupt = util::Interrupt::never()) {
    WorkerPool& pool = WorkerPool::instance();
    const uint64_t pieces = std::max<uint64_t>(1, std::min<uint64_t>(n, pool.size() * kPiecesPerWorker));
    std::vector<T> results(pieces);
    pool.run(
        pieces,
        [&](size_t k) {
            const Range r = piece_range(n, pieces, k);
            if (r.size > 0) results[k] = body(r.first, r.first + r.size - 1);
        },
        interrupt);
    return results;
}

// Marks a piece finished when its body leaves, failed unless the body got to the end.
class FinishOnExit {
public:
    FinishOnExit(PieceHandoff& handoff, size_t k) : handoff_(handoff), k_(k) {}
    ~FinishOnExit() { handoff_.finish(k_, !completed_); }
    FinishOnExit(const FinishOnExit&) = delete;
    FinishOnExit& operator=(const FinishOnExit&) = delete;
    void completed() { completed_ = true; }

private:
    PieceHandoff& handoff_;
    size_t k_;
    bool completed_ = false;
};

// The changes at index of the signals inside scope, or of all signals when there is none.
std::vector<Change> changes_where(const trace::Trace& trace, uint64_t index, std::optional<std::string_view> scope) {
    if (index == 0) return {};
    const auto names = trace.signal_names();
    const std::function<std::vector<Change>(uint64_t, uint64_t)> body = [&](uint64_t first, uint64_t last) {
        std::vector<Change> out;
        for (uint64_t k = first; k <= last; ++k) {
            const std::string& name = names[k];
            if (scope && !util::inside_scope(name, *scope)) continue;
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

bool find_pieces(const trace::Trace& trace, const Expr& expr, const PieceConsumer& take) {
    const CompiledExpr compiled(trace, expr);
    std::vector<uint64_t> stretch;
    const uint64_t last = trace.max_index();
    for (uint64_t first = 0;; first += kStreamPieceIndices) {
        const bool at_end = last - first < kStreamPieceIndices;
        stretch.clear();
        compiled.find(first, at_end ? last : first + kStreamPieceIndices - 1, stretch);
        if (!take(stretch)) return false;
        if (at_end) return true;
    }
}

std::vector<uint64_t> parallel_find(const trace::Trace& trace, const Expr& expr) {
    std::vector<uint64_t> all;
    parallel_find_pieces(trace, expr, [&](std::span<const uint64_t> piece) {
        all.insert(all.end(), piece.begin(), piece.end());
        return true;
    });
    return all;
}

bool parallel_find_pieces(const trace::Trace& trace, const Expr& expr, const PieceConsumer& take) {
    const CompiledExpr compiled(trace, expr);
    WorkerPool& pool = WorkerPool::instance();
    const uint64_t n = trace.max_index() + 1;
    const uint64_t wanted = std::max<uint64_t>(pool.size() * kPiecesPerWorker,
                                               (n + kStreamPieceIndices - 1) / kStreamPieceIndices);
    const uint64_t pieces = std::min(n, wanted);
    std::vector<std::vector<uint64_t>> results(pieces);
    PieceHandoff handoff(pieces);
    bool taken_all = false;
    const auto search = [&](size_t k) {
        FinishOnExit finish(handoff, k);
        if (!handoff.skipping()) {
            const Range r = piece_range(n, pieces, k);
            compiled.find(r.first, r.first + r.size - 1, results[k]);
        }
        finish.completed();
    };
    const auto consume = [&] {
        try {
            for (size_t k = 0; k < pieces; ++k) {
                // A failed piece stops the search; the pool then rethrows its exception.
                if (!handoff.wait_for(k)) return handoff.stop();
                const std::vector<uint64_t> piece = std::move(results[k]);
                if (!take(piece)) return handoff.stop();
            }
            taken_all = true;
        } catch (...) {
            handoff.stop();
            throw;
        }
    };
    pool.run_alongside(pieces, search, consume);
    return taken_all;
}

void find_into(const trace::Trace& trace, const Expr& expr, util::PodBuffer<uint64_t>& out,
               const util::Interrupt& interrupt) {
    // Room for every index: only the pages written are backed, the rest goes in shrink_to_fit().
    out.try_reserve(out.size() + trace.max_index() + 1);
    const CompiledExpr compiled(trace, expr);
    const uint64_t last = trace.max_index();
    // A stretch at a time, the interrupt asked between stretches.
    for (uint64_t first = 0;; first += kStreamPieceIndices) {
        const bool at_end = last - first < kStreamPieceIndices;
        compiled.find(first, at_end ? last : first + kStreamPieceIndices - 1, out);
        if (at_end) break;
        interrupt.check();
    }
    out.shrink_to_fit();
}

// On the pool in two passes over pieces of whole 64-index words: each piece marks its matches
// in a bitmap of the trace's indices (an eighth of a byte per index) and counts them; then, with
// every piece's place in the result known, each writes its indices there. The result is written
// once, by all workers at once (fresh memory costs most here), and never copied.
void parallel_find_into(const trace::Trace& trace, const Expr& expr, util::PodBuffer<uint64_t>& out,
                        const util::Interrupt& interrupt) {
    const CompiledExpr compiled(trace, expr);
    WorkerPool& pool = WorkerPool::instance();
    const uint64_t n = trace.max_index() + 1;
    const uint64_t words = (n + 63) / 64;
    const uint64_t wanted = std::max<uint64_t>(pool.size() * kPiecesPerWorker, n / kStreamPieceIndices);
    const uint64_t pieces = std::max<uint64_t>(1, std::min(words, wanted));
    util::PodBuffer<uint64_t> marks;
    marks.resize(words);
    std::vector<uint64_t> counts(pieces);
    pool.run_sharing(pieces, [&](size_t k) {
        const Range r = piece_range(words, pieces, k);
        if (r.size == 0) return;
        std::fill_n(marks.data() + r.first, r.size, 0);
        const uint64_t last = std::min(n, (r.first + r.size) * 64) - 1;
        counts[k] = compiled.mark(r.first * 64, last, marks.data());
    }, interrupt);
    std::vector<uint64_t> offsets(pieces + 1, out.size());
    for (size_t k = 0; k < pieces; ++k) offsets[k + 1] = offsets[k] + counts[k];
    out.resize(offsets[pieces]);
    uint64_t* const all = out.data();
    const uint64_t* const room = out.data() + out.capacity();
    const auto write = [&](size_t k) {
        const Range r = piece_range(words, pieces, k);
        if (counts[k] == 0) return;
        // Up to the next piece's place, whose writer may be running: only the last has room past its end.
        const uint64_t* end = k + 1 == pieces ? room : all + offsets[k + 1];
        write_set_bit_indices(marks.data() + r.first, r.size, r.first * 64, all + offsets[k], end);
    };
    // A few matches are written sooner than workers wake up to write them.
    if (offsets[pieces] - offsets[0] < kWriteAloneBelow) {
        for (size_t k = 0; k < pieces; ++k) write(k);
    } else {
        pool.run_sharing(pieces, write, interrupt);
    }
    out.shrink_to_fit();
}

uint64_t parallel_count(const trace::Trace& trace, const Expr& expr, const util::Interrupt& interrupt) {
    const CompiledExpr compiled(trace, expr);
    // A piece is counted a stretch at a time, the interrupt asked between stretches.
    const std::function<uint64_t(uint64_t, uint64_t)> body = [&](uint64_t first, uint64_t last) {
        uint64_t count = 0;
        for (uint64_t from = first;; from += kStreamPieceIndices) {
            const bool at_end = last - from < kStreamPieceIndices;
            count += compiled.count(from, at_end ? last : from + kStreamPieceIndices - 1);
            if (at_end) return count;
            interrupt.check();
        }
    };
    uint64_t total = 0;
    for (uint64_t c : on_pool(trace.max_index() + 1, body, interrupt)) total += c;
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

std::vector<Change> changed_at(const trace::Trace& trace, uint64_t index) {
    return changes_where(trace, index, std::nullopt);
}

std::vector<Change> changed_at_scope(const trace::Trace& trace, uint64_t index, std::string_view scope) {
    return changes_where(trace, index, scope);
}

}  // namespace quor_core::eval
