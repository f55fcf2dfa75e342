#pragma once
// A trace for evaluator tests: values kept both in the dense reference store (read by
// signal_value_by_id, which the plain evaluator uses) and frozen into columns (read by the
// compiled searches), so the two paths are checked against each other.

#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "eval/expr.hpp"
#include "signal/column_store.hpp"
#include "signal/store.hpp"
#include "trace/trace.hpp"

namespace quor_core::signal {

// Readable values in test failures.
inline void PrintTo(const SignalValue& v, std::ostream* os) {
    switch (v.kind()) {
        case ValueKind::Uint: *os << "Uint " << v.as_uint(); return;
        case ValueKind::Wide:
            *os << "Wide {";
            for (uint64_t w : v.as_wide().words) *os << " " << w;
            *os << " }";
            return;
        case ValueKind::FourState:
            *os << "FourState ";
            for (uint8_t b : v.as_four_state().bits) *os << "01xz"[b & 3];
            return;
        case ValueKind::Real: *os << "Real " << v.as_real(); return;
        case ValueKind::Text: *os << "Text \"" << v.as_text() << "\""; return;
        case ValueKind::Unknown: *os << "Unknown"; return;
    }
}

}  // namespace quor_core::signal

namespace eval_test {

using namespace quor_core;
using signal::SignalValue;

class DenseTrace final : public trace::Trace {
public:
    DenseTrace(std::vector<std::string> names, signal::SignalStore store, uint64_t samples)
        : names_(std::move(names)), dense_(std::move(store)), columns_(signal::ColumnStore::from_dense(dense_)) {
        for (uint64_t i = 0; i < samples; ++i) times_.push_back(10 * i);
        for (uint32_t id = 0; id < names_.size(); ++id) ids_[names_[id]] = id;
    }

    std::span<const std::string> signal_names() const override { return names_; }
    std::span<const std::string> scopes() const override { return scopes_; }
    uint64_t max_index() const override { return times_.empty() ? 0 : times_.size() - 1; }
    uint64_t timestamp(uint64_t i) const override { return i < times_.size() ? times_[i] : 0; }
    SignalValue signal_value(std::string_view name, uint64_t index) const override {
        const auto id = signal_id(name);
        return id ? dense_.get(*id, index) : SignalValue();
    }
    // The width given with set_widths, else 1.
    uint32_t signal_width(std::string_view name) const override {
        const auto id = signal_id(name);
        return id && *id < widths_.size() ? widths_[*id] : 1;
    }
    void set_widths(std::vector<uint32_t> widths) { widths_ = std::move(widths); }
    std::optional<uint32_t> signal_id(std::string_view name) const override {
        const auto it = ids_.find(std::string(name));
        if (it == ids_.end()) return std::nullopt;
        return it->second;
    }
    std::vector<SignalValue> signal_values_range(std::string_view name, uint64_t start, uint64_t end) const override {
        std::vector<SignalValue> out;
        for (uint64_t i = start; i < end; ++i) out.push_back(signal_value(name, i));
        return out;
    }
    SignalValue signal_value_by_id(uint32_t id, uint64_t index) const override { return dense_.get(id, index); }
    const signal::ColumnStore& store() const override { return columns_; }
    std::span<const uint64_t> timestamps() const override { return times_; }

