// Opening, hierarchy and value delivery on small files assembled in memory.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fst_container/hierarchy.hpp"
#include "fst_container/reader.hpp"
#include "fst_test_writer.hpp"

using namespace fst_container;
using namespace fst_test;
using Buf = std::vector<std::uint8_t>;

namespace {

Result<FstReader> open_bytes(const Buf& bytes, bool time_table = true) {
    return FstReader::open_internal(std::make_unique<VectorSource>(bytes), time_table);
}

// Every delivered value as "time:handle:value".
std::vector<std::string> read_all(FstReader& reader, const FstFilter& filter = {}) {
    std::vector<std::string> events;
    const Status s = reader.read_signals(filter, [&](std::uint64_t t, FstSignalHandle h, const FstSignalValue& v) {
        std::string event = std::to_string(t);
        event += ':';
        event += std::to_string(h.value());
        event += ':';
        if (v.is_real()) {
            event += 'r';
            event += std::to_string(v.real);
        } else {
            event.append(v.bytes.data(), v.bytes.size());
        }
        events.push_back(std::move(event));
    });
    EXPECT_TRUE(s.ok()) << s.error().debug();
    return events;
}

Buf hierarchy_of(std::initializer_list<Buf> entries) {
    Buf all;
    for (const Buf& e : entries) all.insert(all.end(), e.begin(), e.end());
    return hierarchy_lz4_block(all);
}

// Two signals: a one-bit signal and a 4-bit vector.
Buf two_signal_prelude(std::uint64_t start, std::uint64_t end) {
    return concat({header_block(start, end, 2), geometry_block({1, 4}),
                   hierarchy_of({scope_entry("top"), var_entry("a", 1), var_entry("v", 4)})});
}

VcBlock two_signal_block(std::uint8_t kind, std::uint64_t start, std::vector<std::uint64_t> times) {
    VcBlock b;
    b.kind = kind;
    b.start = start;
    b.end = times.back();
    b.frame = {'x', '0', '0', '0', '1'};
    b.frame_signals = 2;
    b.times = std::move(times);
    // a: 1 at index 0, then 0 one index later; v: 1010 (packed) at index 1,
    // then 1x0z (as characters) one index later.
    b.data = {Buf{0x02, 0x04}, Buf{0x02, 0xA0, 0x03, '1', 'x', '0', 'z'}};
    return b;
}

TEST(FstReader, FrameDeliveredWhenBlockStartsBeforeItsFirstTime) {
    for (std::uint8_t kind : {1, 5, 8}) {
        const Buf file = concat({two_signal_prelude(0, 30), vc_block(two_signal_block(kind, 0, {10, 20, 30}))});
        auto reader = open_bytes(file);
        ASSERT_TRUE(reader.ok()) << reader.error().debug();
        const std::vector<std::string> expected = {"0:1:x",  "0:2:0001", "10:1:1",
                                                   "20:1:0", "20:2:1010", "30:2:1x0z"};
        EXPECT_EQ(read_all(*reader), expected) << int(kind);
        EXPECT_EQ(*reader->metadata().time_table, (std::vector<std::uint64_t>{0, 10, 20, 30}));
    }
}

TEST(FstReader, NoFrameWhenBlockStartsAtItsFirstTime) {
    const Buf file = concat({two_signal_prelude(10, 30), vc_block(two_signal_block(1, 10, {10, 20, 30}))});
    auto reader = open_bytes(file);
    ASSERT_TRUE(reader.ok());
    const std::vector<std::string> expected = {"10:1:1", "20:1:0", "20:2:1010", "30:2:1x0z"};
    EXPECT_EQ(read_all(*reader), expected);
    EXPECT_EQ(*reader->metadata().time_table, (std::vector<std::uint64_t>{10, 20, 30}));
}

TEST(FstReader, OnlyTheFirstProcessedBlockDeliversItsFrame) {
    const Buf file = concat({two_signal_prelude(0, 60), vc_block(two_signal_block(1, 0, {10, 20, 30})),
                             vc_block(two_signal_block(8, 30, {40, 50, 60}))});
    auto reader = open_bytes(file);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(read_all(*reader).size(), 6u + 4u);
    EXPECT_EQ(reader->metadata().time_table->size(), 7u);  // not merged across blocks

    // Skipping the first block makes the second the first processed one.
    FstFilter later;
    later.start = 35;
    const std::vector<std::string> expected = {"30:1:x", "30:2:0001", "40:1:1", "50:1:0", "50:2:1010", "60:2:1x0z"};
    EXPECT_EQ(read_all(*reader, later), expected);

    FstFilter early;
    early.end = 5;
    EXPECT_EQ(read_all(*reader, early).size(), 2u);  // the frame only: the walk stops at time 10
    FstFilter before;
    before.start = 100;
    EXPECT_TRUE(read_all(*reader, before).empty());
}

TEST(FstReader, FilterSelectsSignalsAndEndTime) {
    const Buf file = concat({two_signal_prelude(0, 30), vc_block(two_signal_block(1, 0, {10, 20, 30}))});
    auto reader = open_bytes(file);
    ASSERT_TRUE(reader.ok());
    FstFilter only_v;
    only_v.include = std::vector<FstSignalHandle>{*FstSignalHandle::from_value(2)};
    only_v.end = 20;
    const std::vector<std::string> expected = {"0:2:0001", "20:2:1010"};
    EXPECT_EQ(read_all(*reader, only_v), expected);
}

TEST(FstReader, SameTimeChangesKeepTheirOrder) {
    VcBlock b;
    b.start = 0;
    b.end = 10;
    b.frame = {'0'};
    b.frame_signals = 1;
    b.times = {0, 10};
    b.data = {Buf{0x02, 0x01, 0x13, 0x00}};  // 1 at 0, x at 0, z at 1, 0 at 1
    const Buf file = concat({header_block(0, 10, 1), geometry_block({1}), hierarchy_of({var_entry("a", 1)}),
                             vc_block(b)});
    auto reader = open_bytes(file);
    ASSERT_TRUE(reader.ok());
    const std::vector<std::string> expected = {"0:1:1", "0:1:x", "10:1:z", "10:1:0"};
    EXPECT_EQ(read_all(*reader), expected);
}

TEST(FstReader, AliasedDataIsDeliveredForBothSignals) {
    for (std::uint8_t kind : {5, 8}) {
        VcBlock b;
        b.kind = kind;
        b.start = 0;
        b.end = 5;
        b.frame = {'0', '0', '0'};
        b.frame_signals = 3;
        b.times = {0, 5};
        b.data = {Buf{0x06}, std::nullopt, std::nullopt};
        b.alias_of = {std::nullopt, std::nullopt, 0u};
        const Buf file = concat({header_block(0, 5, 3), geometry_block({1, 1, 1}),
                                 hierarchy_of({var_entry("a", 1), var_entry("b", 1), var_entry("c", 1)}),
                                 vc_block(b)});
        auto reader = open_bytes(file);
        ASSERT_TRUE(reader.ok());
        const std::vector<std::string> expected = {"5:3:1", "5:1:1"};
        EXPECT_EQ(read_all(*reader), expected) << int(kind);
    }
}

TEST(FstReader, RealsAndVariableLengthSignals) {
    double d = -2.5;
    Buf real_bytes(8);
    std::memcpy(real_bytes.data(), &d, 8);
    Buf real_change = {0x03};
    real_change.insert(real_change.end(), real_bytes.begin(), real_bytes.end());
    VcBlock b;
    b.start = 0;
    b.end = 7;
    b.frame = real_bytes;  // the variable-length signal takes no frame bytes
    b.frame_signals = 2;
    b.times = {3, 7};
    b.data = {real_change, Buf{0x00, 0x04, 'i', 'd', 'l', 'e', 0x02, 0x00}};
    const Buf file = concat({header_block(0, 7, 2), geometry_block({0, 0xFFFFFFFFu}),
                             hierarchy_of({var_entry("r", 64, 0, 3), var_entry("s", 0, 0, 21)}), vc_block(b)});
    auto reader = open_bytes(file);
    ASSERT_TRUE(reader.ok());
    const auto& signals = reader->metadata().signals;
    EXPECT_TRUE(signals[0].is_real());
    EXPECT_TRUE(signals[1].is_var_length());
    const std::vector<std::string> expected = {"0:1:r-2.500000", "3:2:idle", "7:2:", "7:1:r-2.500000"};
    EXPECT_EQ(read_all(*reader), expected);
}

// A real given bits: one byte of eight packed characters, read as the bytes of the double.
TEST(FstReader, PackedRealChangeIsReadAsItsCharacters) {
    struct Case {
        std::uint8_t packed;
        const char* chars;
    };
    const std::vector<Case> cases = {{0x55, "01010101"}, {0x00, "00000000"}, {0xF0, "11110000"}, {0xFF, "11111111"}};
    for (const Case& c : cases) {
        double want = 0;
        std::memcpy(&want, c.chars, 8);
        VcBlock b;
        b.end = 5;
        b.frame_signals = 1;
        b.times = {0, 5};
        // At slot 0 the packed form, at slot 1 a plain real.
        b.data = {Buf{0x00, c.packed, 0x03, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}};
        const Buf file = concat({header_block(0, 5, 1), geometry_block({0}), hierarchy_of({var_entry("r", 64, 0, 3)}),
                                 vc_block(b)});
        auto reader = open_bytes(file);
        ASSERT_TRUE(reader.ok());
        std::vector<double> got;
        const Status s = reader->read_signals({}, [&](std::uint64_t, FstSignalHandle, const FstSignalValue& v) {
            got.push_back(v.real);
        });
        ASSERT_TRUE(s.ok()) << s.error().display();
        EXPECT_EQ(got, (std::vector<double>{want, 1.5})) << c.chars;
    }
}

TEST(FstReader, BrokenChangeDataIsAnError) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> geometry;
        Buf data;
    };
    const std::vector<Case> cases = {
        {"packed real cut short", {0}, Buf{0x02}},
        {"real cut short", {0}, Buf{0x03, 0, 0}},
        {"vector cut short", {8}, Buf{0x03, '1', '0'}},
        {"packed vector cut short", {20}, Buf{0x02, 0xFF}},
        {"string cut short", {0xFFFFFFFFu}, Buf{0x00, 0x09, 'a'}},
        {"time index past the table", {1}, Buf{0x06, 0x0C}},
    };
    for (const auto& c : cases) {
        VcBlock b;
        b.start = 0;
        b.end = 5;
        b.frame_signals = 1;
        b.times = {0, 5};
        b.data = {c.data};
        const Buf file = concat({header_block(0, 5, 1), geometry_block(c.geometry),
                                 hierarchy_of({var_entry("a", 1)}), vc_block(b)});
        auto reader = open_bytes(file);
        ASSERT_TRUE(reader.ok()) << c.what;
        const Status s = reader->read_signals({}, [](std::uint64_t, FstSignalHandle, const FstSignalValue&) {});
        EXPECT_FALSE(s.ok()) << c.what;
    }
}

