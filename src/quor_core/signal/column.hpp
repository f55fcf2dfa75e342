#pragma once
// Column: the frozen values of one signal, stored as runs.
// A run is a maximal interval of indices holding one stored value. Runs cover [0, length);
// reads at or past length are Unknown. A bit vector marks each run's first index, so a read is
// one rank and one array access; a column of few runs keeps its runs' first indices sorted
// instead (see RunStarts), a short search. Two-state values and reals live inline in a payload
// per run; the words of Wide values in one array per column, the payload the position of a value's
// words; only FourState and Text values are kept as SignalValue objects. Payloads are stored in
// 1, 2, 4 or 8 bytes each, as few as the column's largest payload needs: most signals are a
// bit or a few bits wide, and eight bytes a run would be most of a trace's memory.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "signal/run_starts.hpp"
#include "signal/values/value.hpp"
#include "util/arena.hpp"
#include "util/scratch_pool.hpp"

namespace quor_core::signal {

// A read-only view of one stored value; valid as long as the column it came from.
class ValueRef {
public:
    ValueRef() = default;
    static ValueRef of_uint(uint64_t v) { return ValueRef(ValueKind::Uint, v, nullptr); }
    static ValueRef of_real(double v) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        return ValueRef(ValueKind::Real, bits, nullptr);
    }
    // A Wide value's words, least significant first; the words must outlive the view.
    static ValueRef of_wide(const uint64_t* words, size_t count) {
        ValueRef r(ValueKind::Wide, count, nullptr);
        r.words_ = words;
        return r;
    }
    static ValueRef of(const SignalValue& v);

    ValueKind kind() const { return kind_; }
    bool is_unknown() const { return kind_ == ValueKind::Unknown; }
    uint64_t as_uint() const { return payload_; }
    double as_real() const {
        double d = 0;
        std::memcpy(&d, &payload_, sizeof d);
        return d;
    }
    // The words of a Wide view, least significant first.
    std::span<const uint64_t> wide_words() const { return {words_, static_cast<size_t>(payload_)}; }
    // The heap value behind a FourState or Text view.
    const SignalValue& heap() const { return *heap_; }

    SignalValue to_value() const;
    std::optional<uint64_t> to_u64() const;
    bool truthy() const;
    // Same alternative and equal contents (a Real NaN is never identical to anything).
    friend bool identical(const ValueRef& a, const ValueRef& b);

private:
    ValueRef(ValueKind k, uint64_t p, const SignalValue* h) : kind_(k), payload_(p), heap_(h) {}
    ValueKind kind_ = ValueKind::Unknown;
    uint64_t payload_ = 0;  // Uint value, Real bits, or a Wide value's word count
    union {                 // which one is in use follows from kind_
        const SignalValue* heap_ = nullptr;
        const uint64_t* words_;
    };
};

class Column {
public:
    Column() = default;

