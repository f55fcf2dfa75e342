#include "signal/column_builder.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace quor_core::signal {

namespace {

// The kinds of changes that are four-state and Wide records in a change log: the payload is the
// record's address. Never stored in a column; freezing makes them FourState and Wide values.
constexpr auto kLogFourState = static_cast<ValueKind>(6);
constexpr auto kLogWide = static_cast<ValueKind>(7);

// Taken from the builder's heap or a four-state log record: FourState, Text, and Wide values too
// long for a log record.
bool on_heap(ValueKind k) {
    constexpr unsigned kHeapKinds = 1u << static_cast<unsigned>(ValueKind::Wide) |
                                    1u << static_cast<unsigned>(ValueKind::FourState) |
                                    1u << static_cast<unsigned>(ValueKind::Text) | 1u << static_cast<unsigned>(kLogFourState);
    return (kHeapKinds >> static_cast<unsigned>(k)) & 1;
}

uint64_t load_u64(const uint8_t* p) {
    uint64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

// Reads a varint that the log itself wrote, so it is well formed and ends before end.
const uint8_t* get_varint(const uint8_t* p, uint64_t& v) {
    uint64_t b = *p++;
    v = b & 0x7F;
    for (unsigned shift = 7; b & 0x80; shift += 7) {
        b = *p++;
        v |= (b & 0x7F) << shift;
    }
    return p;
}

void run_in_turn(size_t pieces, const std::function<void(size_t)>& body) {
    for (size_t p = 0; p < pieces; ++p) body(p);
}

// Masks of the low 0..8 bytes of a word: the value of a Uint record of that many bytes.
constexpr uint64_t kValueMask[9] = {0,
                                    0xFF,
                                    0xFFFF,
                                    0xFFFFFF,
                                    0xFFFFFFFF,
                                    0xFFFFFFFFFFULL,
                                    0xFFFFFFFFFFFFULL,
                                    0xFFFFFFFFFFFFFFULL,
                                    ~uint64_t{0}};

// Byte i of entry b is bit i of b.
constexpr std::array<uint64_t, 256> kSpreadBits = [] {
    std::array<uint64_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        for (unsigned i = 0; i < 8; ++i) t[b] |= uint64_t{(b >> i) & 1} << (8 * i);
    }
    return t;
}();

}  // namespace

SignalValue ColumnBuilder::four_state_of(const uint8_t* record) {
    const unsigned width = record[0];
    const unsigned bytes = (width + 7) / 8;
    const uint64_t low = load_u64(record + 1) & kValueMask[bytes];
    const uint64_t high = load_u64(record + 1 + bytes) & kValueMask[bytes];
    // Eight bit codes at a time: each plane's byte spread to one bit per byte, the high plane
    // shifted to the second bit. Whole words are written, then the vector cut to width.
    std::vector<uint8_t> bits((width + 7) / 8 * 8);
    for (unsigned i = 0; i < width; i += 8) {
        const uint64_t codes = kSpreadBits[(low >> i) & 0xFF] | kSpreadBits[(high >> i) & 0xFF] << 1;
        store_le(bits.data() + i, codes);
    }
    bits.resize(width);
    return SignalValue::four_state(std::move(bits));
}

void ColumnBuilder::append_wide_record(ColumnWriter& writer, uint64_t index, const uint8_t* record) {
    uint64_t count = 0;
    const uint8_t* p = get_varint(record, count);
    constexpr size_t kOnStack = 16;
    uint64_t few[kOnStack];
    std::vector<uint64_t> many;
    uint64_t* words = few;
    if (count > kOnStack) {
        many.resize(static_cast<size_t>(count));
        words = many.data();
    }
    if (count == 2) {  // the most common wide value, read without a call of memcpy
        words[0] = load_u64(p);
        words[1] = load_u64(p + 8);
    } else {
        for (size_t i = 0; i < count; ++i) words[i] = load_u64(p + 8 * i);
    }
    writer.append_wide(index, std::span<const uint64_t>(words, static_cast<size_t>(count)));
}

