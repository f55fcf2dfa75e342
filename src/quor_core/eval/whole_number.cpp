#include "eval/whole_number.hpp"

#include <algorithm>
#include <cmath>

namespace quor_core::eval {

using signal::SignalValue;
using signal::ValueKind;
using signal::ValueRef;

namespace {

__extension__ typedef unsigned __int128 U128;

// The bits of a FourState value (most significant first), if every one is 0 or 1.
std::optional<std::vector<uint64_t>> pack_bits(const std::vector<uint8_t>& bits) {
    std::vector<uint64_t> words((bits.size() + 63) / 64, 0);
    const size_t n = bits.size();
    for (size_t k = 0; k < n; ++k) {
        const uint8_t b = bits[n - 1 - k];  // bit k counted from the least significant end
        if (b > signal::kBit1) return std::nullopt;
        words[k / 64] |= uint64_t{b} << (k % 64);
    }
    return words;
}

}  // namespace

WholeNumber::WholeNumber(std::vector<uint64_t> words) : owned_(std::move(words)) {
    significant_ = trimmed(owned_).size();
}

std::optional<WholeNumber> WholeNumber::of(const ValueRef& v) {
    switch (v.kind()) {
        case ValueKind::Uint: return WholeNumber(v.as_uint());
        case ValueKind::Wide: {
            const std::span<const uint64_t> w = v.wide_words();
            if (w.empty()) return std::nullopt;
            if (trimmed(w).size() <= 1) return WholeNumber(w[0]);
            return WholeNumber(w);
        }
        case ValueKind::FourState: {
            auto words = pack_bits(v.heap().as_four_state().bits);
            if (!words) return std::nullopt;
            if (trimmed(*words).size() <= 1) return WholeNumber(words->empty() ? 0 : (*words)[0]);
            return WholeNumber(std::move(*words));
        }
        default: {
            const auto r = v.to_u64();
            if (!r) return std::nullopt;
            return WholeNumber(*r);
        }
    }
}

int compare_words(std::span<const uint64_t> a, std::span<const uint64_t> b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t k = a.size(); k-- > 0;) {
        if (a[k] != b[k]) return a[k] < b[k] ? -1 : 1;
    }
    return 0;
}

std::optional<SignedNumber> SignedNumber::of(const ValueRef& v, bool twos_complement) {
    if (twos_complement && v.kind() == ValueKind::Uint) {
        const uint64_t u = v.as_uint();
        const bool negative = u >> 63 != 0;
        return SignedNumber(negative, WholeNumber(negative ? uint64_t{0} - u : u));
    }
    if (twos_complement && v.kind() == ValueKind::Wide) {
        const std::span<const uint64_t> w = v.wide_words();
        if (w.empty()) return std::nullopt;
        if (w.back() >> 63 == 0) return SignedNumber(false, w.size() == 1 ? WholeNumber(w[0]) : WholeNumber(w));
        // The magnitude of a negative two's complement: its words inverted, plus one.
        std::vector<uint64_t> m(w.size());
        uint64_t carry = 1;
        for (size_t k = 0; k < w.size(); ++k) {
            m[k] = ~w[k] + carry;
            carry = carry != 0 && m[k] == 0 ? 1 : 0;
        }
        return SignedNumber(true, WholeNumber(std::move(m)));
    }
    auto whole = WholeNumber::of(v);
    if (!whole) return std::nullopt;
    return SignedNumber(false, std::move(*whole));
}

int compare_signed(const SignedNumber& a, const SignedNumber& b) {
    if (a.negative() != b.negative()) return a.negative() ? -1 : 1;
    const int c = compare_words(a.magnitude(), b.magnitude());
    return a.negative() ? -c : c;
}

ValueRef sign_extend_wide(const ValueRef& v, uint64_t width, SignalValue& scratch) {
    const auto whole = WholeNumber::of(v);
    if (!whole) return ValueRef();
    const std::span<const uint64_t> words = whole->words();
    const uint64_t sign = width - 1;
    const bool negative = sign / 64 < words.size() && ((words[sign / 64] >> (sign % 64)) & 1U) != 0;
    std::vector<uint64_t> out;
    if (negative) {
        out.assign(words.begin(), words.begin() + static_cast<ptrdiff_t>(sign / 64 + 1));
        if (sign % 64 != 63) out.back() |= ~uint64_t{0} << (sign % 64 + 1);
    } else {
        if (words.empty() || (words.size() == 1 && words[0] >> 63 == 0)) return ValueRef::of_uint(words.empty() ? 0 : words[0]);
        out.assign(words.begin(), words.end());
        if (out.back() >> 63 != 0) out.push_back(0);
    }
    scratch = SignalValue::wide(std::move(out));
    return ValueRef::of(scratch);
}

double words_to_double(std::span<const uint64_t> words) {
    words = trimmed(words);
    if (words.empty()) return 0.0;
    // The top 128 bits decide the rounding but for ties; a lower nonzero word breaks a tie
    // upward, as a sticky bit.
    const size_t n = words.size();
    U128 top = words[n - 1];
    int shift = 0;
    if (n >= 2) {
        top = (top << 64) | words[n - 2];
        shift = 64 * static_cast<int>(n - 2);
        bool sticky = false;
        for (size_t k = 0; k + 2 < n; ++k) sticky |= words[k] != 0;
        top |= sticky ? 1 : 0;
    }
    return std::ldexp(static_cast<double>(top), shift);
}

ValueRef slice_words(std::span<const uint64_t> words, uint64_t high, uint64_t low, SignalValue& scratch) {
    const uint64_t bits = uint64_t{words.size()} * 64;
    if (high < low || low >= bits) return ValueRef::of_uint(0);
    const uint64_t top = std::min(high, bits - 1);
    const uint64_t width = top - low + 1;
    const size_t out_words = static_cast<size_t>((width + 63) / 64);
    std::vector<uint64_t> out(out_words, 0);
    for (size_t k = 0; k < out_words; ++k) {
        const uint64_t from = low + 64 * uint64_t{k};
        const size_t q = static_cast<size_t>(from / 64);
        const unsigned r = static_cast<unsigned>(from % 64);
        uint64_t w = words[q] >> r;
        if (r != 0 && q + 1 < words.size()) w |= words[q + 1] << (64 - r);
        out[k] = w;
    }
    if (width % 64 != 0) out.back() &= (uint64_t{1} << (width % 64)) - 1;
    const size_t significant = trimmed(out).size();
    if (significant <= 1) return ValueRef::of_uint(out[0]);
    out.resize(significant);
    scratch = SignalValue::wide(std::move(out));
    return ValueRef::of(scratch);
}

void WordSum::add_at(size_t position, uint64_t value) {
    for (size_t k = position; value != 0; ++k) {
        if (k >= words_.size()) words_.resize(k + 1, 0);
        const uint64_t before = words_[k];
        words_[k] = before + value;
        value = words_[k] < before ? 1 : 0;  // the carry into the next word
    }
}

void WordSum::add_product(std::span<const uint64_t> words, uint64_t times) {
    for (size_t k = 0; k < words.size(); ++k) {
        const U128 p = U128{words[k]} * times;
        add_at(k, static_cast<uint64_t>(p));
        add_at(k + 1, static_cast<uint64_t>(p >> 64));
    }
}

}  // namespace quor_core::eval
