#pragma once
// ColumnBuilder: collects value changes while a loader runs and freezes them into a ColumnStore.
// It records changes only (no work or memory per signal and index) and yields exactly the values
// the reference SignalStore holds after the loader's fill discipline:
//  - CarryThenSet: forward_fill(i) runs when index i opens, before that index's own values are
//    set (the VCD reader). A later value at the same index replaces an earlier one, Unknown
//    included, and an Unknown is held until the next value.
//  - SetThenFill: all values are set first, then forward_fill(1..n-1) runs once (FST and the
//    block formats). An Unknown set at an index is filled over by the value before it, so it
//    only shows where no known value precedes it.
// Each signal's changes go to a compact log in a chain of chunks carved in sequence from large
// blocks, so recording a change is a few stores into a chunk whose tail is likely in cache, and
// no change is copied or sorted while loading. Values may arrive in any index order; indices at
// or past the freeze length are dropped.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "signal/column_store.hpp"
#include "signal/values/value.hpp"
#include "util/arena.hpp"
#include "util/huge_pages.hpp"

namespace quor_core::signal {

enum class FillRule { CarryThenSet, SetThenFill };

// Runs body(0) .. body(pieces - 1), possibly several at once on other threads, and returns when
// all have finished.
using ParallelFor = std::function<void(size_t pieces, const std::function<void(size_t)>& body)>;

class ColumnBuilder {
public:
    // Memory for the change logs of several builders filled at the same time on different
    // threads (the stretches of one text). Sharing it keeps the partly used huge pages down to
    // a few in all instead of a few per builder.
    class SharedBlocks {
    public:
        uint8_t* take(size_t bytes);
        // About this many bytes of changes are coming: a small first block keeps a small
        // load from zeroing a whole huge page it barely uses. From a megabyte on, one huge
        // page costs less than its 4 KiB pages faulted in one by one.
        void expect_bytes(size_t bytes) {
            std::lock_guard lock(m_);
            constexpr size_t kHuge = size_t{2} << 20;
            if (bytes > kHuge / 2) bytes = (bytes + kHuge - 1) / kHuge * kHuge;
            first_block_ = std::clamp(bytes, kMinFirstBlock, kBlockBytes);
        }

    private:
        static constexpr size_t kBlockBytes = size_t{32} << 20;
        static constexpr size_t kMinFirstBlock = size_t{1} << 16;
        std::mutex m_;
        size_t first_block_ = kBlockBytes;
        std::vector<std::unique_ptr<util::HugeBuffer<uint8_t>>> blocks_;
        size_t used_ = 0;
    };

    explicit ColumnBuilder(FillRule rule, std::shared_ptr<SharedBlocks> shared = nullptr)
        : rule_(rule), shared_(std::move(shared)) {}

    void set(uint32_t id, uint64_t index, SignalValue value);
    // A four-state value of width bits (1 to 64), bit i of the planes for character i (most
    // significant first): low plane set for 1 and z, high plane set for x and z. Kept in the
    // log itself, so recording one allocates nothing.
    void set_four_state(uint32_t id, uint64_t index, unsigned width, uint64_t low, uint64_t high);
    // A Wide value, words least significant first; kept in the log itself.
    void set_wide(uint32_t id, uint64_t index, std::span<const uint64_t> words) {
        if (index > kMaxIndex) return;
        const size_t n = words.size();
        if (staging_) [[unlikely]] {
            if (n <= kMaxStagedWords) return stage_wide(id, index, words);
            flush_staged();
        }
        record_wide(id, index, words);
    }
    void set_uint(uint32_t id, uint64_t index, uint64_t value) {
        if (index > kMaxIndex) return;  // past any trace that fits in memory
        if (staging_) return stage(id, index, uint_bytes(value), value);
        const unsigned bytes = uint_bytes(value);
        store_le(open_record(chain_for(id), index, bytes, bytes), value);
    }
    // As set_uint, for a caller whose indices never fall below the signal's last one (a reader
    // of a text in time order): fewer checks per change.
    void set_uint_ascending(uint32_t id, uint64_t index, uint64_t value) {
        if (id >= chain_count_ || index > kMaxIndex || staging_) [[unlikely]]
            return set_uint(id, index, value);
        const unsigned bytes = uint_bytes(value);
        store_le(open_record_ascending(chains_[id], index, bytes, bytes), value);
    }
    // Freezes every column over [0, num_indices), through parallel when one is given.
    ColumnStore freeze(uint64_t num_indices, const ParallelFor& parallel = {}) &&;
    // Freezes the changes of several builders as if one builder had received them all, part
    // after part: part k's indices are moved by shifts[k] (added modulo 2^64, so a part whose
    // recorded indices are all at least 1 may be moved down by one). Every part must use the
    // same fill rule. Columns are built through parallel; the parts are emptied.
    // The columns' arrays come from arena when one is given (it may hold adopted memory).
    static ColumnStore freeze_parts(std::span<ColumnBuilder> parts, std::span<const uint64_t> shifts,
                                    uint64_t num_indices, const ParallelFor& parallel,
                                    std::shared_ptr<util::Arena> arena = nullptr);

