#pragma once
// Builders that lay out the bytes of FSDB, WLF, SHM and VPD files for the loader tests and the
// fuzzers' seed corpora.

#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fixtures {

using Buf = std::vector<uint8_t>;

inline void put_le32(Buf& b, size_t pos, uint32_t v) {
    if (b.size() < pos + 4) b.resize(pos + 4);
    for (int i = 0; i < 4; ++i) b[pos + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put_le16(Buf& b, size_t pos, uint16_t v) {
    if (b.size() < pos + 2) b.resize(pos + 2);
    b[pos] = static_cast<uint8_t>(v);
    b[pos + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put_be32(Buf& b, size_t pos, uint32_t v) {
    if (b.size() < pos + 4) b.resize(pos + 4);
    for (int i = 0; i < 4; ++i) b[pos + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline void put_be16(Buf& b, size_t pos, uint16_t v) {
    if (b.size() < pos + 2) b.resize(pos + 2);
    b[pos] = static_cast<uint8_t>(v >> 8);
    b[pos + 1] = static_cast<uint8_t>(v);
}
inline void put_bytes(Buf& b, size_t pos, const Buf& bytes) {
    if (b.size() < pos + bytes.size()) b.resize(pos + bytes.size());
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<ptrdiff_t>(pos));
}
inline void append(Buf& b, const Buf& more) { b.insert(b.end(), more.begin(), more.end()); }

// Each name followed by a NUL, with a NUL in front so the first one starts cleanly.
inline Buf nul_strings(const std::vector<std::string>& names) {
    Buf b{0};
    for (const std::string& s : names) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
    }
    return b;
}

inline Buf zlib(const Buf& data, int level = 6) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Buf out(size);
    compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level);
    out.resize(size);
    return out;
}

// ---- FSDB, second layout ----

// A value section: header numbers as LEB128, the prefix-end marker, the value area, and an
// optional value table behind its marker.
inline Buf fsdb_section(const std::vector<uint64_t>& header, const Buf& area, const std::optional<Buf>& table = {}) {
    Buf b;
    for (uint64_t v : header) {
        do {
            uint8_t byte = v & 0x7F;
            v >>= 7;
            if (v) byte |= 0x80;
            b.push_back(byte);
        } while (v);
    }
    append(b, {0x38, 0x43, 0x00, 0x04, 0x00, 0x08});
    append(b, area);
    if (table) {
        append(b, {0x44, 0x00, 0x63, 0x00, 0x03, 0x08});
        append(b, *table);
    }
    while (b.size() < 8) b.push_back(0);
    return b;
}

struct FsdbModern {
    std::vector<Buf> name_chunks;      // plain bytes, compressed and placed after the header
    std::vector<Buf> block_sections;   // plain bytes, listed in the block table
    std::optional<Buf> width_records;  // plain bytes of the width section
    uint16_t extra_table_entries = 0;  // more table entries pointing at the first block section

    Buf build() const {
        Buf f(1024, 0);
        put_bytes(f, 4, {0x1C, 0x3E, 0xD9, 0x48});
        put_le32(f, 40, 0);
        std::vector<std::pair<uint32_t, uint32_t>> table;
        for (const Buf& s : block_sections) {
            const Buf z = zlib(s);
            table.emplace_back(static_cast<uint32_t>(f.size()), static_cast<uint32_t>(z.size()));
            append(f, z);
            append(f, Buf(16, 0));
        }
        for (uint16_t i = 0; i < extra_table_entries && !table.empty(); ++i) table.push_back(table.front());
        for (const Buf& c : name_chunks) {
            append(f, zlib(c));
            append(f, Buf(16, 0));
        }
        if (width_records) {
            const Buf z = zlib(*width_records);
            put_le32(f, 272, static_cast<uint32_t>(f.size()));
            Buf len;
            put_le32(len, 0, static_cast<uint32_t>(z.size()));
            append(f, len);
            append(f, z);
            append(f, Buf(16, 0));
        }
        if (!table.empty()) {
            const auto t = static_cast<uint32_t>(f.size());
            put_le32(f, 264, t);
            Buf head(24, 0);
            put_le16(head, 22, static_cast<uint16_t>(table.size()));
            append(f, head);
            for (auto [off, size] : table) {
                Buf e(12, 0);
                put_le32(e, 0, off);
                put_le32(e, 8, size);
                append(f, e);
            }
        }
        append(f, Buf(64, 0));
        return f;
    }
};

inline Buf fsdb_first_layout(const std::vector<std::string>& names) {
    Buf f(272, 0);
    put_bytes(f, 4, {0xFD, 0xE0, 0x99, 0xC1});
    append(f, nul_strings(names));
    return f;
}

// ---- WLF ----

inline Buf wlf_header(const std::vector<std::string>& names, uint16_t announced) {
    Buf page(8192, 0);
    put_be16(page, 24, announced);
    size_t pos = 40;
    for (const std::string_view s : {"v10", "sim", "x"}) {
        page[pos++] = static_cast<uint8_t>(s.size());
        for (char c : s) page[pos++] = static_cast<uint8_t>(c);
    }
    const Buf list = nul_strings(names);
    put_bytes(page, pos, list);
    put_be16(page, 2, static_cast<uint16_t>(pos + list.size()));
    return page;
}

// A value page: FF FF mark, record area length, the records from byte 16, padded with 0x01 bytes
// in its tail so that it has enough non-zero bytes.
inline Buf wlf_value_page(const Buf& records, bool pad = true) {
    Buf page(8192, 0);
    page[0] = page[1] = 0xFF;
    put_be16(page, 2, static_cast<uint16_t>(records.size()));
    put_bytes(page, 16, records);
    if (pad) {
        for (size_t i = 8192 - 32; i < 8192; ++i) page[i] = 0x01;
    }
    return page;
}

// ---- SHM ----

struct ShmRecord {
    uint32_t signature;
    std::vector<std::string> strings;
};

// A design file: header, then records chained by their next-record positions.
inline Buf shm_design(const std::vector<ShmRecord>& records) {
    Buf f(128, 0);
    put_be32(f, 0, 0xA19511BF);
    for (size_t i = 0; i < records.size(); ++i) {
        const size_t p = f.size();
        Buf r(12, 0);
        put_be32(r, 0, records[i].signature);
        append(r, nul_strings(records[i].strings));
        while (r.size() % 4) r.push_back(0);
        put_be32(r, 4, static_cast<uint32_t>(p + r.size()));
        append(f, r);
    }
    append(f, Buf(16, 0));
    return f;
}

struct ShmBlock {
    uint32_t time;
    uint32_t count;
    Buf state;  // the state bytes
};

inline Buf shm_transitions(const std::vector<ShmBlock>& blocks, uint32_t scale_code = 0) {
    Buf f(64, 0);
    put_be32(f, 0, 0xA19511BF);
    put_be32(f, 8, scale_code);
    for (const ShmBlock& b : blocks) {
        const size_t q = f.size();
        Buf h(64, 0);
        put_bytes(h, 0, {0x00, 0x1B, 0x22, 0x00});
        const auto state_at = static_cast<uint32_t>(q + 64);
        put_be32(h, 28, b.time);
        put_be32(h, 40, b.count);
        put_be32(h, 52, state_at);
        put_be32(h, 56, static_cast<uint32_t>(state_at + b.state.size()));
        put_be32(h, 48, static_cast<uint32_t>(state_at + b.state.size()));
        append(f, h);
        append(f, b.state);
        while (f.size() % 64) f.push_back(0);
    }
    return f;
}

// ---- VPD ----

inline Buf vpd_file(const std::vector<Buf>& sections) {
    Buf f(144, 0);  // a section offset must lie past the 128-byte header
    put_le32(f, 0, 0x12345678);
    for (size_t i = 0; i < sections.size() && i < 20; ++i) {
        put_le32(f, 48 + 4 * i, static_cast<uint32_t>(f.size()));
        append(f, sections[i]);
    }
    return f;
}

// ---- files ----

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quor_fmt_XXXXXX").string();
        if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string write(const std::string& name, const Buf& bytes) const {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace fixtures