void ColumnBuilder::set(uint32_t id, uint64_t index, SignalValue value) {
    if (index > kMaxIndex) return;
    switch (value.kind()) {
        case ValueKind::Uint: return set_uint(id, index, value.as_uint());
        case ValueKind::Real: {
            const uint64_t bits = ValueRef::of_real(value.as_real()).as_uint();
            if (staging_) return stage(id, index, kRealForm, bits);
            store_le(open_record(chain_for(id), index, kRealForm, sizeof bits), bits);
            return;
        }
        case ValueKind::Unknown:
            if (staging_) return stage(id, index, kUnknownForm, 0);
            open_record(chain_for(id), index, kUnknownForm, 0);
            return;
        case ValueKind::Wide:
            if (value.as_wide().words.size() <= kMaxLogWords) return set_wide(id, index, value.as_wide().words);
            return set_heap(id, index, std::move(value));
        default: return set_heap(id, index, std::move(value));
    }
}

void ColumnBuilder::set_heap(uint32_t id, uint64_t index, SignalValue value) {
    flush_staged();  // the waiting changes came first
    const uint64_t at = heap_.size();
    Chain& c = heap_chain_for(id);
    c.holds_heap = true;
    uint8_t* p = open_record(c, index, kHeapForm, 1 + varint_size(at));
    *p = static_cast<uint8_t>(value.kind());
    put_varint(p + 1, at);
    heap_.push_back(std::move(value));
}

void ColumnBuilder::set_four_state(uint32_t id, uint64_t index, unsigned width, uint64_t low, uint64_t high) {
    if (index > kMaxIndex || width == 0 || width > 64) return;
    if (staging_) return stage(id, index, kFourStateForm, low, high, width);
    record_four_state(id, index, width, low, high);
}

void ColumnBuilder::record_four_state(uint32_t id, uint64_t index, unsigned width, uint64_t low, uint64_t high) {
    const unsigned bytes = (width + 7) / 8;
    uint8_t* p = open_record(heap_chain_for(id), index, kFourStateForm, 1 + 2 * bytes);
    p[0] = static_cast<uint8_t>(width);
    store_le(p + 1, low);  // the high plane then overwrites what spilled past the low one
    store_le(p + 1 + bytes, high);
}


void ColumnBuilder::record_staged(const Staged& s) {
    if (s.form <= 8) return store_le(open_record(chain_for(s.id), s.index, s.form, s.form), s.a);
    switch (s.form) {
        case kUnknownForm: open_record(chain_for(s.id), s.index, kUnknownForm, 0); return;
        case kRealForm: store_le(open_record(chain_for(s.id), s.index, kRealForm, 8), s.a); return;
        case kFourStateForm: return record_four_state(s.id, s.index, s.width, s.a, s.b);
        default:  // kWideForm
            return record_wide(s.id, s.index, std::span<const uint64_t>(staged_words_).subspan(s.a, s.b));
    }
}

