#include "formats/vcd/vcd_samples.hpp"

#include <array>
#include <bit>
#include <cstring>

#include "signal/values/bitpack.hpp"
#include "util/text.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

namespace quor_core::trace {

using signal::SignalValue;

namespace {

constexpr uint32_t kNoId = VcdCodeTable::kEmpty;

// Classes of the characters of a vector change, for the two-state fast path.
constexpr uint8_t kOne = 1;
constexpr uint8_t kSlow = 2;  // a nine-valued character other than 0 and 1, or a byte of a multi-byte character

constexpr std::array<uint8_t, 256> make_bit_classes() {
    std::array<uint8_t, 256> t{};
    for (size_t c = 0; c < 256; ++c) {
        const signal::BitChar k = signal::classify_bit_char(static_cast<char32_t>(c));
        if (c >= 0x80 || (k != signal::BitChar::Other && c != '0' && c != '1')) t[c] = kSlow;
    }
    t['1'] = kOne;
    return t;
}

constexpr std::array<uint8_t, 256> kBitClass = make_bit_classes();

// The nine-valued class of each byte (signal::BitChar), for the vector reader's byte-wise loop.
constexpr std::array<signal::BitChar, 256> make_logic_classes() {
    std::array<signal::BitChar, 256> t{};
    for (size_t c = 0; c < 256; ++c) t[c] = signal::classify_bit_char(static_cast<char32_t>(c));
    return t;
}

constexpr std::array<signal::BitChar, 256> kLogicClass = make_logic_classes();

constexpr uint64_t low_bits(unsigned n) { return n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1; }

constexpr uint64_t kEveryByte = 0x0101010101010101ULL;

uint64_t reverse_bits(uint64_t x) {
    x = __builtin_bswap64(x);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((x & 0x0F0F0F0F0F0F0F0FULL) << 4);
    x = ((x >> 2) & 0x3333333333333333ULL) | ((x & 0x3333333333333333ULL) << 2);
    return ((x >> 1) & 0x5555555555555555ULL) | ((x & 0x5555555555555555ULL) << 1);
}

// The leading '0'/'1' characters of the next 16 bytes (8 without SSE2): how many there are, and
// a mask with bit i set where character i is '1'.
struct BitRun {
    unsigned count;
    uint64_t ones;
};

#if defined(__SSE2__)
constexpr unsigned kBitsPerStep = 16;

// The leading '0'/'1' characters of the next 64 bytes, read at once: how many there are (64 when
// all are), and their value, the first character most significant. No branch depends on the
// count, which varies from line to line. One policy per instruction set: the caller's code is
// compiled once for each (see VcdSampleParser::feed).
struct DigitRun {
    unsigned count;
    uint64_t value;
};

struct Sse2Digits {
    [[gnu::always_inline]] static DigitRun leading_64(const char* p) {
        uint64_t ones = 0;
        uint64_t digits = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
            const __m128i is_one = _mm_cmpeq_epi8(v, _mm_set1_epi8('1'));
            // '0' and '1' are the only bytes that become '1' with their lowest bit set.
            const __m128i is_digit = _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(1)), _mm_set1_epi8('1'));
            ones |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(is_one))) << (16 * k);
            digits |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(is_digit))) << (16 * k);
        }
        const unsigned count = digits == UINT64_MAX ? 64 : static_cast<unsigned>(std::countr_zero(~digits));
        // Bit i of ones is character i; reversed, the count leading characters are the top bits.
        const uint64_t value = count == 0 ? 0 : reverse_bits(ones) >> (64 - count);
        return {count, value};
    }
};