    std::vector<std::string> scopes_;

private:
    std::vector<std::string> names_;
    std::unordered_map<std::string, uint32_t> ids_;
    signal::SignalStore dense_;
    signal::ColumnStore columns_;
    std::vector<uint64_t> times_;
    std::vector<uint32_t> widths_;
};

// A number that reads as small, or (now and then) as small and negative in two's complement.
inline uint64_t random_number(std::mt19937_64& rng) {
    return rng() % 6 == 0 ? uint64_t{0} - 1 - rng() % 3 : rng() % 5;
}

inline SignalValue random_value(std::mt19937_64& rng) {
    static const double kReals[] = {2.5, -0.0, 1.0, 1.5, -1.5, -3.0, HUGE_VAL, 18446744073709551616.0};
    switch (rng() % 14) {
        case 0: return SignalValue::unknown();
        case 1: return SignalValue::four_state({signal::kBit1, signal::kBitX});
        case 2: return SignalValue::four_state({signal::kBitZ, signal::kBit0});
        case 3: return SignalValue::four_state({signal::kBit1, signal::kBit0});
        case 4: return SignalValue::real(rng() % 3 == 0 ? std::nan("") : kReals[rng() % 8]);
        case 5: return SignalValue::text(rng() % 2 ? "3" : "idle");
        case 6: return SignalValue::wide({rng() % 3, rng() % 2});
        case 7: return SignalValue::wide({random_number(rng), rng() % 2, rng() % 2});
        default: return SignalValue::uint(random_number(rng));
    }
}

// Signals with runs of random length and random declared widths; some end before the last
// sample, some are absent. With two_state, every value is a small Uint, as in most real traces.
inline DenseTrace random_trace(std::mt19937_64& rng, uint32_t signals, uint64_t samples, bool two_state = false) {
    static const uint32_t kWidths[] = {1, 2, 3, 8, 63, 64, 96, 0};
    signal::SignalStore store;
    std::vector<std::string> names;
    std::vector<uint32_t> widths;
    for (uint32_t id = 0; id < signals; ++id) {
        widths.push_back(kWidths[rng() % 8]);
        names.push_back("top.s" + std::to_string(id));
        if (rng() % 8 == 0) continue;
        const uint64_t length = rng() % 6 == 0 ? rng() % (samples + 1) : samples;
        auto draw = [&] { return two_state ? SignalValue::uint(random_number(rng)) : random_value(rng); };
        const uint64_t change_every = rng() % 4 == 0 ? 1500 : 1 + rng() % 40;  // dense and sparse signals
        SignalValue v = draw();
        for (uint64_t i = 0; i < length; ++i) {
            if (rng() % change_every == 0) v = draw();
            store.set(id, i, v);
        }
    }
    DenseTrace trace(std::move(names), std::move(store), samples);
    trace.set_widths(std::move(widths));
    return trace;
}

inline eval::Expr random_expr(std::mt19937_64& rng, uint32_t signals, uint64_t samples, int depth,
                              bool two_state = false) {
    using eval::Expr;
    using eval::ExprKind;
    const unsigned pick = depth <= 0 ? rng() % 3 : rng() % 22;
    switch (pick) {
        case 0: return Expr::signal(rng() % 16 == 0 ? (uint64_t{1} << 32) + rng() % 2 : rng() % (signals + 1));
        case 1: return Expr::constant(two_state ? SignalValue::uint(random_number(rng)) : random_value(rng));
        case 2: return Expr::always_true();
        case 3: {
            static const int64_t kOffsets[] = {-2, -1, 1, 2, 3, INT64_MIN, INT64_MAX, -5, 7};
            const int64_t off = rng() % 4 == 0 ? static_cast<int64_t>(samples) : kOffsets[rng() % 9];
            return Expr::rel_eval(random_expr(rng, signals, samples, depth - 1, two_state), off);
        }
        case 4: {
            static const uint64_t kBounds[] = {0, 1, 3, 63, 64, 65, 100, 127, 128, ~uint64_t{0}};
            return Expr::slice(random_expr(rng, signals, samples, depth - 1, two_state), kBounds[rng() % 10],
                               kBounds[rng() % 10]);
        }
        case 5: case 6: case 7: case 8: {
            static const ExprKind kUnary[] = {ExprKind::Not, ExprKind::Signed, ExprKind::IsX, ExprKind::IsZ};
            return Expr::unary(kUnary[pick - 5], random_expr(rng, signals, samples, depth - 1, two_state));
        }
        default: {
            const auto kind = static_cast<ExprKind>(static_cast<unsigned>(ExprKind::And) + rng() % 13);
            return Expr::binary(kind, random_expr(rng, signals, samples, depth - 1, two_state),
                                random_expr(rng, signals, samples, depth - 1, two_state));
        }
    }
}

}  // namespace eval_test