void ColumnBuilder::flush_staged() {
    const size_t n = staged_count_;
    if (n == 0) return;
    Staged* const staged = staged_.get();
    // Keys become ids first, their table entries fetched well ahead.
    constexpr size_t kKeyAhead = 32;
    const uint32_t* const ids_by_key = ids_by_key_.data();
    for (size_t i = 0; i < n; ++i) {
        if (i + kKeyAhead < n && (staged[i + kKeyAhead].form & kKeyedForm)) {
            __builtin_prefetch(ids_by_key + staged[i + kKeyAhead].id);
        }
        Staged& s = staged[i];
        if (s.form & kKeyedForm) {
            s.id = ids_by_key[s.id];
            s.form = s.id == kNoSignal ? kDroppedForm : static_cast<uint8_t>(s.form & ~kKeyedForm);
        }
    }
    // The chains are made first, so the fetches ahead read only chains that exist.
    uint32_t top = 0;
    for (size_t i = 0; i < n; ++i) {
        if (staged[i].form != kDroppedForm && staged[i].id < kDirectIds) top = std::max(top, staged[i].id);
    }
    if (top >= chain_count_) grow_chains(top);
    const Staged* const sorted = group_staged(n);
    // Each change's chain is fetched far ahead and its tail nearer (the chain must have arrived
    // to know where its tail is), so many misses are waited for at once.
    constexpr size_t kChainAhead = 24;
    constexpr size_t kTailAhead = 12;
    const Chain* const chains = chains_.data();
    for (size_t i = 0; i < n; ++i) {
        // Ids far apart (and dropped changes) are past the chains: not fetched.
        if (i + kChainAhead < n && sorted[i + kChainAhead].id < chain_count_) {
            __builtin_prefetch(chains + sorted[i + kChainAhead].id, 1);
        }
        if (i + kTailAhead < n && sorted[i + kTailAhead].id < chain_count_) {
            __builtin_prefetch(chains[sorted[i + kTailAhead].id].tail, 1);
        }
        if (sorted[i].form != kDroppedForm) record_staged(sorted[i]);
    }
    staged_count_ = 0;
    staged_words_.clear();
}

const ColumnBuilder::Staged* ColumnBuilder::group_staged(size_t n) {
    // The changes are put in order of their chains' addresses, roughly (a stable counting sort
    // by id range, so each signal's changes keep their order): neighbouring chains are visited
    // together, and so are their tails, as chunks are carved in the order chains grow.
    // Changes of ids past the chains (far ids, dropped changes) go last.
    constexpr uint32_t kGroups = 4096;
    const uint32_t chains = chain_count_;
    if (chains < kGroups) return staged_.get();
    if (!grouped_) grouped_ = std::make_unique_for_overwrite<Staged[]>(kStagedChanges);
    const auto group_of = [chains](uint32_t id) {
        return id < chains ? static_cast<uint32_t>(uint64_t{id} * kGroups / chains) : kGroups;
    };
    std::vector<uint32_t> starts(kGroups + 2, 0);
    const Staged* const staged = staged_.get();
    for (size_t i = 0; i < n; ++i) ++starts[group_of(staged[i].id) + 1];
    for (uint32_t g = 1; g < starts.size(); ++g) starts[g] += starts[g - 1];
    Staged* const out = grouped_.get();
    for (size_t i = 0; i < n; ++i) out[starts[group_of(staged[i].id)]++] = staged[i];
    return out;
}

uint8_t* ColumnBuilder::open_record_back(Chain& c, uint64_t index, unsigned form, unsigned bytes) {
    const uint64_t back = ((c.last_index - index) << 4) | kBackForm;
    const unsigned need = varint_size(back) + 1 + bytes;
    if (static_cast<size_t>(c.end - c.tail) < need) new_chunk(c, need);
    uint8_t* p = put_varint(c.tail, back);
    *p++ = static_cast<uint8_t>(form);  // the record itself, at the index stepped back to
    c.tail = p + bytes;
    c.last_index = index;
    c.ordered = false;
    ++c.count;
    return p;
}

void ColumnBuilder::rebase(Chain& c) {
    if (static_cast<size_t>(c.end - c.tail) < kMaxHeader) new_chunk(c, kMaxHeader);
    c.tail = put_varint(c.tail, (uint64_t{segment_} << 4) | kRebaseForm);
    c.last_index = 0;
    c.segment = segment_;
}

uint8_t* ColumnBuilder::SharedBlocks::take(size_t bytes) {
    std::lock_guard lock(m_);
    if (blocks_.empty() || used_ + bytes > blocks_.back()->size()) {
        blocks_.push_back(std::make_unique<util::HugeBuffer<uint8_t>>(std::max(bytes, blocks_.empty() ? first_block_ : kBlockBytes)));
        used_ = 0;
    }
    uint8_t* data = blocks_.back()->data() + used_;
    used_ += bytes;
    return data;
}