struct Avx2Digits {
    // The 32 bytes at p, last first.
    __attribute__((target("avx2"))) static __m256i load_reversed(const char* p) {
        const __m256i within_lanes = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0,  //
                                                      15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
        const __m256i v = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), within_lanes);
        return _mm256_permute4x64_epi64(v, 0x4E);  // swaps the two lanes
    }
    __attribute__((target("avx2"))) static uint64_t mask(__m256i m) {
        return static_cast<uint32_t>(_mm256_movemask_epi8(m));
    }
    __attribute__((target("avx2"))) static DigitRun leading_64(const char* p) {
        // Read last character first, so bit 63 - i of each mask is character i.
        const __m256i low = load_reversed(p + 32);
        const __m256i high = load_reversed(p);
        const __m256i one = _mm256_set1_epi8('1');
        const __m256i lowest_bit = _mm256_set1_epi8(1);
        const uint64_t ones = mask(_mm256_cmpeq_epi8(low, one)) | mask(_mm256_cmpeq_epi8(high, one)) << 32;
        const uint64_t digits = mask(_mm256_cmpeq_epi8(_mm256_or_si256(low, lowest_bit), one)) |
                                mask(_mm256_cmpeq_epi8(_mm256_or_si256(high, lowest_bit), one)) << 32;
        const unsigned count = digits == UINT64_MAX ? 64 : static_cast<unsigned>(std::countl_zero(~digits));
        const uint64_t value = count == 0 ? 0 : ones >> (64 - count);
        return {count, value};
    }
};

BitRun leading_bits(const char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto ones = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('1'))));
    const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('0'))));
    const auto count = static_cast<unsigned>(std::countr_zero(~(ones | zeros)));
    return {count, ones};
}
#else
constexpr unsigned kBitsPerStep = 8;

BitRun leading_bits(const char* p) {
    uint64_t w = 0;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    // A byte is '0' or '1' exactly when it differs from '0' in its lowest bit at most.
    const uint64_t other = (w ^ (0x30 * kEveryByte)) & (0xFE * kEveryByte);
    const unsigned count = other == 0 ? 8 : static_cast<unsigned>(std::countr_zero(other)) / 8;
    // Byte i's low bit moves to bit i.
    const uint64_t ones = ((w & kEveryByte) * 0x0102040810204080ULL) >> 56;
    return {count, ones};
}
#endif

}  // namespace

VcdSampleParser::VcdSampleParser(const VcdCodeTable& codes, const VcdWidths& widths, VcdHeader* header,
                                 std::shared_ptr<signal::ColumnBuilder::SharedBlocks> blocks)
    : codes_(&codes),
      widths_(&widths),
      header_(header),
      builder_(signal::FillRule::CarryThenSet, std::move(blocks)),
      recording_(header == nullptr) {}

void VcdSampleParser::expect_bytes(uint64_t bytes) {
    builder_.reserve(static_cast<size_t>(std::min<uint64_t>(bytes / 16, uint64_t{1} << 28)));
}

void VcdSampleParser::expect_ids(uint32_t ids, uint32_t staging_from) {
    builder_.expect_ids(ids);
    const bool staging = ids >= staging_from;
    builder_.stage_changes(staging);
    keyed_ = staging && !codes_->triple_table().empty();
    if (keyed_) builder_.stage_keys(codes_->triple_table());
}

[[gnu::always_inline]] inline const char* VcdSampleParser::stage_by_key(const char* p, const char* end,
                                                                        uint64_t value) {
    if (end - p < 4 || p[3] != '\n' || !recording()) return nullptr;
    const unsigned c0 = static_cast<unsigned char>(p[0]) - 0x21u;
    const unsigned c1 = static_cast<unsigned char>(p[1]) - 0x21u;
    const unsigned c2 = static_cast<unsigned char>(p[2]) - 0x21u;
    if (c0 >= 94 || c1 >= 94 || c2 >= 94) return nullptr;
    builder_.set_uint_keyed(static_cast<uint32_t>(VcdCodeTable::triple_slot(c0, c1, c2)), samples_, value);
    return p + 4;
}

// Reads an identifier code that runs to the line feed; every byte must be printable ASCII other
// than space, so the code needs no trimming. Gives the start of the next line (nullptr when the
// code does not have that form) and the id (kNoId for a code nobody declared).
[[gnu::always_inline]] inline VcdSampleParser::CodeRead VcdSampleParser::read_code(const char* p, const char* end,
                                                                                   const uint32_t* pairs) const {
    // Codes of one or two characters, nearly all codes there are: the line's first two bytes
    // index the code table directly. Anything else (a longer code, a code nobody declared, a
    // carriage return) is left to the general reader.
    if (end - p >= 3) {
        const bool two = p[1] != '\n';
        if (p[1 + two] == '\n') {
            const uint32_t id = VcdCodeTable::find_pair(pairs, p[0], p[1]);
            if (id != kNoId) return {p + 2 + two, id};
        }
    }
    return read_other_code(p, end);
}

