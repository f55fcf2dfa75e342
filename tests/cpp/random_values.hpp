#pragma once
// Random signal values of every kind, and the comparison that treats NaN as reading like NaN,
// for the differential tests of the column builders.

#include <cmath>
#include <random>
#include <vector>

#include "signal/values/value.hpp"

namespace quor_test {

inline quor_core::signal::SignalValue random_value(std::mt19937_64& rng) {
    using quor_core::signal::SignalValue;
    namespace s = quor_core::signal;
    switch (rng() % 12) {
        case 0: return SignalValue::unknown();
        case 1: return SignalValue::four_state({s::kBitZ});
        case 2: return SignalValue::four_state({s::kBit1, s::kBitX, s::kBit0});
        case 3: return SignalValue::real(rng() % 2 ? std::nan("") : 1.5);
        case 4: return SignalValue::text(rng() % 2 ? "idle" : "run");
        case 5: return SignalValue::wide({rng() % 3, 7});
        case 6: return SignalValue::wide({1, rng() % 2});  // values that differ above bit 63 only
        case 7: {  // more words than fit the freezing's buffer on the stack, and other counts
            std::vector<uint64_t> words(rng() % 2 ? 1 + rng() % 4 : 17 + rng() % 4, 0);
            words.back() = rng() % 2;
            return SignalValue::wide(std::move(words));
        }
        default: return SignalValue::uint(rng() % 4);
    }
}

// Reads identically: same alternative and contents, NaN matching NaN.
inline bool same_reading(const quor_core::signal::SignalValue& a, const quor_core::signal::SignalValue& b) {
    using quor_core::signal::ValueKind;
    if (a.kind() == ValueKind::Real && b.kind() == ValueKind::Real && std::isnan(a.as_real())) {
        return std::isnan(b.as_real());
    }
    return a == b;
}

}  // namespace quor_test