void ColumnBuilder::grow_chains(uint32_t id) {
    // Doubling the capacity keeps growth amortised when ids arrive one by one in ascending
    // order, as a dump of all initial values has them; ids are dense in practice, and a sparse
    // id only costs an empty chain per smaller id.
    const size_t wanted = static_cast<size_t>(id) + 1;
    if (wanted > chains_.capacity()) chains_.reserve(std::max(wanted, chains_.capacity() * 2));
    chains_.resize(wanted);
    chain_count_ = static_cast<uint32_t>(wanted);
}

void ColumnBuilder::new_chunk(Chain& c, unsigned need) {
    // Chunks double per signal up to a limit, so a signal with few changes wastes little.
    // A builder of one stretch among many holds only a part of each signal's changes: shorter
    // chunks keep the unfilled tails of all its last chunks small.
    const uint32_t max_chunk = shared_ ? kMaxSharedChunk : kMaxChunk;
    static_assert(sizeof(Chain) == 64, "a chain fills one cache line");
    const uint32_t cap = std::max<uint32_t>(need, c.capacity == 0 ? kFirstChunk : std::min(c.capacity * 2, max_chunk));
    const size_t room = size_t{cap} + kSlack;
    if (block_ == nullptr || block_used_ + room > block_size_) {
        // A chunk for a record longer than a block (a very wide value) gets a block of its own size.
        if (shared_) {
            block_size_ = std::max(kSharedTake, room);
            block_ = shared_->take(block_size_);
        } else {
            block_size_ = std::max(next_block_bytes_, room);
            blocks_.push_back(std::make_unique<util::HugeBuffer<uint8_t>>(block_size_));
            block_ = blocks_.back()->data();
            next_block_bytes_ = std::min(next_block_bytes_ * 2, kMaxBlockBytes);
        }
        block_used_ = 0;
    }
    uint8_t* data = block_ + block_used_;
    block_used_ += room;
    const auto chunk = static_cast<uint32_t>(chunks_.size());
    chunks_.push_back({data, 0, kNone});
    if (c.last != kNone) {
        // Only stores into the last chunk's entry, which is rarely in cache: they need not wait for it.
        chunks_[c.last].size = static_cast<uint32_t>(c.tail - (c.end - c.capacity));
        chunks_[c.last].next = chunk;
    } else {
        c.first = chunk;
    }
    c.last = chunk;
    c.tail = data;
    c.end = data + cap;
    c.capacity = cap;
}

ColumnBuilder::Chain& ColumnBuilder::far_chain(uint32_t id) {
    const auto [it, inserted] = far_slots_.try_emplace(id, far_chains_.size());
    if (inserted) far_chains_.emplace_back(id, Chain{});
    return far_chains_[it->second].second;
}

const ColumnBuilder::Chain* ColumnBuilder::chain_if(uint32_t id) const {
    if (id < kDirectIds) return id < chains_.size() && chains_[id].first != kNone ? &chains_[id] : nullptr;
    const auto it = far_slots_.find(id);
    return it == far_slots_.end() ? nullptr : &far_chains_[it->second].second;
}

void ColumnBuilder::prefetch_start(const Chain& c) const {
    const Chunk& first = chunks_[c.first];
    __builtin_prefetch(first.data);
    if (first.next != kNone) __builtin_prefetch(&chunks_[first.next]);
}

ColumnBuilder::Cursor ColumnBuilder::start_cursor(const Source& s) const {
    return Cursor{&s, s.chain->first, chunks_[s.chain->first].data, s.shifts[0], 0};
}