TEST(FstReader, HeaderTimesTakenFromBlocksWhenZero) {
    VcBlock first = two_signal_block(1, 10, {10, 15, 20});
    first.end = 20;
    VcBlock second = two_signal_block(1, 20, {25, 30, 35});
    const Buf file = concat({two_signal_prelude(0, 0), vc_block(first), vc_block(second)});
    auto reader = open_bytes(file, false);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader->metadata().header.start_time, 10u);
    EXPECT_EQ(reader->metadata().header.end_time, 35u);
    EXPECT_FALSE(reader->metadata().time_table.has_value());
    EXPECT_EQ(reader->metadata().data_sections.size(), 2u);
}

TEST(FstOpen, StructuralErrors) {
    const Buf header = header_block(0, 10, 1);
    const Buf geometry = geometry_block({1});
    const Buf hierarchy = hierarchy_of({var_entry("a", 1)});
    Buf skip_end;
    Bytes skip;
    skip.u8(255).u64(0);
    skip_end = skip.b;
    struct Case {
        const char* what;
        Buf file;
        std::string message;  // empty: opens
    };
    const std::string after_geometry = std::to_string(header.size() + geometry.size());
    const std::string after_hierarchy = std::to_string(header.size() + geometry.size() + hierarchy.size());
    const Buf cut_geometry(geometry.begin(), geometry.end() - 1);
    const std::vector<Case> cases = {
        {"empty file", {}, "I/O operation failed: the file is empty"},
        {"unknown first block", {9, 0, 0}, "Unexpected block type: 9, at byte 0"},
        {"gzip file", {0x1F, 0x8B, 8, 0}, "Unexpected block type: 31, at byte 0, the file is compressed with gzip: decompress it first"},
        {"neither geometry nor hierarchy", header, "The FST file is incomplete: geometry block is missing."},
        {"no hierarchy", concat({header, geometry}), "The FST file is incomplete: hierarchy block is missing."},
        {"no header", concat({geometry, hierarchy}), "I/O operation failed: the FST file has no header block"},
        {"complete", concat({header, geometry, hierarchy}), ""},
        {"skip of length 0 ends the scan", concat({header, geometry, hierarchy, skip_end, Buf{77, 1, 2}}), ""},
        {"second hierarchy", concat({header, geometry, hierarchy, hierarchy}),
         "I/O operation failed: the file holds a second hierarchy block, in the hierarchy block at byte " + after_hierarchy},
        {"file ends inside the header", Buf(header.begin(), header.begin() + 100),
         "I/O operation failed: the file ends at byte 100, in the header block at byte 0"},
        {"file ends inside a block", concat({header, cut_geometry}),
         "I/O operation failed: the block claims " + std::to_string(geometry.size() - 1) + " bytes, but the file ends at byte " +
             std::to_string(header.size() + cut_geometry.size()) + ", in the geometry block at byte " + std::to_string(header.size())},
        {"file ends after a type byte", concat({header, geometry, hierarchy, Buf{3, 0, 0}}),
         "I/O operation failed: the file ends at byte " + std::to_string(std::stoul(after_hierarchy) + 3) +
             ", in the geometry block at byte " + after_hierarchy},
        {"unknown later block", concat({header, geometry, hierarchy, Buf{42}}), "Unexpected block type: 42, at byte " + after_hierarchy},
        {"gzip wrapper inside", concat({header, geometry, hierarchy, Buf{254, 0, 0}}),
         "I/O operation failed: a gzip wrapper block may only open the file, in the gzip wrapper block at byte " + after_hierarchy},
        {"block length past the end", concat({header, geometry, Buf{1, 0x40, 0, 0, 0, 0, 0, 0, 0}, hierarchy}),
         "I/O operation failed: the block claims 4611686018427387904 bytes, but the file ends at byte " +
             std::to_string(std::stoul(after_hierarchy) + 9) + ", in the value-change block at byte " + after_geometry},
    };
    for (const auto& c : cases) {
        auto reader = open_bytes(c.file);
        if (c.message.empty()) {
            EXPECT_TRUE(reader.ok()) << c.what << ": " << reader.error().debug();
            continue;
        }
        ASSERT_FALSE(reader.ok()) << c.what;
        EXPECT_EQ(reader.error().display(), c.message) << c.what;
    }
}

