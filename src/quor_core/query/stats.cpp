#include "query/stats.hpp"

#include <algorithm>
#include <limits>

#include "eval/runs.hpp"
#include "eval/whole_number.hpp"

namespace quor_core::eval {

using signal::ValueKind;

namespace {

std::vector<uint64_t> to_words(std::span<const uint64_t> words) {
    words = trimmed(words);
    return {words.begin(), words.end()};
}

// The smallest and largest whole number seen: plain numbers in one word each, wider ones as
// words, joined at the end.
class Extremes {
public:
    void add(uint64_t v) {
        min_ = std::min(min_, v);
        max_ = std::max(max_, v);
        any_ = true;
    }
    void add(std::span<const uint64_t> words) {
        words = trimmed(words);
        if (words.size() <= 1) return add(words.empty() ? 0 : words[0]);
        if (wide_min_.empty() || compare_words(words, wide_min_) < 0) wide_min_.assign(words.begin(), words.end());
        if (wide_max_.empty() || compare_words(words, wide_max_) > 0) wide_max_.assign(words.begin(), words.end());
    }
    std::vector<uint64_t> min() const {
        if (!any_) return wide_min_;
        return to_words(std::span(&min_, 1));  // any one-word number is below any wider one
    }
    std::vector<uint64_t> max() const {
        if (!wide_max_.empty()) return wide_max_;
        return any_ ? to_words(std::span(&max_, 1)) : std::vector<uint64_t>{};
    }

private:
    uint64_t min_ = std::numeric_limits<uint64_t>::max();
    uint64_t max_ = 0;
    bool any_ = false;
    std::vector<uint64_t> wide_min_, wide_max_;  // empty until a number above 64 bits is seen
};

}  // namespace

SignalStats compute_stats(const trace::Trace& trace, std::string_view name) {
    const auto id = trace.signal_id(name);
    if (!id) return {};
    SignalStats s;
    Extremes extremes;
    WordSum sum;
    RunWalker runs(trace.store().column(*id), trace.max_index());
    uint64_t begin = 0, end = 0;
    signal::ValueRef v, prev;
    while (runs.next(begin, end, v)) {
        const uint64_t n = end - begin;
        switch (v.kind()) {
            case ValueKind::Uint: {
                const uint64_t x = v.as_uint();
                sum.add_product(std::span(&x, 1), n);
                extremes.add(x);
                s.count += n;
                break;
            }
            case ValueKind::Wide: {
                const std::span<const uint64_t> words = v.wide_words();
                if (words.empty()) break;  // no number
                sum.add_product(words, n);
                extremes.add(words);
                s.count += n;
                break;
            }
            case ValueKind::FourState: {
                const auto& bits = v.heap().as_four_state().bits;
                s.num_x += n * static_cast<uint64_t>(std::count(bits.begin(), bits.end(), signal::kBitX));
                s.num_z += n * static_cast<uint64_t>(std::count(bits.begin(), bits.end(), signal::kBitZ));
                break;
            }
            case ValueKind::Unknown: s.num_x += n; break;
            default: break;
        }
        if (begin > 0 && !identical(prev, v)) ++s.transitions;
        if (is_nan_real(v)) s.transitions += n - 1;  // NaN is never identical to itself
        prev = v;
    }
    s.min = extremes.min();
    s.max = extremes.max();
    s.sum = to_words(sum.words());
    return s;
}

}  // namespace quor_core::eval
