#include "signal/column.hpp"

#include <algorithm>
#include <bit>
#include <vector>

namespace quor_core::signal {

ValueRef ValueRef::of(const SignalValue& v) {
    switch (v.kind()) {
        case ValueKind::Uint: return of_uint(v.as_uint());
        case ValueKind::Real: return of_real(v.as_real());
        case ValueKind::Unknown: return ValueRef();
        case ValueKind::Wide: return of_wide(v.as_wide().words.data(), v.as_wide().words.size());
        default: return ValueRef(v.kind(), 0, &v);
    }
}

SignalValue ValueRef::to_value() const {
    switch (kind_) {
        case ValueKind::Uint: return SignalValue::uint(payload_);
        case ValueKind::Real: return SignalValue::real(as_real());
        case ValueKind::Unknown: return SignalValue::unknown();
        case ValueKind::Wide: return SignalValue::wide(std::vector<uint64_t>(words_, words_ + payload_));
        default: return *heap_;
    }
}

std::optional<uint64_t> ValueRef::to_u64() const {
    switch (kind_) {
        case ValueKind::Uint: return payload_;
        case ValueKind::Real: return real_to_u64(as_real());
        case ValueKind::Unknown: return std::nullopt;
        case ValueKind::Wide: return payload_ == 0 ? std::nullopt : std::optional<uint64_t>(words_[0]);
        default: return heap_->to_u64();
    }
}

bool ValueRef::truthy() const {
    switch (kind_) {
        case ValueKind::Uint: return payload_ != 0;
        case ValueKind::Real: return as_real() != 0.0;  // NaN is truthy, -0.0 is not
        case ValueKind::Unknown: return false;
        case ValueKind::Wide: {
            const auto w = wide_words();
            return std::any_of(w.begin(), w.end(), [](uint64_t x) { return x != 0; });
        }
        case ValueKind::FourState: {
            const auto& b = heap_->as_four_state().bits;
            return std::find(b.begin(), b.end(), kBit1) != b.end();
        }
        case ValueKind::Text: return !heap_->as_text().empty();
    }
    return false;
}

bool identical(const ValueRef& a, const ValueRef& b) {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
        case ValueKind::Uint: return a.payload_ == b.payload_;
        case ValueKind::Real: return a.as_real() == b.as_real();
        case ValueKind::Unknown: return true;
        case ValueKind::Wide: {
            const auto x = a.wide_words(), y = b.wide_words();
            return std::equal(x.begin(), x.end(), y.begin(), y.end());
        }
        default: return *a.heap_ == *b.heap_;
    }
}

ValueRef Column::run_value(size_t run) const {
    const ValueKind k = kinds_.empty() ? ValueKind::Uint : static_cast<ValueKind>(kinds_[run]);
    switch (k) {
        case ValueKind::Uint: return ValueRef::of_uint(run_payload(run));
        case ValueKind::Real: {
            const uint64_t bits = run_payload(run);
            double d = 0;
            std::memcpy(&d, &bits, sizeof d);
            return ValueRef::of_real(d);
        }
        case ValueKind::Unknown: return ValueRef();
        case ValueKind::Wide: return wide_value(payload_bytes_, run_payload(run));
        default: return ValueRef::of(heap_[run_payload(run)]);
    }
}

namespace {

// Stores the low W bytes of each of count payloads, little-endian, one after another.
template <unsigned W>
void narrow_payloads(const uint64_t* from, size_t count, uint8_t* to) {
    for (size_t i = 0; i < count; ++i) {
        uint64_t v = from[i];
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        std::memcpy(to + i * W, &v, W);
    }
}

template <unsigned W>
void widen_payloads(const uint8_t* from, size_t count, uint64_t* to) {
    for (size_t i = 0; i < count; ++i) {
        uint64_t v = 0;
        std::memcpy(&v, from + i * W, W);
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        to[i] = v;
    }
}

// The fewest of 1, 2, 4 or 8 bytes that hold every bit set in any payload.
unsigned payload_width_for(uint64_t any_bits) {
    if (any_bits <= 0xFF) return 1;
    if (any_bits <= 0xFFFF) return 2;
    if (any_bits <= 0xFFFFFFFF) return 4;
    return 8;
}

}  // namespace

void Column::copy_payloads(size_t first, size_t count, uint64_t* out) const {
    const uint8_t* from = payload_data(first);
    switch (payload_width_) {
        case 1: return widen_payloads<1>(from, count, out);
        case 2: return widen_payloads<2>(from, count, out);
        case 4: return widen_payloads<4>(from, count, out);
        default: return widen_payloads<8>(from, count, out);
    }
}