    uint64_t length() const { return length_; }
    size_t run_count() const { return runs_; }
    // Index of the run holding index; requires index < length().
    size_t run_of(uint64_t index) const { return run_starts_.run_of(index); }
    // First index after the run that starts at or contains index (length() for the last run).
    uint64_t run_end_after(uint64_t index) const {
        return run_starts_.size() == 0 ? length_ : run_starts_.start_after(index);
    }
    ValueRef run_value(size_t run) const;
    // Every run holds a Uint, whose payload is the value itself: lets scans decode in bulk.
    bool all_uint() const { return kinds_.empty(); }
    const RunStarts& run_starts() const { return run_starts_; }  // empty with at most one run
    // The payload of a run: its Uint value, Real bits, where its words lie (Wide, see
    // wide_value) or index into the column's heap values.
    uint64_t run_payload(size_t run) const {
        uint64_t v = 0;
        std::memcpy(&v, payload_bytes_ + run * payload_width_, sizeof v);  // the array has slack for this
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        return v & payload_mask_;
    }
    // The payloads of runs [first, first + count) into out.
    void copy_payloads(size_t first, size_t count, uint64_t* out) const;
    // Bytes per stored payload (1, 2, 4 or 8).
    unsigned payload_width() const { return payload_width_; }
    // The stored payloads from run first on, payload_width() little-endian bytes each.
    const uint8_t* payload_data(size_t first) const { return payload_bytes_ + first * payload_width_; }
    // Per run, its ValueKind as a byte; empty when every run is a Uint.
    std::span<const uint8_t> run_kinds() const { return kinds_; }
    ValueRef at(uint64_t index) const {
        if (index >= length_) return ValueRef();
        return run_value(run_of(index));
    }
    // The Wide value of a run whose payload is back, given the column's payload bytes: the words
    // of the Wide values lie just before them, each value its word count and then its words.
    static ValueRef wide_value(const uint8_t* payload_bytes, uint64_t back) {
        const uint64_t* value = reinterpret_cast<const uint64_t*>(payload_bytes) - back;
        return ValueRef::of_wide(value + 1, static_cast<size_t>(value[0]));
    }

private:
    friend class ColumnWriter;
    friend class ColumnHead;
    uint64_t length_ = 0;
    RunStarts run_starts_;               // empty when there is at most one run
    // Per run, payload_width_ little-endian bytes: Uint value, Real bits, index into heap_, or
    // for a Wide value how many words before these bytes it starts (see wide_value); then at
    // least seven bytes of slack, so every payload can be read as a whole word.
    const uint8_t* payload_bytes_ = nullptr;
    size_t runs_ = 0;
    uint64_t payload_mask_ = ~uint64_t{0};  // the low payload_width_ bytes, kept for run_payload
    uint8_t payload_width_ = 8;
    std::span<const uint8_t> kinds_;     // per run ValueKind; empty when every run is Uint
    std::vector<SignalValue> heap_;      // FourState and Text values
    // Own the memory behind run_starts_ and behind payload_bytes_ and kinds_ (an arena, or arrays of
    // their own). Frozen columns never change, so copies share it.
    std::shared_ptr<const void> starts_memory_;
    std::shared_ptr<const void> runs_memory_;
};

// Builds the Column over [0, length) from runs appended in ascending start order; the first run
// starts at 0. An appended value equal (as stored) to the run before it extends that run. The
// finished column's arrays come from arena when one is given (many columns at once), else
// from arrays of its own.
class ColumnWriter {
public:
    // Where the arrays of the finished column come from: the run starts, and the payloads and
    // kinds (with RunStarts, those of a column of a few runs come from the arena too).
    enum class ArenaUse { All, RunStarts };
    // The growing arrays of the runs come from scratch when one is given (it must outlive the
    // writer); the finished column never uses them.
    explicit ColumnWriter(uint64_t length, std::shared_ptr<util::Arena> arena = nullptr, ArenaUse use = ArenaUse::All,
                          util::ScratchPool* scratch = nullptr)
        : length_(length),
          sorted_limit_(RunStarts::sorted_limit(length)),
          arena_(std::move(arena)),
          payloads_from_arena_(use == ArenaUse::All),
          payload_(util::ScratchAllocator<uint64_t>(scratch)),
          kinds_(util::ScratchAllocator<uint8_t>(scratch)),
          words_(util::ScratchAllocator<uint64_t>(scratch)),
          sorted_(util::ScratchAllocator<uint32_t>(scratch)) {}
    ColumnWriter(ColumnWriter&&) = default;
    ColumnWriter& operator=(ColumnWriter&&) = default;

    // Room for this many runs, so the payloads are allocated once.
    void reserve(size_t runs) {
        if (runs > payload_.size()) grow_to(runs);
    }
    // Room for this many FourState and Text values.
    void reserve_heap(size_t values) { heap_.reserve(values); }

