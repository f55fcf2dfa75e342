#include "eval/bits/run_expand.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quor_core::eval {

namespace {

#define QUOR_INLINE __attribute__((always_inline)) inline

// How far ahead of the payloads being compared their cache lines are asked for. The processor
// fetches a sequential stream ahead by itself only within a 4 KiB page, and a block's payloads
// are a page or less, so each block would otherwise start by waiting on memory.
constexpr size_t kPrefetchBytes = 2048;

// Asks for the lines kPrefetchBytes after the 64 payloads from p on (past the end of the
// payloads too: a prefetch never faults).
template <typename T>
QUOR_INLINE void prefetch_ahead(const T* p) {
    const char* at = reinterpret_cast<const char*>(p) + kPrefetchBytes;
    for (size_t line = 0; line < 64 * sizeof(T); line += 64) __builtin_prefetch(at + line);
}

template <typename T, typename F>
QUOR_INLINE void pack(const T* __restrict payloads, size_t count, uint64_t* __restrict flags, F f) {
    for (size_t c = 0; c < count; c += 64) {
        const size_t m = std::min<size_t>(64, count - c);
        const T* p = payloads + c;
        prefetch_ahead(p);
        uint64_t bits = 0;
        for (size_t i = 0; i < m; ++i) bits |= uint64_t{f(p[i])} << i;
        flags[c / 64] = bits;
    }
}

#if defined(__x86_64__)
// Lanes of one AVX2 register of payloads of type T (uint64_t or uint8_t): a compare per step,
// then one bit per lane. Unsigned order comes from signed compares with the top bits flipped.
template <typename T>
struct Lanes;
template <>
struct Lanes<uint64_t> {
    static constexpr size_t kCount = 4;
    __attribute__((target("avx2"))) static __m256i splat(uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
    __attribute__((target("avx2"))) static __m256i eq(__m256i a, __m256i b) { return _mm256_cmpeq_epi64(a, b); }
    __attribute__((target("avx2"))) static __m256i gt(__m256i a, __m256i b) { return _mm256_cmpgt_epi64(a, b); }
    __attribute__((target("avx2"))) static uint64_t bits(__m256i r) {
        return static_cast<uint64_t>(_mm256_movemask_pd(_mm256_castsi256_pd(r)));
    }
};
template <>
struct Lanes<uint8_t> {
    static constexpr size_t kCount = 32;
    __attribute__((target("avx2"))) static __m256i splat(uint64_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    __attribute__((target("avx2"))) static __m256i eq(__m256i a, __m256i b) { return _mm256_cmpeq_epi8(a, b); }
    __attribute__((target("avx2"))) static __m256i gt(__m256i a, __m256i b) { return _mm256_cmpgt_epi8(a, b); }
    __attribute__((target("avx2"))) static uint64_t bits(__m256i r) {
        return static_cast<uint32_t>(_mm256_movemask_epi8(r));
    }
};

template <ExprKind Kind, typename T>
__attribute__((target("avx2"))) void pack_avx2(const T* payloads, size_t count, T constant, uint64_t* flags) {
    using L = Lanes<T>;
    const __m256i top = L::splat(T{1} << (8 * sizeof(T) - 1));
    const bool ordered = Kind != ExprKind::Eq && Kind != ExprKind::Neq && Kind != ExprKind::Signal;
    const __m256i c = _mm256_xor_si256(L::splat(constant), ordered ? top : _mm256_setzero_si256());
    // Neq, Lte, Gte and "nonzero" are the complements of Eq, Gt, Lt and Eq 0.
    const bool invert = Kind == ExprKind::Neq || Kind == ExprKind::Lte || Kind == ExprKind::Gte || Kind == ExprKind::Signal;
    for (size_t base = 0; base < count; base += 64) {
        const size_t m = std::min<size_t>(64, count - base);
        const T* p = payloads + base;
        prefetch_ahead(p);
        uint64_t bits = 0;
        size_t i = 0;
        for (; i + L::kCount <= m; i += L::kCount) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            __m256i r;
            if constexpr (Kind == ExprKind::Gt || Kind == ExprKind::Lte) {
                r = L::gt(_mm256_xor_si256(v, top), c);
            } else if constexpr (Kind == ExprKind::Lt || Kind == ExprKind::Gte) {
                r = L::gt(c, _mm256_xor_si256(v, top));
            } else {
                r = L::eq(v, c);
            }
            bits |= L::bits(r) << i;
        }
        for (; i < m; ++i) {
            const T v = p[i];
            bool f = false;
            if constexpr (Kind == ExprKind::Gt || Kind == ExprKind::Lte) f = v > constant;
            else if constexpr (Kind == ExprKind::Lt || Kind == ExprKind::Gte) f = v < constant;
            else f = v == constant;
            bits |= uint64_t{f} << i;
        }
        flags[base / 64] = invert ? bits ^ low_bits(m) : bits;
    }
}
#endif

template <typename T>
void pack_flags(const T* payloads, size_t count, RunTest test, uint64_t* flags, [[maybe_unused]] bool avx2) {
    const auto c = static_cast<T>(test.constant);
#if defined(__x86_64__)
    if (avx2) {
        switch (test.kind) {
            case ExprKind::Eq: return pack_avx2<ExprKind::Eq>(payloads, count, c, flags);
            case ExprKind::Neq: return pack_avx2<ExprKind::Neq>(payloads, count, c, flags);
            case ExprKind::Gt: return pack_avx2<ExprKind::Gt>(payloads, count, c, flags);
            case ExprKind::Lt: return pack_avx2<ExprKind::Lt>(payloads, count, c, flags);
            case ExprKind::Gte: return pack_avx2<ExprKind::Gte>(payloads, count, c, flags);
            case ExprKind::Lte: return pack_avx2<ExprKind::Lte>(payloads, count, c, flags);
            default: return pack_avx2<ExprKind::Signal>(payloads, count, T{0}, flags);
        }
    }
#endif
    switch (test.kind) {
        case ExprKind::Eq: pack(payloads, count, flags, [c](T v) { return v == c; }); break;
        case ExprKind::Neq: pack(payloads, count, flags, [c](T v) { return v != c; }); break;
        case ExprKind::Gt: pack(payloads, count, flags, [c](T v) { return v > c; }); break;
        case ExprKind::Lt: pack(payloads, count, flags, [c](T v) { return v < c; }); break;
        case ExprKind::Gte: pack(payloads, count, flags, [c](T v) { return v >= c; }); break;
        case ExprKind::Lte: pack(payloads, count, flags, [c](T v) { return v <= c; }); break;
        default: pack(payloads, count, flags, [](T v) { return v != 0; }); break;
    }
}

}  // namespace

uint64_t deposit_portable(uint64_t src, uint64_t mask) {
    uint64_t out = 0;
    for (; mask != 0; mask &= mask - 1, src >>= 1) {
        out |= (src & 1U) * (mask & (~mask + 1));
    }
    return out;
}

bool avx2_available() {
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool fast_deposit_available() {
#if defined(__x86_64__)
    // Zen 1 and Zen 2 run the instruction in microcode, hundreds of cycles per call.
    return __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("pclmul") && !__builtin_cpu_is("znver1") &&
           !__builtin_cpu_is("znver2");
#else
    return false;
#endif
}

void pack_run_flags(const uint64_t* payloads, size_t count, RunTest test, uint64_t* flags, bool avx2) {
    pack_flags(payloads, count, test, flags, avx2);
}

void pack_run_flags_bytes(const uint8_t* payloads, size_t count, RunTest test, uint64_t* flags, bool avx2) {
    pack_flags(payloads, count, test, flags, avx2);
}

bool patch_unknown_runs(const uint8_t* kinds, size_t count, bool unknown, uint64_t* flags) {
    constexpr auto kUint = static_cast<uint8_t>(signal::ValueKind::Uint);
    constexpr auto kUnknown = static_cast<uint8_t>(signal::ValueKind::Unknown);
    static_assert(kUint == 0, "eight Uint kinds read as a zero word");
    for (size_t c = 0; c < count; c += 64) {
        const size_t m = std::min<size_t>(64, count - c);
        const uint8_t* k = kinds + c;
        uint64_t unknown_runs = 0;
        size_t i = 0;
        while (i < m) {
            if (i + 8 <= m) {
                uint64_t eight = 0;
                std::memcpy(&eight, k + i, sizeof eight);
                if (eight == 0) {  // the common stretch of plain numbers
                    i += 8;
                    continue;
                }
            }
            const size_t stop = std::min(m, i + 8);
            for (; i < stop; ++i) {
                if (k[i] == kUint) continue;
                if (k[i] != kUnknown) return false;
                unknown_runs |= uint64_t{1} << i;
            }
        }
        flags[c / 64] = unknown ? flags[c / 64] | unknown_runs : flags[c / 64] & ~unknown_runs;
    }
    return true;
}

namespace {

struct PortableBits {
    static uint64_t deposit(uint64_t src, uint64_t mask) { return deposit_portable(src, mask); }
    static uint64_t prefix(uint64_t x) { return prefix_xor(x); }
};

#if defined(__x86_64__)
// Not always_inline: GCC inlines these only into callers built for the same instructions, which
// expand_fast is.
struct Bmi2Bits {
    __attribute__((target("bmi2"))) static uint64_t deposit(uint64_t src, uint64_t mask) { return _pdep_u64(src, mask); }
    // A carry-less product with all ones xors every bit into all the bits above it.
    __attribute__((target("pclmul,sse2"))) static uint64_t prefix(uint64_t x) {
        const __m128i p = _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(x)), _mm_set1_epi64x(-1), 0);
        return static_cast<uint64_t>(_mm_cvtsi128_si64(p));
    }
};
#endif

// The 64 bits of words from bit pos on, for a pos whose word and the next one are readable.
QUOR_INLINE uint64_t bits_from(const uint64_t* words, uint64_t pos) {
    const uint64_t w = pos >> 6;
    const unsigned s = pos & 63;
    // Two shifts, so that s == 0 takes nothing from the next word without a branch.
    return (words[w] >> s) | ((words[w + 1] << 1) << (63 - s));
}

// Word w of the result, for a word all of whose 64 indices lie in the window: the begins are the
// run starts among its indices, run the (window-relative) run holding the index before it.
template <typename Bits>
QUOR_INLINE uint64_t spread_word(uint64_t begins, uint64_t run, const uint64_t* run_flags) {
    // Bit i of changes: whether run + 1 + i has another flag than the run before it. Only the
    // low popcount(begins) bits reach the result: those are the runs starting in this word.
    const uint64_t here = bits_from(run_flags, run);
    const uint64_t changes = here ^ bits_from(run_flags, run + 1);
    return Bits::prefix(Bits::deposit(changes, begins)) ^ (uint64_t{0} - (here & 1U));
}

// The run starts of the 64 indices from pos on, all inside the column: one word when pos is a
// multiple of 64 (Aligned), else pieces of two words, both holding some of those indices.
template <bool Aligned>
QUOR_INLINE uint64_t starts_at(const uint64_t* start_words, uint64_t pos) {
    if constexpr (Aligned) return start_words[pos >> 6];
    return bits_from(start_words, pos);
}

template <typename Bits, bool Aligned>
QUOR_INLINE void expand(const signal::RankBits& starts, uint64_t t0, size_t len, const uint64_t* run_flags,
                        uint64_t* out) {
    const uint64_t* start_words = starts.words();
    const size_t full = len / 64;  // words whose 64 indices all lie in the window
    uint64_t run = 0;              // relative to the run holding t0
    size_t w = 0;
    if (full > 0) {
        // The run holding t0 is run 0, wherever it starts.
        const uint64_t begins = starts_at<Aligned>(start_words, t0) & ~uint64_t{1};
        out[0] = spread_word<Bits>(begins, 0, run_flags);
        run = static_cast<uint64_t>(std::popcount(begins));
        // No branch per word: the word of starts and the run's flags read where they lie.
        for (w = 1; w < full; ++w) {
            const uint64_t b = starts_at<Aligned>(start_words, t0 + 64 * w);
            out[w] = spread_word<Bits>(b, run, run_flags);
            run += static_cast<uint64_t>(std::popcount(b));
        }
    }
    if (w * 64 < len) {
        // The last, partial word: starts past the window's end may lie past the column's end.
        const size_t valid = len - w * 64;
        uint64_t begins = bits_at(start_words, signal::RankBits::word_count(starts.size()), t0 + 64 * w) & low_bits(valid);
        if (w == 0) begins &= ~uint64_t{1};
        out[w] = spread_word<Bits>(begins, run, run_flags) & low_bits(valid);
    }
}

void expand_portable(const signal::RankBits& starts, uint64_t t0, size_t len, const uint64_t* run_flags,
                     uint64_t* out) {
    if (t0 % 64 == 0) return expand<PortableBits, true>(starts, t0, len, run_flags, out);
    expand<PortableBits, false>(starts, t0, len, run_flags, out);
}

#if defined(__x86_64__)
__attribute__((target("bmi2,pclmul,sse2"))) void expand_fast(const signal::RankBits& starts, uint64_t t0, size_t len,
                                                             const uint64_t* run_flags, uint64_t* out) {
    if (t0 % 64 == 0) return expand<Bmi2Bits, true>(starts, t0, len, run_flags, out);
    expand<Bmi2Bits, false>(starts, t0, len, run_flags, out);
}
#endif

}  // namespace

