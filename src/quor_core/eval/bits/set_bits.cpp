#include "eval/bits/set_bits.hpp"

#include <bit>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quor_core::eval {

namespace {

// Words with fewer set bits than this go one index at a time: the compress steps cost about
// as much per byte of the word as one index costs.
constexpr int kFewBits = 6;

#if defined(__x86_64__)
__attribute__((target("avx512f"))) size_t write_avx512(const uint64_t* words, size_t count, uint64_t base,
                                                       uint64_t* out, const uint64_t* out_end) {
    uint64_t* dst = out;
    const __m512i lanes = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i eight = _mm512_set1_epi64(8);
    for (size_t w = 0; w < count; ++w) {
        uint64_t x = words[w];
        if (x == 0) continue;
        const uint64_t first = base + 64 * w;
        if (std::popcount(x) < kFewBits || out_end - dst < 64) {
            for (; x != 0; x &= x - 1) *dst++ = first + static_cast<uint64_t>(std::countr_zero(x));
            continue;
        }
        __m512i at = _mm512_add_epi64(_mm512_set1_epi64(static_cast<long long>(first)), lanes);
        for (int byte = 0; byte < 8; ++byte) {
            const auto mask = static_cast<__mmask8>(x >> (8 * byte));
            _mm512_storeu_si512(dst, _mm512_maskz_compress_epi64(mask, at));
            dst += std::popcount(static_cast<unsigned>(mask));
            at = _mm512_add_epi64(at, eight);
        }
    }
    return static_cast<size_t>(dst - out);
}

bool has_avx512() { return __builtin_cpu_supports("avx512f"); }
#endif

}  // namespace

size_t write_set_bit_indices_plain(const uint64_t* words, size_t count, uint64_t base, uint64_t* out) {
    uint64_t* dst = out;
    for (size_t w = 0; w < count; ++w) {
        for (uint64_t x = words[w]; x != 0; x &= x - 1) *dst++ = base + 64 * w + static_cast<uint64_t>(std::countr_zero(x));
    }
    return static_cast<size_t>(dst - out);
}

size_t write_set_bit_indices(const uint64_t* words, size_t count, uint64_t base, uint64_t* out,
                             const uint64_t* out_end) {
#if defined(__x86_64__)
    static const bool avx512 = has_avx512();
    if (avx512) return write_avx512(words, count, base, out, out_end);
#endif
    (void)out_end;
    return write_set_bit_indices_plain(words, count, base, out);
}

}  // namespace quor_core::eval
