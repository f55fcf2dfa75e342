#include "formats/fsdb/fsdb_sections.hpp"

#include <algorithm>

namespace quor_core::trace::fsdb {

namespace {

constexpr uint8_t kPrefixEnd[] = {0x38, 0x43, 0x00, 0x04, 0x00, 0x08};
constexpr uint8_t kStreamEnd[] = {0xC1, 0x21, 0x00, 0x00};
constexpr uint8_t kTableStart[] = {0x44, 0x00, 0x63, 0x00, 0x03, 0x08};
constexpr uint8_t kAllOnes[] = {0xFF, 0xFF, 0xFF, 0xFF};

// An unsigned LEB128 number of at most 9 bytes; a number cut off by end stops there.
uint64_t read_leb(Bytes d, size_t& pos, size_t end) {
    uint64_t value = 0;
    for (unsigned k = 0; k < 9 && pos < end; ++k) {
        const uint8_t b = d[pos++];
        value |= uint64_t{b & 0x7Fu} << (7 * k);
        if ((b & 0x80) == 0) break;
    }
    return value;
}

struct Header {
    std::optional<uint32_t> limit;
    uint64_t h4 = 0;
    uint64_t step5 = 5;
};

Header read_header(Bytes d, size_t prefix_end) {
    std::vector<uint64_t> nums;
    size_t pos = 0;
    while (pos < prefix_end && nums.size() < 6) nums.push_back(read_leb(d, pos, prefix_end));
    Header h;
    if (nums.size() >= 4 && nums[3] != 0) h.limit = static_cast<uint32_t>(nums[3]);
    if (nums.size() >= 5) h.h4 = nums[4];
    if (nums.size() >= 6) h.step5 = 5 * nums[5] + 5;
    return h;
}

struct TimedByte {
    uint64_t time;
    uint32_t value;
};

struct Shift {
    bool low_bit_only;
    uint32_t offset;
};

struct Records {
    std::vector<Bytes> list;
    std::optional<Bytes> trailer;
    bool sep = false;
};

Records split_records(Bytes area) {
    Records r;
    r.sep = std::find(area.begin(), area.end(), 0x08) != area.end();
    size_t start = 0;
    for (size_t i = 0; i <= area.size(); ++i) {
        if (i == area.size() || area[i] == 0x08) {
            // An empty piece after a final separator is not a record.
            if (!(i == area.size() && r.sep && start == i)) r.list.push_back(area.subspan(start, i - start));
            start = i + 1;
        }
    }
    if (r.sep && r.list.size() >= 2) {
        r.trailer = r.list.back();
        r.list.pop_back();
    }
    return r;
}

struct BaseAndShifts {
    std::vector<TimedByte> base;
    std::vector<Shift> shifts;
};

BaseAndShifts read_records(const Records& recs, const Header& h) {
    BaseAndShifts out;
    uint64_t time_base = 0;
    uint64_t count = 0;
    for (size_t r = 0; r < recs.list.size(); ++r) {
        const Bytes rec = recs.list[r];
        const size_t first = out.base.size();
        uint64_t acc = 0;
        uint64_t step = 0;
        for (size_t i = 0; i + 1 < rec.size(); i += 2) {
            const uint8_t b = rec[i];
            const uint8_t v = rec[i + 1];
            if (b >= 0x80) {
                out.shifts.push_back({false, uint32_t{b & 0x7Fu}});
            } else if (b >= 0x40) {
                out.shifts.push_back({true, uint32_t{b & 0x3Fu}});
            } else if (recs.sep) {
                acc += b;
                out.base.push_back({acc == 0 ? time_base : time_base - 10 + 10 * acc, v});
                ++count;
            } else {
                if (h.limit && count >= *h.limit) break;
                uint64_t time;
                if (out.base.size() == first) {
                    step = 5 * uint64_t{b} + 5;
                    time = step;
                } else {
                    time = out.base.back().time + b * step;
                }
                out.base.push_back({time, v});
                ++count;
            }
        }
        const bool last = r + 1 == recs.list.size();
        if (recs.sep && !last && rec.size() % 2 == 1) {
            const uint64_t time = out.base.size() > first ? out.base.back().time + 10 : time_base;
            out.base.push_back({time, rec.back()});
        }
        if (out.base.size() > first) time_base = out.base.back().time;
    }
    return out;
}

// Index of the first byte at or after from that is below 0x80, plus one; the end when none.
size_t after_leb_tail(Bytes d, size_t from) {
    for (size_t k = from; k < d.size(); ++k) {
        if (d[k] < 0x80) return k + 1;
    }
    return d.size();
}

std::vector<uint64_t> read_value_table(Bytes d, size_t start, uint8_t last_byte) {
    std::vector<uint64_t> values;
    bool has_ff = false;
    const size_t m = d.size();
    size_t i = start;
    while (i + 1 < m) {
        const uint8_t b = d[i];
        if (b == 0x00) {
            if (i + 2 < m && d[i + 1] == 0 && d[i + 2] == 0) break;
            ++i;
        } else if (b == 0x01) {
            if (i + 2 < m && d[i + 2] == 0x38) break;
            values.push_back(d[i + 1]);
            has_ff = has_ff || d[i + 1] == 0xFF;
            i = i + 2 < m ? after_leb_tail(d, i + 2) : i + 2;
        } else if (b < 0x80) {
            if (b >= 0x09 && b != 0x27 && b != 0x38) values.push_back(b);
            ++i;
        } else {
            if (b == 0xC1 && i + 3 < m && d[i + 1] == 0x21 && d[i + 2] == 0 && d[i + 3] == 0) break;
            i = after_leb_tail(d, i);
            if (last_byte == 0xFF && !has_ff) {
                values.push_back(0xFF);
                has_ff = true;
            }
        }
    }
    return values;
}

class EntryList {
public:
    EntryList(uint32_t num, EntryBudget& budget) : num_(num), budget_(budget) {}
    // False once the budget is spent, so producers can stop early.
    bool add(uint64_t time, uint32_t id, uint64_t value) {
        if (!budget_.take()) return false;
        entries_.push_back({time, id, value});
        return true;
    }
    bool spent() const { return budget_.spent(); }
    uint32_t num() const { return num_; }
    std::vector<ValueEntry> take() && { return std::move(entries_); }

private:
    uint32_t num_;
    EntryBudget& budget_;
    std::vector<ValueEntry> entries_;
};

void assign(EntryList& out, const std::vector<uint64_t>& table, const Header& h, const BaseAndShifts& bs) {
    const uint64_t num = out.num();
    const uint64_t last = num == 0 ? 0 : num - 1;
    const uint64_t c = table.size();
    const bool f = h.h4 != 0;
    uint64_t next = 0;
    if (c > 0) {
        for (uint64_t k = 1; k <= c && k < num; ++k) {
            if (!out.add(0, static_cast<uint32_t>(k), table[k - 1])) return;
        }
        next = std::min<uint64_t>(c + 1 + (f ? 1 : 0), last);
        if (f && c + 1 < num && !out.add(h.step5, static_cast<uint32_t>(c + 1), h.h4)) return;
    } else if (f) {
        next = std::min<uint64_t>(2, last);
        if (1 < num && !out.add(h.step5, 1, h.h4)) return;
    }
    if (next < num && !bs.base.empty()) {
        for (const TimedByte& e : bs.base) {
            if (!out.add(e.time, static_cast<uint32_t>(next), e.value)) return;
        }
        ++next;
    }
    for (const Shift& s : bs.shifts) {
        if (next >= num) break;
        for (const TimedByte& e : bs.base) {
            const uint64_t v = s.low_bit_only ? (e.value & 1u) : e.value;
            if (!out.add(e.time + s.offset, static_cast<uint32_t>(next), v)) return;
        }
        ++next;
    }
}

// The generated clock on signal 0. A period of 0 would repeat time 0 for ever: such a clock
// never advances, so it yields its first value at time 0 only.
void add_clock(EntryList& out, Bytes trailer, const std::vector<TimedByte>& base) {
    const uint64_t period = (uint64_t{trailer[2]} * 5) >> 1;
    uint64_t end = 10;
    if (!base.empty()) {
        uint64_t top = 0;
        for (const TimedByte& e : base) top = std::max(top, e.time);
        end = top > UINT64_MAX - 10 ? UINT64_MAX : top + 10;
    }
    uint64_t v = trailer[3] != 0x30 ? 1 : 0;
    for (uint64_t t = 0;; t += period) {
        if (!out.add(t, 0, v)) return;
        v ^= 1;
        if (period == 0 || end - t < period) return;
    }
}

}  // namespace

std::optional<std::vector<ValueEntry>> decode_value_section(Bytes d, uint32_t num_names, EntryBudget& budget) {
    const size_t m = d.size();
    if (m < 8) return std::nullopt;
    size_t prefix_end = find_bytes(d, kPrefixEnd);
    if (prefix_end == kNotFound) {
        if (find_bytes(d, kStreamEnd) == kNotFound) return std::nullopt;
        prefix_end = 0;
        for (int k = 0; k < 4; ++k) read_leb(d, prefix_end, m);
    }
    if (m - prefix_end < 6) return std::nullopt;
    const Header header = read_header(d, prefix_end);

    const size_t area_start = prefix_end + 6;
    size_t area_end = m;
    std::optional<size_t> table_start;
    if (m - area_start >= 6) {
        const size_t q = find_bytes(d, kTableStart, area_start);
        if (q != kNotFound) {
            area_end = q;
            table_start = q + 6;
        }
    }
    for (const Bytes marker : {Bytes(kAllOnes), Bytes(kStreamEnd)}) {
        if (area_end - area_start >= 4) {
            const size_t q = find_bytes(d.subspan(0, area_end), marker, area_start);
            if (q != kNotFound) area_end = q;
        }
    }
    const Bytes area = d.subspan(area_start, area_end - area_start);
    const Records records = split_records(area);
    const BaseAndShifts bs = read_records(records, header);
    const uint8_t last_byte = area.empty() ? 0 : area.back();
    const std::vector<uint64_t> table = table_start ? read_value_table(d, *table_start, last_byte) : std::vector<uint64_t>{};

    EntryList out(num_names, budget);
    assign(out, table, header, bs);
    if (records.trailer && records.trailer->size() >= 4 && ((*records.trailer)[0] & 0x40) != 0) {
        add_clock(out, *records.trailer, bs.base);
    }
    return std::move(out).take();
}

}  // namespace quor_core::trace::fsdb