void expand_run_flags(const signal::RankBits& starts, uint64_t t0, size_t len, const uint64_t* run_flags,
                      uint64_t* out, [[maybe_unused]] bool fast_deposit) {
#if defined(__x86_64__)
    if (fast_deposit) return expand_fast(starts, t0, len, run_flags, out);
#endif
    expand_portable(starts, t0, len, run_flags, out);
}

void expand_run_flags(const signal::RunStarts& starts, uint64_t t0, size_t len, const uint64_t* run_flags,
                      uint64_t* out, bool fast_deposit, std::vector<uint64_t>& scratch) {
    if (!starts.is_sorted()) return expand_run_flags(starts.bits(), t0, len, run_flags, out, fast_deposit);
    // The window's words of the bit form, made from the sorted starts, plus one word after them
    // that the expansion reads: a view of them reads as the column's bits from t0 rounded down.
    const uint64_t first_word = t0 / 64;
    const size_t words = static_cast<size_t>((t0 % 64 + len + 63) / 64) + 1;
    scratch.resize(words);
    starts.copy_words(first_word, words, scratch.data());
    expand_run_flags(signal::RankBits(uint64_t{words} * 64, scratch.data()), t0 % 64, len, run_flags, out,
                     fast_deposit);
}

}  // namespace quor_core::eval