TEST(FstOpen, HeaderChecks) {
    Buf bad_len = header_block(0, 10, 1);
    bad_len[8] = 0x48;  // section length 328
    Buf bad_endian = header_block(0, 10, 1);
    bad_endian[25] ^= 0xFF;
    Buf bad_type = header_block(0, 10, 1, 3);
    for (const Buf& h : {bad_len, bad_endian, bad_type}) {
        const auto r = open_bytes(concat({h, geometry_block({1}), hierarchy_of({var_entry("a", 1)})}));
        EXPECT_FALSE(r.ok());
    }
    const auto typed = open_bytes(concat({bad_type, geometry_block({1}), hierarchy_of({var_entry("a", 1)})}));
    EXPECT_EQ(typed.error().kind, ErrorKind::FileType);
}

TEST(FstOpen, BlackoutsAndGeometry) {
    Bytes blackout;
    blackout.u8(2).u64(8 + 1 + 2 + 2).varint(2).u8(0).varint(100).u8(1).varint(50);
    const Buf file = concat({header_block(0, 10, 3), blackout.b, geometry_block({0, 0xFFFFFFFFu, 8}),
                             hierarchy_of({var_entry("a", 1)})});
    auto reader = open_bytes(file);
    ASSERT_TRUE(reader.ok()) << reader.error().debug();
    const auto& meta = reader->metadata();
    EXPECT_EQ(meta.blackouts, (std::vector<std::pair<std::uint64_t, bool>>{{100, false}, {150, true}}));
    ASSERT_EQ(meta.signals.size(), 3u);
    EXPECT_EQ(meta.signals[0].stored(), 0u);
    EXPECT_EQ(meta.signals[1].stored(), 1u);
    EXPECT_EQ(meta.signals[2].stored(), 9u);
    EXPECT_EQ(meta.signals[2].bits(), 8u);

    Bytes short_blackout;  // the entries end before the block does
    short_blackout.u8(2).u64(8 + 1 + 2 + 3).varint(1).u8(0).varint(100).u8(0).u8(0).u8(0);
    EXPECT_FALSE(open_bytes(concat({header_block(0, 10, 1), short_blackout.b, geometry_block({1}),
                                    hierarchy_of({var_entry("a", 1)})}))
                     .ok());
}

