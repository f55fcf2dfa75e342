// The second FSDB layout: header tables, the zlib scan and its chunk classification, the name
// lists, the tail fallback, the width section and the value sections.

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <string_view>

#include "bytes/byte_scan.hpp"
#include "trace/derived_scopes.hpp"
#include "formats/fsdb/fsdb.hpp"
#include "formats/fsdb/fsdb_sections.hpp"
#include "formats/fsdb/fsdb_timeline.hpp"
#include "trace/name_table.hpp"
#include "bytes/zlib_inflate.hpp"

namespace quor_core::trace::fsdb {

namespace {

struct Section {
    uint64_t offset;
    uint64_t size;
};

struct HeaderTables {
    std::vector<Section> blocks;
    uint64_t width_offset = 0;
};

HeaderTables read_header_tables(Bytes file) {
    HeaderTables h;
    const uint64_t n = file.size();
    if (n <= 384 || le32(file, 40) > 84) return h;
    const uint64_t table = le32(file, 264);
    h.width_offset = le32(file, 272);
    if (table == 0 || table + 24 >= n) return h;
    const uint16_t count = le16(file, table + 22);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t entry = table + 24 + 12 * i;
        if (!fits(file, entry, 12)) break;
        const uint64_t offset = le32(file, entry);
        if (offset == 0 || offset >= n) continue;
        h.blocks.push_back({offset, le32(file, entry + 8)});
    }
    return h;
}

struct Chunk {
    uint64_t offset;
    std::vector<uint8_t> bytes;
};

bool is_zlib_header(uint8_t a, uint8_t b) {
    return a == 0x78 && (b == 0x01 || b == 0x5E || b == 0x9C || b == 0xDA);
}

std::vector<Chunk> scan_zlib(Bytes file, BoundedInflater& inflater) {
    std::vector<Chunk> chunks;
    const size_t n = file.size();
    size_t p = 0;
    while (p + 2 <= n && chunks.size() < kMaxScannedChunks && !inflater.exhausted()) {
        if (is_zlib_header(file[p], file[p + 1])) {
            auto out = inflater.try_decompress(file.subspan(p));
            if (out && !out->bytes.empty()) {
                const size_t consumed = out->consumed;
                chunks.push_back({p, std::move(out->bytes)});
                p += consumed < 3 ? 2 : consumed;
                continue;
            }
        }
        ++p;
    }
    return chunks;
}

bool contains(Bytes window, std::string_view text) {
    return find_bytes(window, Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size())) != kNotFound;
}

size_t count_name_strings(Bytes window) {
    size_t count = 0;
    scan_printable_runs(window, false, [&](std::string_view run) { count += run.size() >= 3 ? 1 : 0; });
    return count;
}

bool is_tabular(Bytes d) {
    const size_t len = d.size();
    if (len < 11) return false;
    size_t count1 = 0;
    for (size_t i = 0; i + 2 < len && count1 <= 5; i += 3) {
        if (d[i] == 0x01 && d[i + 2] >= 0x40 && d[i + 2] <= 0x7F) ++count1;
    }
    if (count1 > 5) return true;
    if (len < 21) return false;
    const size_t limit = std::min<size_t>(len, 200);
    const size_t offsets = (limit - 11 + 3) / 4;
    size_t count2 = 0;
    for (size_t k = 0; k < offsets; ++k) {
        const size_t o = 8 + 4 * k;
        if (fits(d, o, 4) && (le32(d, o) & 0x00FFFFFCu) < 100) ++count2;
    }
    return count2 > 3;
}

constexpr uint8_t kC121[] = {0xC1, 0x21, 0x00, 0x00};

enum class Use { Drop, ListA, ListB, ListC };

struct Classified {
    Use names = Use::Drop;
    bool value_section = false;
};

Classified classify(Bytes d, bool table_gave_pairs) {
    const size_t len = d.size();
    const Bytes window = d.subspan(0, std::min<size_t>(len, 1024));
    const bool has8c = contains(window, "8C");
    const size_t s = count_name_strings(window);
    const bool excluded = (len >= 4 && (contains(window, "simv") || contains(window, ".log") || contains(window, "csrc"))) ||
                          (len >= 6 && contains(window, "daidir"));
    const bool bang_end = len >= 3 && len <= 119 && d[len - 3] == 0x21 && d[len - 2] == 0 && d[len - 1] == 0 && !excluded;
    const bool c121_end = (len >= 4 && bytes_at(d, len - 4, kC121)) || (len >= 8 && bytes_at(d, len - 8, kC121));
    const auto by_count = [&]() {
        Classified c;
        if (s >= 11) c.names = Use::ListA;
        else if (s >= 3) c.names = Use::ListC;
        return c;
    };
    if (excluded || is_tabular(d)) return {};
    if (has8c) {
        if (s >= 6) return {Use::ListB, true};
        return {Use::Drop, !table_gave_pairs};
    }
    if (bang_end) return by_count();
    if (c121_end && s < 3) return {Use::Drop, !table_gave_pairs};
    return by_count();
}

bool tail_accepts(std::string_view s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (const char c : s) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '$' || c == '.' || c == ':' || c == '[' || c == ']' || c == '_')) {
            return false;
        }
    }
    return true;
}