void ColumnWriter::convert_to_kinds() {
    kinds_.assign(payload_.size(), static_cast<uint8_t>(ValueKind::Uint));
    has_kinds_ = true;
}

void ColumnWriter::grow_to(size_t runs) {
    // Three payloads take the smallest block malloc hands out anyway.
    constexpr size_t kFirstRoom = 3;
    const size_t size = std::max({runs, payload_.size() * 2, kFirstRoom});
    payload_.resize(size);
    if (has_kinds_) kinds_.resize(size);
    if (sorted_starts_ != nullptr) {
        sorted_.resize(static_cast<size_t>(std::min<uint64_t>(size, sorted_limit_)));
        sorted_starts_ = sorted_.data();
    }
}

void ColumnWriter::grow_words(size_t needed, size_t n) {
    // A column of Wide values holds about as many as it has runs: room for all at the first.
    const size_t first = words_.empty() ? std::max(payload_.size(), runs_ + 1) * (1 + n) : 0;
    words_.resize(std::max({needed, words_.size() * 2, first}));
}

uint64_t* ColumnWriter::allocate_words(size_t n, std::shared_ptr<const void>& owner, bool from_arena) const {
    if (arena_ && from_arena) {
        owner = arena_;
        return static_cast<uint64_t*>(arena_->allocate(n * sizeof(uint64_t)));
    }
    auto words = std::make_shared_for_overwrite<uint64_t[]>(std::max<size_t>(n, 1));
    uint64_t* p = words.get();
    owner = std::move(words);
    return p;
}

// A second run: its start and those after it are kept sorted while they are few enough.
void ColumnWriter::make_starts() {
    if (sorted_limit_ < 2) return make_bits();
    sorted_.resize(static_cast<size_t>(std::min<uint64_t>(payload_.size(), sorted_limit_)));
    sorted_starts_ = sorted_.data();
}

void ColumnWriter::sorted_to_bits() {
    make_bits();
    for (size_t run = 1; run < runs_; ++run) starts_[sorted_starts_[run] >> 6] |= uint64_t{1} << (sorted_starts_[run] & 63);
    sorted_starts_ = nullptr;
    sorted_ = {};
}

// The bits come first, then room for their directory, filled when the column is finished.
void ColumnWriter::make_bits() {
    const size_t words = RankBits::word_count(length_);
    starts_ = allocate_words(RankBits::array_words(length_), starts_memory_, true);
    std::memset(starts_, 0, words * sizeof(uint64_t));
    starts_[0] |= 1;  // the first run
}

bool ColumnWriter::prepare_inline(ValueKind kind, uint64_t payload) {
    if (kind != ValueKind::Uint && !has_kinds_) convert_to_kinds();
    if (runs_ == payload_.size()) grow_to(runs_ + 1);
    if (runs_ == 0) {
        payload_[0] = payload;
        if (has_kinds_) kinds_[0] = static_cast<uint8_t>(kind);
        runs_ = 1;
        last_kind_ = kind;
        return true;
    }
    if (payload == payload_[runs_ - 1] && kind == last_kind_) return true;  // extends the last run
    ready_starts();
    return false;
}

bool ColumnWriter::extends_last_run(const ValueRef& value) const {
    if (runs_ == 0) return false;
    const auto last = has_kinds_ ? static_cast<ValueKind>(kinds_[runs_ - 1]) : ValueKind::Uint;
    if (last != value.kind()) return false;
    switch (last) {
        case ValueKind::Uint:
        case ValueKind::Real: return payload_[runs_ - 1] == value.as_uint();  // reals by bits: NaN runs merge
        case ValueKind::Unknown: return true;
        case ValueKind::Wide: {
            const uint64_t* at = words_.data() + payload_[runs_ - 1];
            const auto words = value.wide_words();
            if (at[0] != words.size()) return false;
            // Most wide values are two or three words: a loop beats a call of memcmp.
            for (size_t i = 0; i < words.size(); ++i) {
                if (at[1 + i] != words[i]) return false;
            }
            return true;
        }
        default: return heap_[payload_[runs_ - 1]] == value.heap();
    }
}

namespace {

// A single unknown bit (a one-bit x, U, W or -) is kept as no value, as the VCD scalar x is, so a
// one-bit signal reads the same whichever format carried it.
bool is_lone_x(const SignalValue& value) {
    if (value.kind() != ValueKind::FourState) return false;
    const std::vector<uint8_t>& bits = value.as_four_state().bits;
    return bits.size() == 1 && bits[0] == kBitX;
}

}  // namespace