Buf gzip_whole(const Buf& file, bool finished = true) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    Buf packed(deflateBound(&zs, static_cast<uLong>(file.size())));
    zs.next_in = const_cast<Bytef*>(file.data());
    zs.avail_in = static_cast<uInt>(file.size());
    zs.next_out = packed.data();
    zs.avail_out = static_cast<uInt>(packed.size());
    deflate(&zs, Z_FINISH);
    packed.resize(zs.total_out);
    deflateEnd(&zs);
    Bytes wrapper;
    wrapper.u8(254).u64(finished ? 16 + packed.size() : 0).u64(file.size()).raw(packed);
    return wrapper.b;
}

TEST(FstOpen, GzipWrappedFile) {
    const Buf plain = concat({two_signal_prelude(0, 30), vc_block(two_signal_block(8, 0, {10, 20, 30}))});
    auto reader = open_bytes(gzip_whole(plain));
    ASSERT_TRUE(reader.ok()) << reader.error().debug();
    EXPECT_EQ(read_all(*reader).size(), 6u);

    const auto unfinished = open_bytes(gzip_whole(plain, false));
    ASSERT_FALSE(unfinished.ok());
    EXPECT_EQ(unfinished.error().kind, ErrorKind::NotFinishedCompressing);

    Buf corrupt = gzip_whole(plain);
    for (std::size_t i = 40; i < 60; ++i) corrupt[i] ^= 0x5A;
    const auto broken = open_bytes(corrupt);
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error().kind, ErrorKind::GZipBody);

    Buf truncated = gzip_whole(plain);
    truncated.resize(truncated.size() / 2);
    EXPECT_FALSE(open_bytes(truncated).ok());
}