    // Changes recorded from now on are this builder's next segment (the first is segment 0).
    // A builder that records one stretch of a text after another keeps one change log per
    // signal for all of them: starting a segment costs nothing, and a signal's log gets a short
    // rebase record only where the signal changes in it.
    void begin_segment() {
        flush_staged();
        ++segment_;
    }
    // Where a segment goes when freezing: the builder that recorded it and the move of its
    // indices (added modulo 2^64, as for freeze_parts).
    struct SegmentPlace {
        uint32_t builder;
        uint64_t shift;
    };
    // Freezes the segments of several builders as if one builder had received all their changes,
    // segment after segment in the order given. Each builder's segments appear in order, all of
    // them: the j-th place naming a builder is its segment j. Otherwise as freeze_parts.
    static ColumnStore freeze_segments(std::span<ColumnBuilder> builders, std::span<const SegmentPlace> order,
                                       uint64_t num_indices, const ParallelFor& parallel,
                                       std::shared_ptr<util::Arena> arena = nullptr);

    // Signals 0 .. ids - 1 are known to come: their chains are made at once.
    void expect_ids(uint32_t ids) {
        if (ids > chain_count_ && ids <= kDirectIds) grow_chains(ids - 1);
    }
    // Whether changes wait in a log of their own, in the order they come, before they go to
    // their signals' logs. Where signals are many, each signal's log tail is rarely in cache,
    // and a reader that stores each change there waits for memory at nearly every change. The
    // waiting changes go to their logs a batch at a time, the log tails fetched well ahead, so
    // those fetches overlap. Off by default: with few signals the tails stay in cache.
    void stage_changes(bool on) {
        if (!on) flush_staged();
        staging_ = on;
    }
    // Staged changes may name their signal by a key of this table instead: a change with key k
    // is signal ids_by_key[k]'s, and is dropped where that is kNoSignal. Looking keys up when a
    // batch goes out, many at once, spares a reader that looks each up as it comes a miss per
    // change in a big table. The table must stay as it is until the builder is frozen or
    // staging stops.
    void stage_keys(std::span<const uint32_t> ids_by_key) { ids_by_key_ = ids_by_key; }
    static constexpr uint32_t kNoSignal = UINT32_MAX;
    // As set_uint for the signal of key (below the size of the stage_keys table).
    void set_uint_keyed(uint32_t key, uint64_t index, uint64_t value) {
        if (index > kMaxIndex) return;
        if (!staging_) [[unlikely]] {
            if (ids_by_key_[key] != kNoSignal) set_uint(ids_by_key_[key], index, value);
            return;
        }
        stage(key, index, uint_bytes(value) | kKeyedForm, value);
    }