    void append(uint64_t start, const ValueRef& value) {
        if (value.kind() == ValueKind::Uint || value.kind() == ValueKind::Real || value.kind() == ValueKind::Unknown) {
            return append_inline(start, value.kind(), value.as_uint());
        }
        if (value.kind() == ValueKind::Wide) return append_wide(start, value.wide_words());
        append_general(start, value);
    }
    // Appends a Uint, Real (payload: its bits) or Unknown (payload ignored).
    void append_inline(uint64_t start, ValueKind kind, uint64_t payload);
    // Appends a Wide value; its words are copied into the column's word array.
    void append_wide(uint64_t start, std::span<const uint64_t> words) {
        if (start >= length_) return;
        const size_t n = words.size();
        if (runs_ > 0 && last_kind_ == ValueKind::Wide) {
            // Most wide values are two or three words: a loop beats a call of memcmp.
            const uint64_t* last = words_.data() + payload_[runs_ - 1];
            bool same = last[0] == n;
            for (size_t i = 0; same && i < n; ++i) same = last[1 + i] == words[i];
            if (same) return;
        }
        const size_t at = words_used_;
        if (at + 1 + n > words_.size()) grow_words(at + 1 + n, n);
        open_run(start, ValueKind::Wide, at);
        words_used_ = at + 1 + n;
        uint64_t* out = words_.data() + at;
        out[0] = n;
        if (n == 2) {  // the most common wide value, copied without a call of memcpy
            out[1] = words[0];
            out[2] = words[1];
            return;
        }
        for (size_t i = 0; i < n; ++i) out[1 + i] = words[i];
    }
    void append(uint64_t start, SignalValue&& value);
    Column finish() &&;

private:
    friend class InlineRunAppender;
    void append_general(uint64_t start, const ValueRef& value);
    // The value equals (as stored) the last run's, so appending it only extends that run.
    bool extends_last_run(const ValueRef& value) const;
    // Readies the writer for an inline run (the kinds array, room, the run-start bits) and
    // settles the cases that need no bit: the first run, and a repeat while there is one run.
    // True when the value is fully appended.
    bool prepare_inline(ValueKind kind, uint64_t payload);
    // Opens a run of a Wide or heap value at start with the given payload.
    void open_run(uint64_t start, ValueKind kind, uint64_t payload) {
        if (!has_kinds_) convert_to_kinds();
        if (runs_ == payload_.size()) grow_to(runs_ + 1);
        if (runs_ > 0) {
            ready_starts();
            if (sorted_starts_ != nullptr) {
                sorted_starts_[runs_] = static_cast<uint32_t>(start);
            } else {
                starts_[start >> 6] |= uint64_t{1} << (start & 63);
            }
        }
        payload_[runs_] = payload;
        kinds_[runs_] = static_cast<uint8_t>(kind);
        last_kind_ = kind;
        ++runs_;
    }
    void grow_to(size_t runs);
    // Room for at least needed words; values of n words are coming.
    void grow_words(size_t needed, size_t n);
    // The kinds array exists once a run is not a Uint.
    void convert_to_kinds();
    // Readies the run starts for run runs_ (there is room for it): the sorted starts with the
    // second run, the bits once the sorted ones are full.
    void ready_starts() {
        if (starts_ == nullptr && sorted_starts_ == nullptr) make_starts();
        if (sorted_starts_ != nullptr && runs_ >= sorted_limit_) sorted_to_bits();
    }
    void make_starts();
    void make_bits();
    void sorted_to_bits();
    // Uninitialised words from the arena or from an array of their own (kept in owner).
    uint64_t* allocate_words(size_t n, std::shared_ptr<const void>& owner, bool from_arena) const;

    uint64_t length_;
    uint64_t sorted_limit_;  // the most runs whose starts are kept sorted
    std::shared_ptr<util::Arena> arena_;
    bool payloads_from_arena_;
    // Per run, payloads and (when has_kinds_) kinds: the first runs_ entries are the runs, the
    // rest is room.
    std::vector<uint64_t, util::ScratchAllocator<uint64_t>> payload_;  // room is not zeroed first
    std::vector<uint8_t, util::ScratchAllocator<uint8_t>> kinds_;
    bool has_kinds_ = false;
    size_t runs_ = 0;
    ValueKind last_kind_ = ValueKind::Uint;  // the kind of the last run
    std::vector<SignalValue> heap_;
    // The words of the Wide runs, each value its word count and then its words: the first
    // words_used_ entries, the rest room (not zeroed).
    std::vector<uint64_t, util::ScratchAllocator<uint64_t>> words_;
    size_t words_used_ = 0;
    uint64_t* starts_ = nullptr;  // run-start bits and then their directory, in starts_memory_
    std::shared_ptr<const void> starts_memory_;
    // While the runs are few: the start of each run (entry 0 unused), or nullptr. Has room for
    // min(payload_.size(), sorted_limit_) runs.
    std::vector<uint32_t, util::ScratchAllocator<uint32_t>> sorted_;
    uint32_t* sorted_starts_ = nullptr;
};

