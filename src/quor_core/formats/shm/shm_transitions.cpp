// Values from SHM transition files: fixed 64-byte-aligned block headers pointing at state bytes.

#include <algorithm>
#include <optional>

#include "signal/column_builder.hpp"
#include "trace/column_budget.hpp"
#include "formats/shm/shm.hpp"
#include "trace/pool_parallel.hpp"

namespace quor_core::trace::shm {

namespace {

constexpr uint8_t kBlockMark[] = {0x00, 0x1B, 0x22, 0x00};

struct Block {
    uint64_t time;
    uint64_t count;
    uint64_t extra_end;
    uint64_t state_start;
    uint64_t state_end;
};

uint64_t time_scale(Bytes trn) {
    switch (be32(trn, 8)) {
        case 6: return 100;
        case 5: return 10;
        default: return 1000;
    }
}

bool state_is_one(uint8_t x) { return (x & 0x18) == 0x10; }

// Collects one file's entries under the load's entry budget and remembers which signals got a
// value at a time other than 0.
class Entries {
public:
    Entries(std::vector<Entry>& out, uint64_t& budget, uint32_t num_names)
        : out_(out), budget_(budget), timed_(num_names, false) {}
    bool add(uint64_t time, uint64_t id, uint8_t value) {
        if (budget_ == 0) return false;
        --budget_;
        out_.push_back({time, static_cast<uint32_t>(id), value});
        if (time != 0) timed_[id] = true;
        return true;
    }
    bool any_timed(uint64_t first, uint64_t count) const {
        for (uint64_t i = 0; i < count; ++i) {
            if (timed_[first + i]) return true;
        }
        return false;
    }

private:
    std::vector<Entry>& out_;
    uint64_t& budget_;
    std::vector<bool> timed_;
};

// Decodes one block for signals s, s+1, ...; returns the number of signals to advance by, or
// nothing when the block was not decoded. Blocks that no rule decodes get no value.
std::optional<uint64_t> decode_block(Bytes trn, const Block& b, uint64_t s, uint64_t remaining, uint64_t scale,
                                     Entries& out) {
    const uint64_t len = trn.size();
    const uint64_t width = b.state_end - b.state_start;
    const uint64_t n = std::min(width, remaining);
    bool decoded = false;
    if (n > 0 && b.state_start + n <= len) {
        const Bytes x = trn.subspan(b.state_start, n);
        const bool coded = std::all_of(x.begin(), x.end(), [](uint8_t v) { return (v & 0x18) == 0x08 || (v & 0x18) == 0x10; });
        const bool plain = !coded && std::all_of(x.begin(), x.end(), [](uint8_t v) { return v == 0x00 || v == 0x40; });
        if (coded || plain) {
            for (uint64_t i = 0; i < n; ++i) {
                const uint8_t v = coded ? (state_is_one(x[i]) ? 1 : 0) : (x[i] == 0x40 ? 1 : 0);
                out.add(0, s + i, v);
            }
            decoded = true;
        }
    }
    const uint64_t step = b.time * scale / 1000;
    if (!decoded && width >= 4 && b.count != 1 && b.time != 0 && b.state_end <= len && width >= b.count + 1 &&
        width - b.count >= 2 && width - b.count <= 4) {
        const uint64_t bits = std::min<uint64_t>(8, remaining);
        uint8_t prev = trn[b.state_start];
        for (uint64_t j = 0; j < bits; ++j) out.add(0, s + j, (prev >> (7 - j)) & 1);
        for (uint64_t k = 0; k < b.count; ++k) {
            const uint64_t t = step * (k + 1) / (b.count + 1);
            const uint8_t y = trn[b.state_start + 1 + k] ^ prev;
            for (uint64_t j = 0; j < bits; ++j) {
                const uint8_t bit = (y >> (7 - j)) & 1;
                if (bit != ((prev >> (7 - j)) & 1)) out.add(t, s + j, bit);
            }
            prev = y;
        }
        decoded = true;
    }
    if (!decoded) return std::nullopt;
    if (b.count != 0 && b.time != 0 && !out.any_timed(s, n)) {
        for (uint64_t k = 1; k <= b.count; ++k) {
            for (uint64_t i = 0; i < n; ++i) {
                const uint8_t init = state_is_one(trn[b.state_start + i]) ? 1 : 0;
                if (!out.add(step * k / (b.count + 1), s + i, static_cast<uint8_t>((k & 1) ^ init))) return n;
            }
        }
    }
    return n;
}

}  // namespace

bool decode_transitions(Bytes trn, uint32_t num_names, Budget& budget, FileValues& out) {
    const uint64_t len = trn.size();
    if (len <= 23 || be32(trn, 0) != kMagic || num_names == 0) return false;
    const uint64_t scale = time_scale(trn);
    std::vector<Block> blocks;
    uint64_t tmax = 0;
    for (uint64_t q = 0; q + 64 <= len; q += 64) {
        if (!bytes_at(trn, q, kBlockMark)) continue;
        const Block b{be32(trn, q + 28), be32(trn, q + 40), be32(trn, q + 48), be32(trn, q + 52), be32(trn, q + 56)};
        tmax = std::max(tmax, b.time);
        if (b.count != 0 && b.state_start <= b.state_end && b.state_end <= len && b.extra_end <= len && b.state_start < len) {
            blocks.push_back(b);
        }
    }
    Entries entries(out.entries, budget.entries, num_names);
    uint64_t s = 0;
    for (size_t k = 0; k < blocks.size(); ++k) {
        const Block& b = blocks[k];
        const uint64_t remaining = num_names > s ? num_names - s : 0;
        // Testing a block's state bytes costs up to one step per remaining signal.
        const uint64_t cost = std::min(b.state_end - b.state_start, remaining) + 1;
        if (cost > budget.work) {
            budget.work = 0;
            break;
        }
        budget.work -= cost;
        if (const auto advance = decode_block(trn, b, s, remaining, scale, entries)) {
            s += *advance;
        } else if (b.state_start == b.state_end) {
            s += 1;
        } else {
            const uint64_t after = blocks.size() - 1 - k;
            s += remaining > after + 1 ? remaining - after : 1;
        }
    }
    out.times.reserve(out.entries.size() + 2);
    out.times.push_back(0);
    if (tmax != 0) out.times.push_back(tmax * scale / 1000);
    for (const Entry& e : out.entries) out.times.push_back(e.time);
    std::sort(out.times.begin(), out.times.end());
    out.times.erase(std::unique(out.times.begin(), out.times.end()), out.times.end());
    return true;
}

// Each file's values stay at their own times: the trace's time axis is the union of the files'
// time lists, the files' entries are stored in file order (a later file wins at the same signal
// and time), every name without a value at time 0 holds 0 there, and values carry forward.
void store_values(std::vector<FileValues> files, uint32_t num_names, TraceRecord& r) {
    std::vector<uint64_t> axis{0};
    for (FileValues& f : files) {
        std::vector<uint64_t> merged;
        merged.reserve(axis.size() + f.times.size());
        std::set_union(axis.begin(), axis.end(), f.times.begin(), f.times.end(), std::back_inserter(merged));
        axis = std::move(merged);
        std::vector<uint64_t>().swap(f.times);
    }
    std::vector<bool> changing(num_names, false);
    for (const FileValues& f : files) {
        for (const Entry& e : f.entries) changing[e.id] = changing[e.id] || e.time != 0;
    }
    axis.resize(kept_timestamps(static_cast<uint64_t>(std::count(changing.begin(), changing.end(), true)), axis.size()));
    signal::ColumnBuilder builder(signal::FillRule::SetThenFill);
    std::vector<bool> set_at_zero(num_names, false);
    for (const FileValues& f : files) {
        for (const Entry& e : f.entries) {
            const auto idx = static_cast<uint64_t>(std::lower_bound(axis.begin(), axis.end(), e.time) - axis.begin());
            if (idx == axis.size()) continue;  // a time past the kept axis
            builder.set_uint(e.id, idx, e.value);
            if (idx == 0) set_at_zero[e.id] = true;
        }
    }
    if (!files.empty()) {
        for (uint32_t id = 0; id < num_names; ++id) {
            if (!set_at_zero[id]) builder.set_uint(id, 0, 0);
        }
    }
    r.timestamps = std::move(axis);
    r.store = std::move(builder).freeze(r.timestamps.size(), pool_parallel_for());
}

}  // namespace quor_core::trace::shm