void ColumnWriter::append_general(uint64_t start, const ValueRef& value) {
    if (is_lone_x(value.heap())) return append_inline(start, ValueKind::Unknown, 0);
    if (start >= length_ || extends_last_run(value)) return;
    open_run(start, value.kind(), heap_.size());
    heap_.push_back(value.heap());
}

void ColumnWriter::append(uint64_t start, SignalValue&& value) {
    if (start >= length_) return;
    const ValueRef ref = ValueRef::of(value);
    switch (value.kind()) {
        case ValueKind::Uint:
        case ValueKind::Real:
        case ValueKind::Unknown:
        case ValueKind::Wide: append(start, ref); return;
        default:
            if (is_lone_x(value)) return append_inline(start, ValueKind::Unknown, 0);
            if (extends_last_run(ref)) return;
            open_run(start, value.kind(), heap_.size());
            heap_.push_back(std::move(value));
            return;
    }
}

Column ColumnWriter::finish() && {
    Column col;
    if (runs_ == 0) return col;
    col.length_ = length_;
    if (starts_ != nullptr) {
        const size_t words = RankBits::word_count(length_);
        RankBits::build_directory(starts_, words, starts_ + words);
        col.run_starts_ = RunStarts(RankBits(length_, starts_));
        col.starts_memory_ = std::move(starts_memory_);
        starts_ = nullptr;
    } else if (sorted_starts_ != nullptr && runs_ > 1) {
        auto* sorted = reinterpret_cast<uint32_t*>(allocate_words((runs_ + 1) / 2, col.starts_memory_, true));
        std::copy(sorted_starts_ + 1, sorted_starts_ + runs_, sorted + 1);
        sorted[0] = static_cast<uint32_t>(runs_);
        col.run_starts_ = RunStarts(length_, sorted);
    }
    sorted_starts_ = nullptr;
    sorted_ = {};
    // Payloads, narrowed to the bytes the largest needs, and kinds move into one array, after
    // the words of the Wide values: a Wide run's payload becomes how many words before the
    // payloads its value starts, so a reader finds it from the payloads' address alone.
    const size_t runs = runs_;
    const size_t wide_words = words_used_;
    if (wide_words > 0) {
        for (size_t i = 0; i < runs; ++i) {
            if (kinds_[i] == static_cast<uint8_t>(ValueKind::Wide)) payload_[i] = wide_words - payload_[i];
        }
    }
    uint64_t any_bits = 0;
    for (size_t i = 0; i < runs; ++i) any_bits |= payload_[i];
    const unsigned width = payload_width_for(any_bits);
    constexpr size_t kSlack = sizeof(uint64_t) - 1;  // so the last payload reads as a whole word
    const size_t payload_bytes = runs * width + kSlack;
    const size_t kind_bytes = has_kinds_ ? runs : 0;
    // The arrays of a column of a few runs come from the arena even when the payloads should
    // not: an allocation of their own would cost more than they hold.
    constexpr size_t kSmallArrayWords = 64;
    const size_t array_words = wide_words + (payload_bytes + kind_bytes + 7) / 8;
    uint64_t* words =
        allocate_words(array_words, col.runs_memory_, payloads_from_arena_ || array_words <= kSmallArrayWords);
    if (wide_words > 0) {
        std::copy(words_.begin(), words_.begin() + static_cast<std::ptrdiff_t>(wide_words), words);
        words_ = {};
        words_used_ = 0;
    }
    auto* bytes = reinterpret_cast<uint8_t*>(words + wide_words);
    switch (width) {
        case 1: narrow_payloads<1>(payload_.data(), runs, bytes); break;
        case 2: narrow_payloads<2>(payload_.data(), runs, bytes); break;
        case 4: narrow_payloads<4>(payload_.data(), runs, bytes); break;
        default: narrow_payloads<8>(payload_.data(), runs, bytes); break;
    }
    std::memset(bytes + runs * width, 0, kSlack);
    col.payload_bytes_ = bytes;
    col.runs_ = runs;
    col.payload_width_ = static_cast<uint8_t>(width);
    col.payload_mask_ = width == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
    if (has_kinds_) {
        uint8_t* kinds = bytes + payload_bytes;
        std::memcpy(kinds, kinds_.data(), runs);
        col.kinds_ = std::span<const uint8_t>(kinds, runs);
    }
    // Values held in a column of their own size; a reservation that fit (nearly all) is kept.
    if (heap_.capacity() - heap_.size() > heap_.size() / 8) heap_.shrink_to_fit();
    col.heap_ = std::move(heap_);
    return col;
}

}  // namespace quor_core::signal