    // Room for about this many changes in the first block.
    void reserve(size_t changes) {
        next_block_bytes_ = std::max(kMinBlockBytes, std::min(changes * 4, kMaxBlockBytes));
    }

private:
    // Each signal's changes are a log of variable-length records in a chain of chunks: a header
    // varint (index minus the signal's previous index, shifted left by four, or'ed with a form),
    // then the form's bytes. A two-state scalar change takes one to three bytes, a 64-bit value
    // about ten, against sixteen for a fixed record, which keeps loading memory and memory
    // traffic small. The forms:
    //   0..8  a Uint of that many little-endian bytes (0: the value 0)
    //   9     Unknown
    //   10    a Real: its eight bytes
    //   11    a heap value: its kind byte, then a varint index into heap_
    //   12    a four-state value of up to 64 bits: its width byte, then its low and high
    //         planes in (width + 7) / 8 bytes each
    //   13    a Wide value: a varint word count, then the words, eight little-endian bytes
    //         each, least significant first
    //   14    a rebase: the header's upper bits are the segment the records after it belong to;
    //         their indices count from that segment's 0
    //   15    a step back: the header's upper bits are how far back; the record follows
    static constexpr unsigned kUnknownForm = 9;
    static constexpr unsigned kRealForm = 10;
    static constexpr unsigned kHeapForm = 11;
    static constexpr unsigned kFourStateForm = 12;
    static constexpr unsigned kWideForm = 13;
    static constexpr unsigned kRebaseForm = 14;
    static constexpr unsigned kBackForm = 15;
    // Wide values of more words (a bit string of billions of characters) are kept as heap
    // values: the record's size must fit a chunk.
    static constexpr size_t kMaxLogWords = size_t{1} << 24;
    // Unused bytes after each chunk, so a value is always stored as a whole 64-bit word.
    static constexpr uint32_t kSlack = 8;

    struct Chunk {
        uint8_t* data;
        uint32_t size;  // filled bytes (the chain's last chunk: see Chain::tail)
        uint32_t next;  // next chunk of the same signal, or kNone
    };
    // One cache line: a reader of many signals misses a chain at nearly every change.
    struct alignas(64) Chain {
        uint8_t* tail = nullptr;  // where the next record goes, in the last chunk
        uint8_t* end = nullptr;   // the end of the last chunk's usable bytes
        uint64_t last_index = 0;  // the index of the latest record
        uint64_t count = 0;       // records
        uint32_t first = kNone;
        uint32_t last = kNone;
        bool ordered = true;       // no record steps back
        bool holds_heap = false;   // some record refers to the heap
        uint32_t heap_values = 0;  // records that become heap values (a size hint for freezing)
        uint32_t segment = 0;      // the segment of the latest record
        uint32_t capacity = 0;     // the last chunk's usable bytes (kept here: its entry is rarely in cache)
    };
    // One decoded change.
    struct Change {
        uint64_t index;
        ValueKind kind;
        uint64_t payload;  // Uint value, Real bits, index into a heap, or a log record's address
    };
    static constexpr uint32_t kNone = UINT32_MAX;
    static constexpr unsigned kMaxHeader = 10;  // a varint of up to 64 bits
    static constexpr uint64_t kMaxIndex = (uint64_t{1} << 56) - 1;
    static constexpr uint32_t kFirstChunk = 32;
    static constexpr uint32_t kMaxChunk = 8192;
    static constexpr uint32_t kMaxSharedChunk = 1024;
    static constexpr size_t kMinBlockBytes = size_t{1} << 16;
    static constexpr size_t kMaxBlockBytes = size_t{1} << 26;
    // Ids below this index a vector; larger ones (rare, from formats with sparse ids) a map.
    static constexpr uint32_t kDirectIds = uint32_t{1} << 22;