VcdSampleParser::CodeRead VcdSampleParser::read_other_code(const char* p, const char* end) const {
    // Codes of three characters: find the line feed in one word and index the table without a loop.
    if (end - p >= 8) {
        uint64_t w = 0;
        std::memcpy(&w, p, 8);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        const uint64_t x = w ^ (0x0A * kEveryByte);
        // The lowest marked byte is the first line feed (marks above it may be false).
        const uint64_t feeds = (x - kEveryByte) & ~x & (0x80 * kEveryByte);
        const unsigned n = feeds ? static_cast<unsigned>(std::countr_zero(feeds)) / 8 : 8;
        if (n == 3) {
            const unsigned c0 = static_cast<unsigned char>(p[0]) - 0x21u;
            const unsigned c1 = static_cast<unsigned char>(p[1]) - 0x21u;
            const unsigned c2 = static_cast<unsigned char>(p[2]) - 0x21u;
            if (c0 < 94 && c1 < 94 && c2 < 94) return {p + 4, codes_->find_triple(c0, c1, c2)};
            return {nullptr, kNoId};
        }
        // Four to seven characters: the word up to the line feed is the code's packed key.
        if (n >= 4 && n < 8) {
            const uint64_t used = (uint64_t{1} << (8 * n)) - 1;  // the code's bytes
            const uint64_t key = w & used;
            // Every byte of the key printable: none above '~' (0x7E; adding one reaches the top
            // bit, a carry only from a byte already marked) and none below '!' (0x21).
            const uint64_t tops = 0x80 * kEveryByte;
            const uint64_t above = ((key + kEveryByte) | key) & tops;
            const uint64_t below = ~((key | tops) - 0x21 * kEveryByte) & tops;
            if (((above | below) & used) == 0) {
                return {p + n + 1, codes_->find_packed(key)};
            }
            return {nullptr, kNoId};
        }
    }
    const char* q = p;
    while (q < end && *q != '\n') {
        if (static_cast<unsigned char>(*q - 0x21) > 0x7E - 0x21) return {nullptr, kNoId};
        ++q;
    }
    if (q == end || q == p) return {nullptr, kNoId};
    const auto found = codes_->find(std::string_view(p, static_cast<size_t>(q - p)));
    return {q + 1, found ? *found : kNoId};
}