// Appends Uint, Real and Unknown runs to a writer in a loop that appends millions: the
// writer's state is held in locals (registers) between appends and handed back by sync().
// Nothing else may be done with the writer until sync() is called.
class InlineRunAppender {
public:
    explicit InlineRunAppender(ColumnWriter& writer) : w_(writer) { load(); }
    InlineRunAppender(const InlineRunAppender&) = delete;
    InlineRunAppender& operator=(const InlineRunAppender&) = delete;

    // start must lie inside the column, after the last run's start. Whether the value extends
    // the last run is settled without a branch: loaders repeat a value about as often as they
    // change it, which no branch predictor can guess.
    [[gnu::always_inline]] void append(uint64_t start, ValueKind kind, uint64_t payload) {
        if (kind == ValueKind::Unknown) payload = 0;
        if ((kind != ValueKind::Uint && kinds_ == nullptr) || runs_ >= fast_runs_) [[unlikely]] {
            sync();
            const bool done = w_.prepare_inline(kind, payload);
            load();
            if (done) return;
        }
        // Reals compare by bits, so NaN runs merge too.
        const bool same = (payload == payloads_[runs_ - 1]) & (kind == last_kind_);
        payloads_[runs_] = payload;
        if (kinds_ != nullptr) kinds_[runs_] = static_cast<uint8_t>(kind);
        mark_start(start, same);
        runs_ += !same;
        last_kind_ = kind;
    }
    // As append for a Uint, with fewer checks on the way.
    [[gnu::always_inline]] void append_uint(uint64_t start, uint64_t payload) {
        if (runs_ >= fast_runs_) [[unlikely]] {
            sync();
            const bool done = w_.prepare_inline(ValueKind::Uint, payload);
            load();
            if (done) return;
        }
        const bool same = (payload == payloads_[runs_ - 1]) & (last_kind_ == ValueKind::Uint);
        payloads_[runs_] = payload;
        if (kinds_ != nullptr) kinds_[runs_] = static_cast<uint8_t>(ValueKind::Uint);
        mark_start(start, same);
        runs_ += !same;
        last_kind_ = ValueKind::Uint;
    }
    // Marks a run starting at start unless same: a sorted start is written at the next run's
    // place either way (a later run overwrites it), a bit is or-ed in.
    [[gnu::always_inline]] void mark_start(uint64_t start, bool same) {
        if (sorted_ != nullptr) {
            sorted_[runs_] = static_cast<uint32_t>(start);
        } else {
            starts_[start >> 6] |= uint64_t{!same} << (start & 63);
        }
    }
    [[gnu::always_inline]] void sync() {
        w_.runs_ = runs_;
        w_.last_kind_ = last_kind_;
    }
    [[gnu::always_inline]] void load() {
        payloads_ = w_.payload_.data();
        capacity_ = w_.payload_.size();
        kinds_ = w_.has_kinds_ ? w_.kinds_.data() : nullptr;
        starts_ = w_.starts_;
        sorted_ = w_.sorted_starts_;
        runs_ = w_.runs_;
        last_kind_ = w_.last_kind_;
        // Below this many runs, a Uint run needs no preparing: there is a run before it, room
        // after it, and run starts to mark (sorted ones only while they have room).
        if (runs_ == 0 || (starts_ == nullptr && sorted_ == nullptr)) {
            fast_runs_ = 0;
        } else {
            fast_runs_ = sorted_ != nullptr ? std::min<size_t>(capacity_, w_.sorted_limit_) : capacity_;
        }
    }

private:
    ColumnWriter& w_;
    uint64_t* payloads_ = nullptr;
    size_t capacity_ = 0;
    uint8_t* kinds_ = nullptr;
    uint64_t* starts_ = nullptr;
    uint32_t* sorted_ = nullptr;
    size_t runs_ = 0;
    size_t fast_runs_ = 0;
    ValueKind last_kind_ = ValueKind::Uint;
};

inline void ColumnWriter::append_inline(uint64_t start, ValueKind kind, uint64_t payload) {
    if (start >= length_) return;
    InlineRunAppender runs(*this);
    runs.append(start, kind, payload);
    runs.sync();
}

}  // namespace quor_core::signal