std::vector<FstHierarchyEntry> read_entries(const Buf& entries, Status* status) {
    const Buf file = concat({header_block(0, 10, 1), geometry_block({1}), hierarchy_lz4_block(entries)});
    auto reader = open_bytes(file);
    EXPECT_TRUE(reader.ok());
    std::vector<FstHierarchyEntry> out;
    *status = reader->read_hierarchy([&](const FstHierarchyEntry& e) { out.push_back(e); });
    return out;
}

TEST(FstHierarchy, VariablesHandlesAndPorts) {
    const Buf entries = concat({scope_entry("top"), var_entry("a", 1), var_entry("b", 8), var_entry("a2", 1, 1),
                                var_entry("p", 11, 0, 18), Buf{255}});
    Status status;
    const auto out = read_entries(entries, &status);
    ASSERT_TRUE(status.ok()) << status.error().debug();
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(std::get<FstScope>(out[0]).name, "top");
    const auto& a = std::get<FstVar>(out[1]);
    const auto& b = std::get<FstVar>(out[2]);
    const auto& a2 = std::get<FstVar>(out[3]);
    const auto& p = std::get<FstVar>(out[4]);
    EXPECT_EQ(a.handle.value(), 1u);
    EXPECT_EQ(b.handle.value(), 2u);
    EXPECT_EQ(a2.handle.value(), 1u);
    EXPECT_TRUE(a2.is_alias);
    EXPECT_EQ(p.handle.value(), 3u);  // the alias did not advance the counter
    EXPECT_EQ(p.length, 3u);          // port: (11 - 2) / 3
    EXPECT_TRUE(std::holds_alternative<FstUpScope>(out[5]));
}