template <typename Digits>
[[gnu::always_inline]] inline const char* VcdSampleParser::read_common_line(const char* p, const char* end,
                                                                             const uint32_t* pairs,
                                                                             const uint32_t* widths) {
    const char first = *p;
    if (first == '0' || first == '1') {
        if (keyed_) {
            if (const char* next = stage_by_key(p + 1, end, static_cast<uint64_t>(first - '0'))) return next;
        }
        const auto [next, id] = read_code(p + 1, end, pairs);
        if (next && id != kNoId && recording()) {
            builder_.set_uint_ascending(id, samples_, static_cast<uint64_t>(first - '0'));
        }
        return next;
    }
    if (first == 'b') {
        const char* q = p + 1;
        unsigned width = 0;
        uint64_t value = 0;
#if defined(__SSE2__)
        if (end - q > 64) {  // 64 characters, and the one after them, can be read
            const DigitRun run = Digits::leading_64(q);
            if (run.count == 64 && static_cast<unsigned char>(q[64] - '0') <= 1) {
                return read_wide_vector<Digits>(p, end, pairs, run.value);
            }
            width = run.count;
            value = run.value;
            q += run.count;
        } else
#endif
        {
            // Bits are gathered first character lowest, then reversed once.
            uint64_t reversed = 0;
            for (;;) {
                if (end - q < static_cast<std::ptrdiff_t>(kBitsPerStep)) return nullptr;
                const BitRun run = leading_bits(q);
                if (run.count == 0) break;
                if (width + run.count > 64) return nullptr;
                reversed |= (run.ones & ((uint64_t{1} << run.count) - 1)) << width;
                width += run.count;
                q += run.count;
                if (run.count < kBitsPerStep) break;
            }
            if (width > 0) value = reverse_bits(reversed) >> (64 - width);
        }
        if (width == 0 || *q != ' ') return read_logic_vector(p, end);
        // Without signals wider than 64 bits, the value is the same whatever the signal.
        if (keyed_ && widths == nullptr) {
            if (const char* next = stage_by_key(q + 1, end, value)) return next;
        }
        const auto [next, id] = read_code(q + 1, end, pairs);
        if (next && id != kNoId && recording()) {
            // Signals of 65 bits up to the widest extended take Wide values.
            if (widths != nullptr && VcdWidths::wide(widths[id])) [[unlikely]] {
                set_two_state(id, value, widths[id]);
            } else {
                builder_.set_uint_ascending(id, samples_, value);
            }
        }
        return next;
    }
    if (first == 'x' || first == 'X' || first == 'z' || first == 'Z') {
        const auto [next, id] = read_code(p + 1, end, codes_->pairs_table());
        if (next && id != kNoId && recording()) {
            if (first == 'x' || first == 'X') {
                builder_.set(id, samples_, SignalValue::unknown());
            } else {
                builder_.set_four_state(id, samples_, 1, 1, 1);  // z
            }
        }
        return next;
    }
    if (first == '#') {
        const char* q = p + 1;
        uint64_t time = 0;
        if (end - q >= 8) {
            // Up to eight digits at once: the number of leading digits, then their value.
            uint64_t w = 0;
            std::memcpy(&w, q, 8);
            if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
            const uint64_t t = w ^ (0x30 * kEveryByte);  // a digit byte becomes 0..9
            // Marks bytes above 9; a carry only reaches bytes past the first mark.
            const uint64_t other = (t & (0xF0 * kEveryByte)) | ((t + 0x06 * kEveryByte) & (0x10 * kEveryByte));
            const unsigned n = other ? static_cast<unsigned>(std::countr_zero(other)) / 8 : 8;
            if (n > 0) {
                // The first digit in the lowest byte; shifted up, the missing digits are leading zeros.
                uint64_t v = n == 8 ? t : t << (8 * (8 - n));
                v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
                v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
                v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFULL;
                time = v;
                q += n;
            }
        }
        while (q < end && static_cast<unsigned char>(*q - '0') <= 9 && q - p <= 19) time = time * 10 + static_cast<uint64_t>(*q++ - '0');
        if (q == end || *q != '\n' || q == p + 1) return nullptr;
        add_time(time);
        return q + 1;
    }
    return nullptr;
}

#if defined(__SSE2__)
template <typename Digits>
[[gnu::always_inline]] inline const char* VcdSampleParser::read_wide_vector(const char* p, const char* end,
                                                                             const uint32_t* pairs, uint64_t first) {
    // Vectors of 65 to 128 bits, the common wide ones, are read here without a loop.
    const char* q = p + 1 + 64;
    if (end - q <= 64) return nullptr;  // near the end of the text: the general reader takes it
    const DigitRun second = Digits::leading_64(q);  // at least one character: the caller saw a digit
    if (second.count == 64 && static_cast<unsigned char>(q[64] - '0') <= 1) return read_long_vector<Digits>(p, end, pairs);
    q += second.count;
    if (*q != ' ') return nullptr;  // x, z or anything else: the general reader
    const auto [next, id] = read_code(q + 1, end, pairs);
    if (next && id != kNoId && recording()) {
        const unsigned r = second.count;
        const uint64_t words[2] = {r == 64 ? second.value : second.value | first << r, r == 64 ? first : first >> (64 - r)};
        const size_t declared_words = signal::words_for_bits(declared_width(id));
        if (declared_words <= 2) {
            builder_.set_wide(id, samples_, words);
        } else {
            words_.assign(declared_words, 0);
            std::copy(std::begin(words), std::end(words), words_.begin());
            builder_.set_wide(id, samples_, words_);
        }
    }
    return next;
}

template <typename Digits>
const char* VcdSampleParser::read_long_vector(const char* p, const char* end, const uint32_t* pairs) {
    const char* q = p + 1;
    chunks_.clear();
    uint64_t count = 0;
    for (;;) {
        if (end - q <= 64) return nullptr;  // near the end of the text: the general reader takes it
        const DigitRun run = Digits::leading_64(q);
        if (run.count == 0) break;
        chunks_.push_back(run.value);
        count += run.count;
        q += run.count;
        if (run.count < 64) break;
    }
    if (*q != ' ') return nullptr;  // x, z or anything else: the general reader
    const auto [next, id] = read_code(q + 1, end, pairs);
    if (next && id != kNoId && recording()) {
        signal::words_from_chunks(chunks_, count, words_);
        const size_t declared_words = signal::words_for_bits(declared_width(id));
        if (words_.size() < declared_words) words_.resize(declared_words, 0);
        builder_.set_wide(id, samples_, words_);
    }
    return next;
}
#endif