template <typename F>
[[gnu::always_inline]] inline ColumnBuilder::Decoded ColumnBuilder::decode_segment(Cursor& cursor, F&& f) const {
    const Source& s = *cursor.source;
    const Chain& c = *s.chain;
    const uint64_t heap_base = s.heap_base;
    uint64_t index = cursor.index;
    const uint8_t* p = cursor.p;
    for (uint32_t k = cursor.chunk;;) {
        // A chain's chunks lie far apart, so each hop would wait for two misses (the chunk's
        // entry, then its bytes). The next chunk's bytes and the entry after it are fetched
        // while this chunk is decoded.
        if (const uint32_t n1 = chunks_[k].next; n1 != kNone) {
            const Chunk& next = chunks_[n1];
            __builtin_prefetch(next.data);
            __builtin_prefetch(next.data + 64);
            if (next.next != kNone) __builtin_prefetch(&chunks_[next.next]);
        }
        const uint8_t* const end = k == c.last ? c.tail : chunks_[k].data + chunks_[k].size;
        while (p < end) {
            // Headers of one and two bytes, nearly all of them, without a loop.
            uint64_t header = p[0];
            if (header < 0x80) {
                ++p;
            } else if (p[1] < 0x80) {
                header = (header & 0x7F) | (uint64_t{p[1]} << 7);
                p += 2;
            } else {
                p = get_varint(p, header);
            }
            unsigned form = header & 0xF;
            if (form >= kRebaseForm) [[unlikely]] {
                if (form == kRebaseForm) {
                    const auto segment = static_cast<uint32_t>(header >> 4);
                    cursor = Cursor{&s, k, p, s.shifts[segment], segment};
                    return Decoded::SegmentEnd;
                }
                index -= header >> 4;  // a step back
                form = *p++;
            } else {
                index += header >> 4;
            }
            Change change{index, ValueKind::Uint, 0};
            if (form <= 8) [[likely]] {
                // Bytes past the value belong to the next record or the slack: masked off.
                change.payload = load_u64(p) & kValueMask[form];
                p += form;
            } else if (form == kUnknownForm) {
                change.kind = ValueKind::Unknown;
            } else if (form == kRealForm) {
                change.kind = ValueKind::Real;
                change.payload = load_u64(p);
                p += 8;
            } else if (form == kFourStateForm) {
                change.kind = kLogFourState;
                change.payload = reinterpret_cast<uintptr_t>(p);
                p += 1 + 2 * ((p[0] + 7u) / 8);
            } else if (form == kWideForm) {
                change.kind = kLogWide;
                change.payload = reinterpret_cast<uintptr_t>(p);
                uint64_t count = 0;
                p = get_varint(p, count);
                p += 8 * count;
            } else {
                change.kind = static_cast<ValueKind>(*p++);
                uint64_t at = 0;
                p = get_varint(p, at);
                change.payload = at + heap_base;
            }
            if (!f(change)) return Decoded::Stopped;
        }
        k = chunks_[k].next;
        if (k == kNone) return Decoded::ChainEnd;
        p = chunks_[k].data;
    }
}

template <typename F>
[[gnu::always_inline]] inline void ColumnBuilder::for_each_merged(std::span<const Source> sources, F&& f) {
    if (sources.size() == 1) {  // one builder: its segments are in order already
        const ColumnBuilder& part = *sources[0].part;
        Cursor cursor = part.start_cursor(sources[0]);
        while (part.decode_segment(cursor, f) == Decoded::SegmentEnd) {
        }
        return;
    }
    // Each builder's segments are in order: the next segment is always the first waiting in
    // some builder's chain.
    constexpr size_t kOnStack = 16;
    std::array<Cursor, kOnStack> few;
    std::vector<Cursor> many;
    Cursor* cursors = few.data();
    if (sources.size() > kOnStack) {
        many.resize(sources.size());
        cursors = many.data();
    }
    size_t active = sources.size();
    for (size_t i = 0; i < active; ++i) cursors[i] = sources[i].part->start_cursor(sources[i]);
    while (active > 0) {
        size_t next = 0;
        for (size_t i = 1; i < active; ++i) {
            const Cursor& a = cursors[i];
            const Cursor& b = cursors[next];
            if (a.source->ranks[a.segment] < b.source->ranks[b.segment]) next = i;
        }
        const Decoded done = cursors[next].source->part->decode_segment(cursors[next], f);
        if (done == Decoded::Stopped) return;
        if (done == Decoded::ChainEnd) cursors[next] = cursors[--active];
    }
}