Buf attribute(std::uint8_t type, std::uint8_t subtype, const std::string& name, std::uint64_t arg) {
    Bytes a;
    a.u8(252).u8(type).u8(subtype).str(name).varint(arg);
    return a.b;
}

TEST(FstHierarchy, Attributes) {
    Bytes stem;
    stem.u8(252).u8(0).u8(5).varint(3).u8(0).varint(42);
    const Buf entries = concat({attribute(0, 7, "colors 2 red green 0 1", 9), attribute(0, 7, "", 9),
                                attribute(0, 0, "a comment", 0), attribute(0, 3, "/src/top.v", 3), stem.b,
                                attribute(0, 2, "std_logic", (2u << 10) | 3u), Buf{253}});
    Status status;
    const auto out = read_entries(entries, &status);
    ASSERT_TRUE(status.ok()) << status.error().debug();
    ASSERT_EQ(out.size(), 7u);
    const auto& table = std::get<FstEnumTable>(out[0]);
    EXPECT_EQ(table.name, "colors");
    EXPECT_EQ(table.handle, 9u);
    EXPECT_EQ(table.mapping, (std::vector<std::pair<std::string, std::string>>{{"red", "0"}, {"green", "1"}}));
    EXPECT_EQ(std::get<FstEnumTableRef>(out[1]).handle, 9u);
    EXPECT_EQ(std::get<FstComment>(out[2]).text, "a comment");
    EXPECT_EQ(std::get<FstPathName>(out[3]).path, "/src/top.v");
    const auto& s = std::get<FstSourceStem>(out[4]);
    EXPECT_TRUE(s.is_instantiation);
    EXPECT_EQ(s.path_id, 3u);
    EXPECT_EQ(s.line, 42u);
    const auto& vhdl = std::get<FstVhdlVarInfo>(out[5]);
    EXPECT_EQ(vhdl.var_type, 2u);
    EXPECT_EQ(vhdl.data_type, 3u);
    EXPECT_TRUE(std::holds_alternative<FstAttributeEnd>(out[6]));
}

TEST(FstHierarchy, Errors) {
    Bytes bad_stem;
    bad_stem.u8(252).u8(0).u8(4).varint(3).u8(1).varint(42);
    const Buf top = scope_entry("top");
    const std::string block = ", in the hierarchy block at byte " +
                              std::to_string(header_block(0, 10, 1).size() + geometry_block({1}).size());
    const std::string first = ", in hierarchy entry 1 at byte 0 of the decompressed hierarchy" + block;
    struct Case {
        Buf entries;
        ErrorKind kind;
        std::string display;
    };
    const std::vector<Case> cases = {
        {attribute(0, 7, "colors 2 red", 0), ErrorKind::EnumTableString,
         "failed to parse an enum table string: expected 4 parts got 1\ncolors 2 red" + first},
        {attribute(0, 7, "colors", 0), ErrorKind::EnumTableString,
         "failed to parse an enum table string: not enough spaces\ncolors" + first},
        {attribute(0, 7, "colors two a b", 0), ErrorKind::ParseInt, "failed to parse an integer" + first},
        {attribute(0, 2, "t", 6u << 10), ErrorKind::FstVhdlVarType, "Unexpected vhdl variable type: 6" + first},
        {attribute(0, 2, "t", 17), ErrorKind::FstVhdlDataType, "Unexpected vhdl data type: 17" + first},
        {attribute(4, 0, "t", 0), ErrorKind::AttributeType, "Unexpected attribute type: 4" + first},
        {attribute(0, 9, "t", 0), ErrorKind::MiscType, "Unexpected misc attribute type: 9" + first},
        {attribute(1, 0, "t", 0), ErrorKind::Io, "I/O operation failed: attribute type 1 is not supported" + first},
        {attribute(0, 6, "t", 0), ErrorKind::Io, "I/O operation failed: misc attribute subtype 6 is not supported" + first},
        {bad_stem.b, ErrorKind::Io, "I/O operation failed: a source stem's path id is not followed by a zero byte" + first},
        {Buf{30, 0}, ErrorKind::FstVarType, "Unexpected variable type: 30" + first},
        {Buf{16, 6}, ErrorKind::FstVarDirection, "Unexpected variable direction: 6" + first},
        {concat({top, Buf{254, 23}}), ErrorKind::FstScopeType,
         "Unexpected scope type: 23, in hierarchy entry 2 at byte " + std::to_string(top.size()) +
             " of the decompressed hierarchy" + block},
        {Buf{16, 0, 'a'}, ErrorKind::Io, "I/O operation failed: the decompressed hierarchy ends at byte 3" + first},
        {Buf{254, 0, 'a', 0, 'b'}, ErrorKind::Io, "I/O operation failed: the decompressed hierarchy ends at byte 5" + first},
        {Buf{16, 0, 'a', 0, 1}, ErrorKind::Io, "I/O operation failed: the decompressed hierarchy ends at byte 5" + first},
        {Buf{16, 0, 'a', 0, 1, 0x80, 0x80, 0x80, 0x80, 0x80}, ErrorKind::Leb128,
         "failed to read leb128 integer, more than the expected 32 bits" + first},
        {Buf{16, 0, 'a', 0xC3, 0x28, 0, 1, 0}, ErrorKind::Utf8String,
         "failed to decode string: a text holds bytes that are not UTF-8" + first},
        {Buf{254, 0, 't', 0, 0xFF, 0}, ErrorKind::Utf8String,
         "failed to decode string: a text holds bytes that are not UTF-8" + first},
    };
    for (const auto& c : cases) {
        Status status;
        read_entries(c.entries, &status);
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().kind, c.kind) << status.error().debug();
        EXPECT_EQ(status.error().display(), c.display);
    }
}

