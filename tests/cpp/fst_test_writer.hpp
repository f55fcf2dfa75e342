#pragma once
// Builds small FST files byte by byte for tests of the reader.

#include <lz4.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace fst_test {

struct Bytes {
    std::vector<std::uint8_t> b;

    Bytes& u8(std::uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Bytes& u64(std::uint64_t v) {
        for (int i = 7; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes& varint(std::uint64_t v) {
        do {
            std::uint8_t byte = v & 0x7F;
            v >>= 7;
            if (v) byte |= 0x80;
            b.push_back(byte);
        } while (v);
        return *this;
    }
    Bytes& svarint(std::int64_t v) {
        for (;;) {
            const std::uint8_t byte = v & 0x7F;
            v >>= 7;
            const bool done = (v == 0 && !(byte & 0x40)) || (v == -1 && (byte & 0x40));
            b.push_back(done ? byte : (byte | 0x80));
            if (done) return *this;
        }
    }
    Bytes& str(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
        return *this;
    }
    Bytes& raw(const std::vector<std::uint8_t>& v) {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
    Bytes& text(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& fixed_text(const std::string& s, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i) b.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
        return *this;
    }
};

inline std::vector<std::uint8_t> header_block(std::uint64_t start, std::uint64_t end, std::uint64_t signals,
                                              std::uint8_t file_type = 0) {
    Bytes h;
    h.u8(0).u64(329).u64(start).u64(end);
    const double e = 2.718281828459045;
    std::uint8_t le[8];
    std::memcpy(le, &e, 8);  // the test host is little-endian
    for (std::uint8_t x : le) h.u8(x);
    h.u64(0).u64(1).u64(signals).u64(signals).u64(1).u8(static_cast<std::uint8_t>(-9));
    h.fixed_text("test writer", 128).fixed_text("today", 119).u8(file_type).u64(0);
    return h.b;
}

// Geometry with the uncompressed bytes stored as they are.
inline std::vector<std::uint8_t> geometry_block(const std::vector<std::uint32_t>& lengths) {
    Bytes body;
    for (std::uint32_t v : lengths) body.varint(v);
    Bytes g;
    g.u8(3).u64(24 + body.b.size()).u64(body.b.size()).u64(lengths.size()).raw(body.b);
    return g.b;
}

inline std::vector<std::uint8_t> lz4_compress(const std::vector<std::uint8_t>& in) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
    const int n = LZ4_compress_default(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
                                       static_cast<int>(in.size()), static_cast<int>(out.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

inline std::vector<std::uint8_t> hierarchy_lz4_block(const std::vector<std::uint8_t>& entries) {
    const std::vector<std::uint8_t> packed = lz4_compress(entries);
    Bytes h;
    h.u8(6).u64(16 + packed.size()).u64(entries.size()).raw(packed);
    return h.b;
}

// Hierarchy compressed with LZ4 twice.
inline std::vector<std::uint8_t> hierarchy_lz4duo_block(const std::vector<std::uint8_t>& entries) {
    const std::vector<std::uint8_t> once = lz4_compress(entries);
    const std::vector<std::uint8_t> twice = lz4_compress(once);
    Bytes middle;
    middle.varint(once.size());
    Bytes h;
    h.u8(7).u64(16 + middle.b.size() + twice.size()).u64(entries.size()).raw(middle.b).raw(twice);
    return h.b;
}

// Entry bytes of a variable declaration.
inline std::vector<std::uint8_t> var_entry(const std::string& name, std::uint32_t length, std::uint32_t alias = 0,
                                           std::uint8_t type = 16) {
    Bytes v;
    v.u8(type).u8(0).str(name).varint(length).varint(alias);
    return v.b;
}

inline std::vector<std::uint8_t> scope_entry(const std::string& name) {
    Bytes s;
    s.u8(254).u8(0).str(name).str("");
    return s.b;
}

struct VcBlock {
    std::uint8_t kind = 1;  // 1, 5 or 8
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::vector<std::uint8_t> frame;
    std::uint64_t frame_signals = 0;
    std::vector<std::uint64_t> times;
    // Raw change bytes per signal index (stored uncompressed); nullopt: no data.
    std::vector<std::optional<std::vector<std::uint8_t>>> data;
    // Per signal index, an alias target index instead of data.
    std::vector<std::optional<std::uint32_t>> alias_of;
    std::uint8_t pack = 'Z';
};

inline std::vector<std::uint8_t> vc_block(const VcBlock& layout) {
    Bytes body;  // from the frame lengths to the end of the time table trailer
    body.varint(layout.frame.size()).varint(layout.frame.size()).varint(layout.frame_signals).raw(layout.frame);
    body.varint(layout.data.size());
    body.u8(layout.pack);
    // Data entries, each an uncompressed-length 0 followed by the bytes.
    std::vector<std::uint64_t> offsets(layout.data.size(), 0);
    std::uint64_t at = 1;
    Bytes entries;
    for (std::size_t i = 0; i < layout.data.size(); ++i) {
        if (!layout.data[i]) continue;
        offsets[i] = at;
        Bytes e;
        e.varint(0).raw(*layout.data[i]);
        entries.raw(e.b);
        at += e.b.size();
    }
    body.raw(entries.b);
    Bytes chain;
    const auto alias = [&](std::size_t i) -> std::optional<std::uint32_t> {
        return i < layout.alias_of.size() ? layout.alias_of[i] : std::nullopt;
    };
    if (layout.kind == 8) {
        std::uint64_t prev = 0;
        std::uint64_t skip = 0;
        for (std::size_t i = 0; i < layout.data.size(); ++i) {
            const bool has = offsets[i] != 0 || alias(i);
            if (!has) {
                ++skip;
                continue;
            }
            if (skip) chain.varint(skip << 1);
            skip = 0;
            if (alias(i)) {
                chain.svarint((-static_cast<std::int64_t>(*alias(i)) - 1) * 2 + 1);
            } else {
                chain.svarint(static_cast<std::int64_t>(offsets[i] - prev) * 2 + 1);
                prev = offsets[i];
            }
        }
        if (skip) chain.varint(skip << 1);
    } else {
        std::uint64_t prev = 0;
        std::uint64_t skip = 0;
        for (std::size_t i = 0; i < layout.data.size(); ++i) {
            const bool has = offsets[i] != 0 || alias(i);
            if (!has) {
                ++skip;
                continue;
            }
            if (skip) chain.varint(skip << 1);
            skip = 0;
            if (alias(i)) {
                chain.varint(0).varint(*alias(i) + 1);
            } else {
                chain.varint(((offsets[i] - prev) << 1) | 1);
                prev = offsets[i];
            }
        }
        if (skip) chain.varint(skip << 1);
    }
    body.raw(chain.b).u64(chain.b.size());
    Bytes table;
    std::uint64_t last = 0;
    for (std::uint64_t t : layout.times) {
        table.varint(t - last);
        last = t;
    }
    body.raw(table.b).u64(table.b.size()).u64(table.b.size()).u64(layout.times.size());
    Bytes block;
    block.u8(layout.kind).u64(32 + body.b.size()).u64(layout.start).u64(layout.end).u64(0).raw(body.b);
    return block.b;
}

inline std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace fst_test