bool ColumnBuilder::in_index_order(std::span<const Source> sources) {
    bool ordered = true;
    uint64_t last = 0;
    for_each_merged(sources, [&](const Change& change) {
        ordered = change.index >= last;
        last = change.index;
        return ordered;
    });
    return ordered;
}

// Changes in ascending index order become the column: each(take) calls take(change) for them in
// turn until take returns false. A change waits until one at a later index arrives, since a
// later change at its index replaces it. This runs for nearly every change of a load, so its
// state lives in locals of one inlined loop (kept in an object, it went through memory).
template <typename Each>
Column ColumnBuilder::build_in_order(Each&& each, size_t changes, size_t heap_values, uint64_t length, FillRule rule,
                                     std::vector<SignalValue>& heap, const std::shared_ptr<util::Arena>& arena) {
    ColumnWriter writer(length, arena);
    writer.reserve(changes + 1);  // a leading Unknown run, then at most one run per change
    writer.reserve_heap(heap_values);
    InlineRunAppender runs(writer);
    bool started = false;
    // No change is held yet: an index no change has (changes lie below length).
    constexpr uint64_t kNothingHeld = UINT64_MAX;
    Change held{kNothingHeld, ValueKind::Unknown, 0};
    const auto write_held = [&]() __attribute__((always_inline)) {
        // Nearly every change: a two-state value after the first.
        if (held.kind == ValueKind::Uint && started) [[likely]]
            return runs.append_uint(held.index, held.payload);
        if (held.index == kNothingHeld) return;
        if (held.kind == ValueKind::Unknown && rule == FillRule::SetThenFill) return;  // filled over
        if (!started) {
            // What precedes the first value reads as Unknown.
            if (held.index > 0) runs.append(0, ValueKind::Unknown, 0);
            started = true;
        }
        if (held.kind == kLogWide) {
            runs.sync();
            append_wide_record(writer, held.index, reinterpret_cast<const uint8_t*>(held.payload));
            runs.load();
        } else if (on_heap(held.kind)) {
            runs.sync();
            writer.append(held.index, held.kind == kLogFourState ? four_state_of(reinterpret_cast<const uint8_t*>(held.payload))
                                                                  : std::move(heap[held.payload]));
            runs.load();
        } else {
            runs.append(held.index, held.kind, held.payload);
        }
    };
    each([&](const Change& change) __attribute__((always_inline)) {
        if (change.index >= length) return false;  // the rest is past the trace
        if (change.index != held.index) write_held();
        held = change;
        return true;
    });
    write_held();
    runs.sync();
    return std::move(writer).finish();
}

std::optional<Column> ColumnBuilder::build_from_sources(std::span<const Source> sources, size_t changes,
                                                        size_t heap_values, uint64_t length, FillRule rule,
                                                        std::vector<SignalValue>& heap,
                                                        const std::shared_ptr<util::Arena>& arena) {
    bool ordered = true;
    const auto each = [&](auto&& take) __attribute__((always_inline)) {
        uint64_t last = 0;
        for_each_merged(sources, [&](const Change& change) __attribute__((always_inline)) {
            if (change.index < last) [[unlikely]] {
                ordered = false;
                return false;
            }
            last = change.index;
            // Changes past the trace are dropped, but the order is still checked.
            return change.index >= length || take(change);
        });
    };
    Column column = build_in_order(each, changes, heap_values, length, rule, heap, arena);
    if (!ordered) return std::nullopt;
    return column;
}