// A vector line "b<bits> <code>" whose bits are characters of nine-valued logic, at most 64 of
// them: they are read as bit planes. nullptr when the line has any other form (left to the
// general reader).
const char* VcdSampleParser::read_logic_vector(const char* p, const char* end) {
    const char* q = p + 1;
    unsigned width = 0;
    // Bit i for character i: low set for 1 and z, high set for x and z.
    uint64_t low = 0;
    uint64_t high = 0;
#if defined(__SSE2__)
    if (end - q > 64) {  // 64 characters, and the one after them, can be read
        uint64_t ones = 0, xs = 0, zs = 0, bits = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16 * k));
            const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));  // letters to lower case
            const auto is = [&](__m128i in, char c) { return _mm_cmpeq_epi8(in, _mm_set1_epi8(c)); };
            const __m128i one = _mm_or_si128(is(v, '1'), is(lower, 'h'));
            const __m128i zero = _mm_or_si128(is(v, '0'), is(lower, 'l'));
            const __m128i x = _mm_or_si128(_mm_or_si128(is(lower, 'x'), is(lower, 'u')), _mm_or_si128(is(lower, 'w'), is(v, '-')));
            const __m128i z = is(lower, 'z');
            const __m128i bit = _mm_or_si128(_mm_or_si128(one, zero), _mm_or_si128(x, z));
            const auto mask = [](__m128i m) { return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))); };
            ones |= mask(one) << (16 * k);
            xs |= mask(x) << (16 * k);
            zs |= mask(z) << (16 * k);
            bits |= mask(bit) << (16 * k);
        }
        width = bits == UINT64_MAX ? 64 : static_cast<unsigned>(std::countr_zero(~bits));
        const uint64_t keep = low_bits(width);
        low = (ones | zs) & keep;
        high = (xs | zs) & keep;
        q += width;
    } else
#endif
    {
        for (; q < end; ++q) {
            const signal::BitChar c = kLogicClass[static_cast<unsigned char>(*q)];
            if (c == signal::BitChar::Other) break;
            if (width == 64) return nullptr;  // more than 64 bits
            const uint64_t bit = uint64_t{1} << width++;
            if (c == signal::BitChar::One || c == signal::BitChar::Z) low |= bit;
            if (c == signal::BitChar::X || c == signal::BitChar::Z) high |= bit;
        }
    }
    if (width == 0 || q == end || *q != ' ') return nullptr;
    const auto [next, id] = read_code(q + 1, end, codes_->pairs_table());
    if (next && id != kNoId && recording()) {
        const uint32_t declared = declared_width(id);
        if (high == 0) {
            set_two_state(id, reverse_bits(low) >> (64 - width), declared);
        } else {
            set_four_state(id, width, low, high, declared, std::string_view(p + 1, width));
        }
    }
    return next;
}

void VcdSampleParser::set_two_state(uint32_t id, uint64_t value, uint32_t declared) {
    if (declared <= 64) return builder_.set_uint(id, samples_, value);
    words_.assign(signal::words_for_bits(declared), 0);
    words_[0] = value;
    builder_.set_wide(id, samples_, words_);
}

void VcdSampleParser::set_four_state(uint32_t id, unsigned width, uint64_t low, uint64_t high, uint32_t declared,
                                     std::string_view text) {
    if (declared <= width) return builder_.set_four_state(id, samples_, width, low, high);
    if (declared > 64) return builder_.set(id, samples_, signal::parse_binary_str(text, declared));
    // The first character's X or Z repeats on the left; anything else is extended with 0.
    const unsigned pad = declared - width;
    const uint64_t fill = low_bits(pad);
    const bool first_high = high & 1;
    const bool first_z = first_high && (low & 1);
    builder_.set_four_state(id, samples_, declared, low << pad | (first_z ? fill : 0), high << pad | (first_high ? fill : 0));
}