TEST(FstHierarchy, TextsAsWritten) {
    // Names of any length up to the limit, UTF-8 beyond ASCII, and empty ones.
    const std::string longest(hierarchy_name_max - 1, 'n');
    const std::vector<std::string> names = {"", "größe", "\\esc.aped ", "x[3]", longest};
    Buf entries;
    for (const std::string& name : names) {
        const Buf scope = scope_entry(name);
        const Buf var = var_entry(name, 1);
        entries.insert(entries.end(), scope.begin(), scope.end());
        entries.insert(entries.end(), var.begin(), var.end());
    }
    Status status;
    const auto out = read_entries(entries, &status);
    ASSERT_TRUE(status.ok()) << status.error().debug();
    ASSERT_EQ(out.size(), 2 * names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(std::get<FstScope>(out[2 * i]).name, names[i]);
        EXPECT_EQ(std::get<FstVar>(out[2 * i + 1]).name, names[i]);
        EXPECT_EQ(std::get<FstVar>(out[2 * i + 1]).handle.value(), i + 1);
    }
    // One byte more and the name has no terminator within the limit.
    read_entries(var_entry(longest + "n", 1), &status);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind, ErrorKind::CStringTooLong) << status.error().debug();
}

TEST(FstHierarchy, Lz4TwiceCompressed) {
    Buf entries;
    for (int i = 0; i < 200; ++i) {
        const Buf v = var_entry("signal_" + std::to_string(i), 1);
        entries.insert(entries.end(), v.begin(), v.end());
    }
    const Buf file = concat({header_block(0, 10, 200), geometry_block(std::vector<std::uint32_t>(200, 1)),
                             hierarchy_lz4duo_block(entries)});
    auto reader = open_bytes(file);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(reader->metadata().hierarchy_compression, HierarchyCompression::Lz4Duo);
    std::vector<std::string> names;
    const Status s = reader->read_hierarchy([&](const FstHierarchyEntry& e) { names.push_back(std::get<FstVar>(e).name); });
    ASSERT_TRUE(s.ok()) << s.error().debug();
    ASSERT_EQ(names.size(), 200u);
    EXPECT_EQ(names[199], "signal_199");
}

TEST(FstHierarchy, EmptyHierarchySucceeds) {
    Status status;
    EXPECT_TRUE(read_entries({}, &status).empty());
    EXPECT_TRUE(status.ok());
}

}  // namespace