bool is_letter(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool printable(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// Strings after 0x02-letter markers in the last 4096 bytes of the file.
void scan_tail(Bytes r, NameTable& names) {
    const size_t n = r.size();
    size_t i = 0;
    while (i < n) {
        if (!(i + 1 < n && r[i] == 0x02 && is_letter(r[i + 1]))) {
            ++i;
            continue;
        }
        const bool take = !(i > 0 && r[i - 1] == 0x04);
        size_t j = i + 1;
        for (;;) {
            if (j == n) return;
            if (!printable(r[j])) {
                i = j;
                break;
            }
            size_t k = j;
            while (k < n && printable(r[k])) ++k;
            if (k == n) return;
            if (r[k] != 0x00) {
                i = k;
                break;
            }
            const std::string_view s(reinterpret_cast<const char*>(r.data() + j), k - j);
            if (take && tail_accepts(s)) names.add(s);
            if (k == n - 1) return;
            j = k + 1;
        }
    }
}

// Widths from the width section's records, one per name in order. The section is inflated on
// demand and only as far as the records for all names need, so a stream that inflates without
// end costs no more than kMaxWidthBytes.
void read_widths(Bytes file, uint64_t w, NameTable& names) {
    const uint64_t n = file.size();
    if (w == 0 || w + 4 >= n) return;
    const uint64_t len = le32(file, w);
    if (w + 4 + len > n) return;
    StreamInflater in(file.subspan(w + 4, len), kMaxWidthBytes);
    std::vector<uint32_t> widths;
    const uint32_t num = names.size();
    size_t i = 0;
    while (widths.size() < num && in.available(i)) {
        const uint8_t b = in[i];
        if (b == 0x01) {
            if (!in.available(i + 2)) break;
            const uint8_t t = in[i + 2];
            uint32_t width = 1;
            size_t next = i + 3;
            switch (t) {
                case 0x43:
                case 0x44:
                    width = 8;
                    if (in.available(i + 4)) next = i + 5;
                    break;
                case 0x6A: width = 2; break;
                case 0x78: width = 16; break;
                case 0x7D: width = 32; break;
                default: break;
            }
            widths.push_back(width);
            i = next;
        } else if (b == 0x02) {
            i += 4;
        } else if (b == 0x21) {
            break;
        } else {
            ++i;
        }
    }
    if (in.failed()) return;
    TraceRecord& r = names.record();
    for (size_t k = 0; k < widths.size(); ++k) r.widths[r.signal_names[k]] = widths[k];
}

}  // namespace

TraceRecord parse_modern(Bytes file) {
    const uint64_t n = file.size();
    const HeaderTables header = read_header_tables(file);
    BoundedInflater inflater(kInflateBudget);
    const std::vector<Chunk> chunks = scan_zlib(file, inflater);

    std::set<uint64_t> block_offsets;
    for (const Section& s : header.blocks) block_offsets.insert(s.offset);
    std::vector<const Chunk*> lists[3];  // A, B, C
    std::vector<const Chunk*> value_chunks;
    for (const Chunk& c : chunks) {
        if (block_offsets.count(c.offset) != 0) continue;
        const Classified k = classify(c.bytes, !header.blocks.empty());
        if (k.names == Use::ListA) lists[0].push_back(&c);
        if (k.names == Use::ListB) lists[1].push_back(&c);
        if (k.names == Use::ListC) lists[2].push_back(&c);
        if (k.value_section) value_chunks.push_back(&c);
    }

    NameTable names;
    for (const auto& list : lists) {
        for (const Chunk* c : list) {
            for (const std::string& name : extract_identifiers_fsdb(c->bytes)) names.add(name);
        }
    }
    if (n > 4096 && names.size() == 0) scan_tail(file.subspan(n - 4096), names);
    read_widths(file, header.width_offset, names);

    // Block sections are inflated one at a time as they are decoded, so at most one is held.
    EntryBudget entries(value_entry_limit(n));
    Timeline timeline(names.size(), kMergeWork);
    const auto decode = [&](Bytes section) {
        auto decoded = decode_value_section(section, names.size(), entries);
        if (decoded) timeline.apply_section(std::move(*decoded));
    };
    // Once the entry budget is spent a section can add nothing: every name already holds its
    // time-0 value from the section that spent it.
    for (const Section& s : header.blocks) {
        if (entries.spent() || timeline.exhausted()) break;
        const uint64_t end = std::min(s.offset + s.size, n);
        auto out = inflater.try_decompress(file.subspan(s.offset, end - s.offset));
        const uint64_t wider = std::min(s.offset + s.size + 2, n);
        if (!out && wider != end) out = inflater.try_decompress(file.subspan(s.offset, wider - s.offset));
        if (out) decode(out->bytes);
    }
    for (const Chunk* c : value_chunks) {
        if (entries.spent() || timeline.exhausted()) break;
        decode(c->bytes);
    }

    TraceRecord& r = names.record();
    r.store = std::move(timeline).freeze(r.timestamps);
    r.scopes = derive_scopes(r.signal_names);
    return std::move(r);
}

}  // namespace quor_core::trace::fsdb