// Changes out of index order: a decoded copy is sorted (stably, so a later change at an index
// still replaces an earlier one) and then read as in-order changes.
Column ColumnBuilder::build_sorted(std::span<const Source> sources, std::vector<Change>& scratch, size_t heap_values,
                                   uint64_t length, FillRule rule, std::vector<SignalValue>& heap,
                                   const std::shared_ptr<util::Arena>& arena) {
    scratch.clear();
    for_each_merged(sources, [&](const Change& change) {
        if (change.index < length) scratch.push_back(change);  // the rest is past the trace
        return true;
    });
    std::stable_sort(scratch.begin(), scratch.end(), [](const Change& a, const Change& b) { return a.index < b.index; });
    const auto each = [&](auto&& take) __attribute__((always_inline)) {
        for (const Change& change : scratch) {
            if (!take(change)) return;
        }
    };
    return build_in_order(each, scratch.size(), heap_values, length, rule, heap, arena);
}

ColumnStore ColumnBuilder::freeze(uint64_t num_indices, const ParallelFor& parallel) && {
    const uint64_t no_shift = 0;
    return freeze_parts(std::span<ColumnBuilder>(this, 1), std::span<const uint64_t>(&no_shift, 1), num_indices,
                        parallel ? parallel : ParallelFor(run_in_turn));
}

ColumnStore ColumnBuilder::freeze_parts(std::span<ColumnBuilder> parts, std::span<const uint64_t> shifts,
                                        uint64_t num_indices, const ParallelFor& parallel,
                                        std::shared_ptr<util::Arena> arena) {
    std::vector<SegmentPlace> order;
    for (size_t k = 0; k < parts.size() && k < shifts.size(); ++k) order.push_back({static_cast<uint32_t>(k), shifts[k]});
    return freeze_segments(parts, order, num_indices, parallel, std::move(arena));
}