template <typename Digits>
[[gnu::always_inline]] inline void VcdSampleParser::feed_with(std::string_view block, bool ascii) {
    const char* p = block.data();
    const char* const end = p + block.size();
    const uint32_t* const pairs = codes_->pairs_table();
    const uint32_t* widths = wide_lookup();
    while (p < end) {
        if (const char* next = read_common_line<Digits>(p, end, pairs, widths)) {
            p = next;
            continue;
        }
        const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p));
        const char* line_end = nl ? static_cast<const char*>(nl) : end;
        const std::string_view line(p, static_cast<size_t>(line_end - p));
        p = nl ? line_end + 1 : end;
        if (!ascii && !util::is_valid_utf8(line)) continue;
        handle_line(line);
        widths = wide_lookup();  // a declaration may have changed them
    }
}

#if defined(__SSE2__)
__attribute__((target("avx2"))) void VcdSampleParser::feed_avx2(std::string_view block, bool ascii) {
    feed_with<Avx2Digits>(block, ascii);
}

void VcdSampleParser::feed(std::string_view block, bool ascii) {
    // The whole reading loop is compiled for each instruction set, so the vector reads inline.
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && !baseline_only_) return feed_avx2(block, ascii);
    feed_with<Sse2Digits>(block, ascii);
}
#else
void VcdSampleParser::feed(std::string_view block, bool ascii) { feed_with<void>(block, ascii); }
#endif

void VcdSampleParser::handle_line(std::string_view raw) {
    const std::string_view line = trim_vcd_line(raw);
    if (line.empty()) return;
    const char first = line[0];
    if (first == '$') {
        if (header_) {
            header_->handle_keyword(line);
        } else if (is_declaration(line)) {
            saw_declaration_ = true;
        }
        return;
    }
    if (first == '#') {
        add_time(util::parse_u64(util::trim(line.substr(1))).value_or(0));
        return;
    }
    if (!recording()) return;
    switch (first) {
        case '0':
        case '1':
            if (const auto id = codes_->find(line.substr(1))) builder_.set_uint(*id, samples_, first == '1' ? 1 : 0);
            return;
        // Scalars of nine-valued logic: L and H are a weak 0 and 1; U, W and - are unknown, as X.
        case 'l':
        case 'L':
        case 'h':
        case 'H':
            if (const auto id = codes_->find(line.substr(1))) builder_.set_uint(*id, samples_, (first | 0x20) == 'h');
            return;
        case 'x':
        case 'X':
        case 'u':
        case 'U':
        case 'w':
        case 'W':
        case '-': return set_value(line.substr(1), SignalValue::unknown());
        case 'z':
        case 'Z': return set_value(line.substr(1), SignalValue::four_state({signal::kBitZ}));
        case 'b':
        case 'B': return handle_vector(line);
        case 'r':
        case 'R': return handle_real(line);
        default: return;
    }
}

void VcdSampleParser::set_value(std::string_view code, SignalValue value) {
    if (const auto id = codes_->find(code)) builder_.set(*id, samples_, std::move(value));
}

void VcdSampleParser::handle_vector(std::string_view line) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return;
    const auto id = codes_->find(util::trim(line.substr(space + 1)));
    if (!id) return;
    // Plain two-state ASCII bit strings of up to 64 bits become integers here; anything else
    // takes the general parser.
    const uint32_t declared = declared_width(*id);
    const std::string_view bits = line.substr(1, space - 1);
    if (bits.size() <= 64 && declared <= 64) {
        uint64_t acc = 0;
        uint8_t flags = 0;
        for (const char c : bits) {
            const uint8_t f = kBitClass[static_cast<unsigned char>(c)];
            acc = (acc << 1) | (f & kOne);
            flags |= f;
        }
        if ((flags & kSlow) == 0 && !bits.empty()) return builder_.set_uint(*id, samples_, acc);
    }
    builder_.set(*id, samples_, signal::parse_binary_str(line.substr(0, space), declared));
}

void VcdSampleParser::handle_real(std::string_view line) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return;
    const auto id = codes_->find(util::trim(line.substr(space + 1)));
    if (!id) return;
    const double v = util::parse_f64(line.substr(1, space - 1)).value_or(0.0);
    builder_.set(*id, samples_, SignalValue::real(v));
}

}  // namespace quor_core::trace