    // Stores all eight bytes of v, least significant first; bytes past a shorter value land in
    // room the record's next neighbour overwrites, or in the chunk's slack.
    static void store_le(uint8_t* p, uint64_t v) {
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        std::memcpy(p, &v, sizeof v);
    }
    // The bytes of a Uint record's value: as few as hold it, none for 0.
    static unsigned uint_bytes(uint64_t v) { return v == 0 ? 0u : (static_cast<unsigned>(std::bit_width(v)) + 7) / 8; }
    static unsigned varint_size(uint64_t v) { return (static_cast<unsigned>(std::bit_width(v | 1)) + 6) / 7; }
    static uint8_t* put_varint(uint8_t* p, uint64_t v) {
        while (v >= 0x80) {
            *p++ = static_cast<uint8_t>(v | 0x80);
            v >>= 7;
        }
        *p++ = static_cast<uint8_t>(v);
        return p;
    }
    // Writes a record's header and makes room for its bytes after it; returns where they go
    // and moves the chain's tail past them.
    uint8_t* open_record(Chain& c, uint64_t index, unsigned form, unsigned bytes) {
        if (c.segment != segment_) [[unlikely]]
            rebase(c);
        if (index < c.last_index) [[unlikely]]
            return open_record_back(c, index, form, bytes);
        return open_record_ascending(c, index, form, bytes);
    }
    // As open_record, for an index at or after the chain's last one.
    uint8_t* open_record_ascending(Chain& c, uint64_t index, unsigned form, unsigned bytes) {
        if (c.segment != segment_) [[unlikely]]
            rebase(c);
        const uint64_t header = ((index - c.last_index) << 4) | form;
        // Room for the longest header saves measuring this one.
        if (static_cast<size_t>(c.end - c.tail) < kMaxHeader + bytes) [[unlikely]]
            new_chunk(c, kMaxHeader + bytes);
        uint8_t* p = put_varint(c.tail, header);
        c.tail = p + bytes;
        c.last_index = index;
        ++c.count;
        return p;
    }
    uint8_t* open_record_back(Chain& c, uint64_t index, unsigned form, unsigned bytes);
    // Starts the chain's records of the current segment with a rebase record.
    void rebase(Chain& c);
    // The chain of a record that becomes a heap value when frozen, counted for the freeze.
    Chain& heap_chain_for(uint32_t id) {
        Chain& c = chain_for(id);
        c.heap_values += c.heap_values != UINT32_MAX;
        return c;
    }
    // A change waiting to go to its signal's log: form is a record form (a Uint's byte count,
    // Unknown, Real, four-state or Wide); a four-state value keeps its width in width and its
    // planes in a and b, a Wide value the start of its words in staged_words_ in a and their
    // count in b, any other value its payload in a.
    struct Staged {
        uint32_t id;
        uint8_t form;
        uint8_t width;
        uint64_t index;
        uint64_t a;
        uint64_t b;
    };
    static constexpr size_t kStagedChanges = size_t{1} << 15;
    // Added to the form of a staged change whose id is a key of ids_by_key_.
    static constexpr uint8_t kKeyedForm = 0x80;
    // The form of a staged change whose key names no signal.
    static constexpr uint8_t kDroppedForm = 0xFF;
    // Wide values of more words go straight to their logs, after the waiting changes.
    static constexpr size_t kMaxStagedWords = 64;
    void stage(uint32_t id, uint64_t index, unsigned form, uint64_t a, uint64_t b = 0, unsigned width = 0) {
        if (staged_count_ == kStagedChanges) [[unlikely]]
            flush_staged();
        if (!staged_) [[unlikely]]
            staged_ = std::make_unique_for_overwrite<Staged[]>(kStagedChanges);
        staged_[staged_count_++] = Staged{id, static_cast<uint8_t>(form), static_cast<uint8_t>(width), index, a, b};
    }
    void stage_wide(uint32_t id, uint64_t index, std::span<const uint64_t> words) {
        // A full batch goes out first: going out clears staged_words_, so the position of
        // these words is known only after it.
        if (staged_count_ == kStagedChanges) [[unlikely]]
            flush_staged();
        stage(id, index, kWideForm, staged_words_.size(), words.size());
        staged_words_.insert(staged_words_.end(), words.begin(), words.end());
    }
    // Moves the waiting changes to their signals' logs, each signal's in the order they came.
    void flush_staged();
    // The first n staged changes grouped by chain (into grouped_), or as they are.
    const Staged* group_staged(size_t n);
    // Records a change in its signal's log, as set_uint, set, set_four_state and set_wide do
    // when nothing is staged.
    void record_staged(const Staged& s);
    void record_wide(uint32_t id, uint64_t index, std::span<const uint64_t> words) {
        const size_t n = words.size();
        if (n > kMaxLogWords) [[unlikely]]
            return set_heap(id, index, SignalValue::wide({words.begin(), words.end()}));
        uint8_t* p = open_record(chain_for(id), index, kWideForm, varint_size(n) + static_cast<unsigned>(8 * n));
        p = put_varint(p, n);
        if (n == 2) {  // the most common wide value, stored without a call of memcpy
            store_le(p, words[0]);
            store_le(p + 8, words[1]);
            return;
        }
        for (size_t i = 0; i < n; ++i) store_le(p + 8 * i, words[i]);
    }
    void record_four_state(uint32_t id, uint64_t index, unsigned width, uint64_t low, uint64_t high);