ColumnStore ColumnBuilder::freeze_segments(std::span<ColumnBuilder> parts, std::span<const SegmentPlace> order,
                                           uint64_t num_indices, const ParallelFor& parallel,
                                           std::shared_ptr<util::Arena> arena) {
    if (parts.empty()) return ColumnStore();
    for (ColumnBuilder& part : parts) part.flush_staged();
    const FillRule rule = parts.front().rule_;
    // Each builder's segments: their moves and their places in the order.
    std::vector<std::vector<uint64_t>> segment_shifts(parts.size());
    std::vector<std::vector<uint32_t>> segment_ranks(parts.size());
    uint32_t rank = 0;
    for (const SegmentPlace& place : order) {
        if (place.builder >= parts.size()) continue;
        segment_shifts[place.builder].push_back(place.shift);
        segment_ranks[place.builder].push_back(rank++);
    }
    // A segment left out of the order keeps its indices and goes after all others.
    for (size_t k = 0; k < parts.size(); ++k) {
        while (segment_shifts[k].size() <= parts[k].segment_) {
            segment_shifts[k].push_back(0);
            segment_ranks[k].push_back(rank++);
        }
    }
    // One heap for all parts; each part's heap references move by the size of the heaps before it.
    std::vector<SignalValue> heap;
    std::vector<uint64_t> heap_base(parts.size());
    size_t direct_ids = 0;
    size_t changes = 0;
    std::vector<uint32_t> far_ids;
    for (size_t k = 0; k < parts.size(); ++k) {
        ColumnBuilder& part = parts[k];
        heap_base[k] = heap.size();
        if (heap.empty()) {
            heap = std::move(part.heap_);
        } else {
            heap.insert(heap.end(), std::make_move_iterator(part.heap_.begin()), std::make_move_iterator(part.heap_.end()));
        }
        part.heap_.clear();
        direct_ids = std::max(direct_ids, part.chains_.size());
        for (const Chain& c : part.chains_) changes += c.count;
        for (const auto& far : part.far_chains_) {
            far_ids.push_back(far.first);
            changes += far.second.count;
        }
    }
    std::sort(far_ids.begin(), far_ids.end());
    far_ids.erase(std::unique(far_ids.begin(), far_ids.end()), far_ids.end());

    std::vector<Column> columns(direct_ids);
    std::vector<Column> far_columns(far_ids.size());
    const size_t total = direct_ids + far_ids.size();
    // Many more pieces than threads, so columns of very different sizes still spread evenly.
    const size_t pieces = std::min<size_t>(total, 256);
    if (!arena) arena = std::make_shared<util::Arena>();  // the arrays of all columns
    const auto id_at = [&](size_t i) { return static_cast<uint32_t>(i < direct_ids ? i : far_ids[i - direct_ids]); };
    // One signal's chains in all parts, with their change count.
    struct Counts {
        size_t changes = 0;
        size_t heap_values = 0;
        bool ordered = true;     // no chain steps back
        bool holds_heap = false;
    };
    const auto gather = [&](uint32_t id, std::vector<Source>& sources) {
        sources.clear();
        Counts counts;
        for (size_t k = 0; k < parts.size(); ++k) {
            if (const Chain* c = parts[k].chain_if(id)) {
                sources.push_back({&parts[k], c, heap_base[k], segment_shifts[k].data(), segment_ranks[k].data()});
                counts.changes += c->count;
                counts.heap_values += c->heap_values;
                counts.ordered = counts.ordered && c->ordered;
                counts.holds_heap = counts.holds_heap || c->holds_heap;
                parts[k].prefetch_start(*c);
            }
        }
        return counts;
    };
    // A small store is built by this thread alone in less time than the workers take to wake.
    constexpr size_t kChangesWorthSharing = size_t{1} << 16;
    (changes < kChangesWorthSharing ? ParallelFor(run_in_turn) : parallel)(pieces, [&](size_t piece) {
        // The next signal's chains are gathered, and their first chunks fetched, before this
        // signal's column is built, so those misses overlap with the building.
        std::vector<Source> sources, ahead;
        std::vector<Change> scratch;  // a copy to sort, for changes out of index order
        const size_t first = piece * total / pieces, stop = (piece + 1) * total / pieces;
        Counts ahead_counts = first < stop ? gather(id_at(first), ahead) : Counts{};
        for (size_t i = first; i < stop; ++i) {
            std::swap(sources, ahead);
            const Counts counts = ahead_counts;
            if (i + 1 < stop) ahead_counts = gather(id_at(i + 1), ahead);
            if (sources.empty()) continue;
            // An in-order build that meets a change out of order gives up; where the column would
            // take heap values, the order is checked first, so none is taken in vain.
            std::optional<Column> column;
            if (counts.ordered && (!counts.holds_heap || in_index_order(sources))) {
                column = build_from_sources(sources, counts.changes, counts.heap_values, num_indices, rule, heap, arena);
            }
            if (!column) column = build_sorted(sources, scratch, counts.heap_values, num_indices, rule, heap, arena);
            (i < direct_ids ? columns[i] : far_columns[i - direct_ids]) = std::move(*column);
        }
    });
    for (ColumnBuilder& part : parts) part = ColumnBuilder(rule);
    heap.clear();
    arena->release_unused();

    std::vector<std::pair<uint32_t, Column>> far;
    for (size_t i = 0; i < far_ids.size(); ++i) far.emplace_back(far_ids[i], std::move(far_columns[i]));
    if (far.empty() && columns.size() <= 4 * changes + 65536) return ColumnStore(std::move(columns));
    // Ids far apart: keep only the columns that exist, by ascending id.
    for (size_t id = 0; id < columns.size(); ++id) {
        if (columns[id].length() != 0) far.emplace_back(static_cast<uint32_t>(id), std::move(columns[id]));
    }
    std::sort(far.begin(), far.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<uint32_t> ids;
    std::vector<Column> present;
    for (auto& [id, column] : far) {
        ids.push_back(id);
        present.push_back(std::move(column));
    }
    return ColumnStore(std::move(ids), std::move(present));
}

}  // namespace quor_core::signal