    // The value of a four-state record in a change log.
    static SignalValue four_state_of(const uint8_t* record);
    // Appends the Wide value of a log record; out of line, as it is rare next to two-state values.
    [[gnu::noinline]] static void append_wide_record(ColumnWriter& writer, uint64_t index, const uint8_t* record);
    // Records a value as a heap value.
    void set_heap(uint32_t id, uint64_t index, SignalValue value);
    Chain& chain_for(uint32_t id) {
        if (id < kDirectIds) {
            if (id >= chain_count_) [[unlikely]]
                grow_chains(id);
            return chains_[id];
        }
        return far_chain(id);
    }
    void grow_chains(uint32_t id);
    Chain& far_chain(uint32_t id);
    void new_chunk(Chain& c, unsigned need);
    const Chain* chain_if(uint32_t id) const;
    // Starts fetching the chain's first chunk and the entry of its second.
    void prefetch_start(const Chain& c) const;

    // One signal's chain in one builder, with that builder's moves: heap references by
    // heap_base, the indices of segment j by shifts[j]; segments come in the order of ranks[j].
    struct Source {
        const ColumnBuilder* part;
        const Chain* chain;
        uint64_t heap_base;
        const uint64_t* shifts;
        const uint32_t* ranks;
    };
    // Where decoding one source stands.
    struct Cursor {
        const Source* source;
        uint32_t chunk;
        const uint8_t* p;    // the next record
        uint64_t index;      // the index the next record counts from, moved
        uint32_t segment;
    };
    enum class Decoded { SegmentEnd, ChainEnd, Stopped };
    Cursor start_cursor(const Source& s) const;
    // Calls f(Change) for the cursor's records in the order they were made, each moved by its
    // segment's shift (index) and the heap base (heap references), until the segment ends, the
    // chain ends or f returns false.
    template <typename F>
    Decoded decode_segment(Cursor& cursor, F&& f) const;
    // Calls f(Change) for the changes of all sources in segment order, until f returns false.
    template <typename F>
    static void for_each_merged(std::span<const Source> sources, F&& f);

    template <typename Each>
    static Column build_in_order(Each&& each, size_t changes, size_t heap_values, uint64_t length, FillRule rule,
                                 std::vector<SignalValue>& heap, const std::shared_ptr<util::Arena>& arena);
    // Whether the sources' changes, in segment order, come in ascending index order (equal
    // indices may repeat).
    static bool in_index_order(std::span<const Source> sources);
    // The column, when the changes come in ascending index order; nothing otherwise, where
    // heap values the column took are gone from heap.
    static std::optional<Column> build_from_sources(std::span<const Source> sources, size_t changes, size_t heap_values,
                                                    uint64_t length, FillRule rule, std::vector<SignalValue>& heap,
                                                    const std::shared_ptr<util::Arena>& arena);
    static Column build_sorted(std::span<const Source> sources, std::vector<Change>& scratch, size_t heap_values,
                               uint64_t length,
                               FillRule rule, std::vector<SignalValue>& heap,
                               const std::shared_ptr<util::Arena>& arena);

    FillRule rule_;
    uint32_t segment_ = 0;
    std::vector<Chain> chains_;
    uint32_t chain_count_ = 0;  // chains_.size(), kept at hand for the recording path
    std::vector<std::pair<uint32_t, Chain>> far_chains_;
    std::unordered_map<uint32_t, size_t> far_slots_;
    std::vector<Chunk> chunks_;
    std::shared_ptr<SharedBlocks> shared_;  // where blocks come from, when shared
    static constexpr size_t kSharedTake = size_t{1} << 18;  // bytes taken from shared blocks at once
    std::vector<std::unique_ptr<util::HugeBuffer<uint8_t>>> blocks_;
    uint8_t* block_ = nullptr;  // the block chunks are carved from
    size_t block_size_ = 0;
    size_t block_used_ = 0;
    size_t next_block_bytes_ = kMinBlockBytes;
    std::vector<SignalValue> heap_;  // FourState and Text values (and Wide values too long for a record)
    bool staging_ = false;
    std::unique_ptr<Staged[]> staged_;  // changes waiting for their logs (made when first needed)
    std::unique_ptr<Staged[]> grouped_;  // the same grouped by chain
    size_t staged_count_ = 0;
    std::vector<uint64_t> staged_words_;  // the words of waiting Wide values
    std::span<const uint32_t> ids_by_key_;
};

}  // namespace quor_core::signal
