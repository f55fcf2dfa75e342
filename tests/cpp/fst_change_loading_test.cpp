// Loading FST value changes split into signal groups and block batches must give exactly the
// values of the plain reading: every change delivered in time order by the reader, stored at
// the sample of its time-table position (a block's first time that repeats the time before it
// continues that sample), initial values at the first sample of their time, then the store
// filled forward. Checked on random multi-block files, on every FST fixture, on a file whose
// times go back, and for which error a broken file reports.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fst_container/reader.hpp"
#include "fst_test_writer.hpp"
#include "signal/store.hpp"
#include "formats/fst/fst.hpp"
#include "formats/fst/fst_values.hpp"
#include "util/name_path.hpp"

namespace {

namespace fc = fst_container;
using quor_core::signal::SignalStore;
using quor_core::signal::SignalValue;
using quor_core::signal::ValueKind;
using quor_core::trace::ChangeLoadPlan;
using quor_core::trace::FstTrace;
using Buf = std::vector<std::uint8_t>;

// Signal groups, bytes per batch (1: a batch per block), streamed columns or builders, bytes
// of signal data taken at once (1: one signal's), groups of the streams when not as many.
const std::vector<ChangeLoadPlan> plans = {
    {1, uint64_t{1} << 30, true, 1 << 20}, {2, 1, true, 1}, {3, 200, true, 40}, {64, 1, true, 1 << 20},
    {1, uint64_t{1} << 30, false, 1 << 20}, {4, 1, false, 1}, {2, 1, true, 1 << 20, 7},
};

// The plain reading, by signal index, and the signal index of each full name.
struct Reference {
    std::vector<std::uint64_t> timestamps;
    std::map<std::string, std::size_t> signal_of_name;
    SignalStore store;
};

Reference reference_load(const Buf& file) {
    Reference ref;
    auto reader = fc::FstReader::open_internal(std::make_unique<fc::VectorSource>(file), true);
    EXPECT_TRUE(reader.ok());
    if (!reader.ok()) return ref;
    const fc::MetaData& meta = reader->metadata();
    // Positions that continue the sample before them, and the sample of every position.
    const std::vector<std::uint64_t> table = meta.time_table.value_or(std::vector<std::uint64_t>{});
    std::vector<bool> continues(table.size(), false);
    for (const fc::DataSectionInfo& section : meta.data_sections) {
        const std::uint64_t p = section.time_table_offset;
        if (p > 0 && p < table.size() && table[p] == table[p - 1]) continues[p] = true;
    }
    std::vector<std::uint64_t> sample_of_position;
    for (std::size_t p = 0; p < table.size(); ++p) {
        if (!continues[p]) ref.timestamps.push_back(table[p]);
        sample_of_position.push_back(ref.timestamps.size() - 1);
    }
    std::vector<std::string> scopes;
    const fc::Status h = reader->read_hierarchy([&](const fc::FstHierarchyEntry& e) {
        if (const auto* s = std::get_if<fc::FstScope>(&e)) scopes.push_back(s->name);
        if (std::holds_alternative<fc::FstUpScope>(e) && !scopes.empty()) scopes.pop_back();
        if (const auto* v = std::get_if<fc::FstVar>(&e)) {
            std::string full;
            for (const auto& s : scopes) {
                quor_core::util::append_path_element(full, s);
                full += '.';
            }
            ref.signal_of_name.emplace(full + v->name, v->handle.index());
        }
    });
    EXPECT_TRUE(h.ok());
    fc::FstFilter filter;
    filter.end = meta.header.end_time;
    const auto& ts = ref.timestamps;
    const fc::Status s = reader->read_signals(filter, [&](std::uint64_t time, fc::FstSignalHandle handle,
                                                          const fc::FstSignalValue& v) {
        std::uint64_t index = 0;
        if (v.time_index != fc::kNoTimeIndex) {
            index = sample_of_position.at(v.time_index);
        } else {  // an initial value: the first sample of its time, else the last one before
            const auto at = std::lower_bound(ts.begin(), ts.end(), time);
            index = at != ts.end() && *at == time ? static_cast<std::uint64_t>(at - ts.begin())
                    : at == ts.begin()            ? 0
                                                  : static_cast<std::uint64_t>(at - ts.begin()) - 1;
        }
        if (index >= ts.size()) return;
        const bool text = handle.index() < meta.signals.size() && meta.signals[handle.index()].is_var_length();
        ref.store.set(static_cast<std::uint32_t>(handle.index()), index,
                      v.is_real() ? SignalValue::real(v.real)
                      : text      ? quor_core::trace::convert_fst_text(v.bytes)
                                  : quor_core::trace::convert_fst_bits(v.bytes));
    });
    EXPECT_TRUE(s.ok()) << s.error().debug();
    for (std::uint64_t i = 1; i < ts.size(); ++i) ref.store.forward_fill(i);
    return ref;
}

// The plain reading keeps a one-bit x as the bit; a trace's columns keep it as no value.
bool same_reading(const SignalValue& a, const SignalValue& b) {
    if (a.kind() == ValueKind::Real && b.kind() == ValueKind::Real && std::isnan(a.as_real())) {
        return std::isnan(b.as_real());
    }
    if (b == SignalValue::four_state({quor_core::signal::kBitX})) return a.is_unknown();
    return a == b;
}

// The file loaded from disk (each block's signal data read from the file, then taken in
// windows, here down to one per signal) rather than from memory.
const ChangeLoadPlan disk_plan = {3, uint64_t{1} << 30, true, 1};

quor_core::Result<FstTrace, std::string> load_from_disk(const Buf& file) {
    char name[] = "/tmp/quor_fst_changes_XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    auto loaded = FstTrace::from_file(name, disk_plan);
    std::remove(name);
    return loaded;
}

// Loads the file with every plan, and from disk, and compares each signal at every index with
// the reference.
void expect_all_plans_match(const Buf& file, const std::string& what) {
    const Reference ref = reference_load(file);
    for (std::size_t p = 0; p <= plans.size(); ++p) {
        const ChangeLoadPlan plan = p < plans.size() ? plans[p] : disk_plan;
        auto loaded = p < plans.size() ? FstTrace::from_bytes(file, plan) : load_from_disk(file);
        ASSERT_TRUE(loaded.ok()) << what << ": " << loaded.error();
        const FstTrace& trace = loaded.value();
        ASSERT_EQ(std::vector<std::uint64_t>(trace.timestamps().begin(), trace.timestamps().end()), ref.timestamps);
        for (const std::string& name : trace.signal_names()) {
            const auto signal = static_cast<std::uint32_t>(ref.signal_of_name.at(name));
            for (std::uint64_t i = 0; i <= ref.timestamps.size(); ++i) {
                ASSERT_TRUE(same_reading(trace.signal_value(name, i), ref.store.get(signal, i)))
                    << what << " groups " << plan.groups << " batch " << plan.batch_bytes << " stream "
                    << plan.stream_columns << ": " << name << " at " << i;
            }
        }
    }
}

// --- random files -----------------------------------------------------------

constexpr std::uint32_t kReal = 0;
constexpr std::uint32_t kVarLength = 0xFFFFFFFFu;

std::uint32_t random_geometry(std::mt19937_64& rng) {
    static constexpr std::uint32_t widths[] = {2, 3, 8, 13, 32, 63, 64, 65, 100};
    switch (rng() % 10) {
        case 0: return kReal;
        case 1: return kVarLength;
        case 2:
        case 3:
        case 4: return 1;
        default: return widths[rng() % std::size(widths)];
    }
}

// One change of a signal: its leading varint (time delta and form) and value bytes.
void append_change(std::mt19937_64& rng, std::uint32_t geometry, std::uint32_t delta, fst_test::Bytes& out) {
    if (geometry == 1) {
        if (rng() % 4) {
            out.varint((delta << 2) | ((rng() % 2) << 1));
        } else {
            out.varint((delta << 4) | ((rng() % 8) << 1) | 1);
        }
    } else if (geometry == kReal) {
        out.varint((delta << 1) | 1);
        const double d = rng() % 5 ? static_cast<double>(rng() % 7) / 2 : std::nan("");
        std::uint8_t raw[8];
        std::memcpy(raw, &d, 8);  // the header marks the file little-endian, like the test host
        for (const std::uint8_t b : raw) out.u8(b);
    } else if (geometry == kVarLength) {
        out.varint(delta << 1);
        const std::size_t len = rng() % 4;
        out.varint(len);
        for (std::size_t i = 0; i < len; ++i) out.u8(rng() % 9 ? static_cast<std::uint8_t>('a' + rng() % 3) : 0xFF);
    } else if (rng() % 3) {
        out.varint(delta << 1);
        for (std::uint32_t i = 0; i < (geometry + 7) / 8; ++i) out.u8(static_cast<std::uint8_t>(rng()));
    } else {
        out.varint((delta << 1) | 1);
        static constexpr char states[] = "0101010101xzhuwl-H";
        for (std::uint32_t i = 0; i < geometry; ++i) out.u8(static_cast<std::uint8_t>(states[rng() % (sizeof states - 1)]));
    }
}

// Frame bytes of a signal: characters of a bit vector, a real, nothing for variable length.
void append_initial(std::mt19937_64& rng, std::uint32_t geometry, Buf& frame) {
    if (geometry == kVarLength) return;
    if (geometry == kReal) {
        const double d = static_cast<double>(rng() % 9);
        std::uint8_t raw[8];
        std::memcpy(raw, &d, 8);
        frame.insert(frame.end(), raw, raw + 8);
        return;
    }
    for (std::uint32_t i = 0; i < geometry; ++i) frame.push_back(static_cast<std::uint8_t>("01x"[rng() % 3]));
}

// Several blocks of every kind; repeated times within and across blocks, repeated time slots
// within a signal, aliases in the chain table and in the hierarchy, a trailing signal without
// a variable, and a header end time that may cut the last block short.
Buf random_file(std::uint64_t seed) {
    using namespace fst_test;
    std::mt19937_64 rng(seed);
    const std::size_t signals = 1 + rng() % 20;
    std::vector<std::uint32_t> geometry;
    for (std::size_t i = 0; i < signals; ++i) geometry.push_back(random_geometry(rng));
    const std::size_t named = rng() % 4 == 0 && signals > 1 ? signals - 1 : signals;

    Buf entries = scope_entry("top");
    for (std::size_t i = 0; i < named; ++i) {
        const std::uint32_t g = geometry[i];
        const std::uint32_t length = g == kReal ? 64 : g == kVarLength ? 0 : g;
        const std::uint8_t type = g == kReal ? 3 : 16;
        const Buf var = var_entry(std::string("s") + std::to_string(i), length, 0, type);
        entries.insert(entries.end(), var.begin(), var.end());
        if (rng() % 5 == 0) {  // a second name for the same handle
            const Buf alias = var_entry(std::string("a") + std::to_string(i), length, static_cast<std::uint32_t>(i + 1), type);
            entries.insert(entries.end(), alias.begin(), alias.end());
        }
    }
    entries.push_back(255);

    std::vector<Buf> blocks;
    std::uint64_t time = rng() % 3;
    const std::size_t block_count = 1 + rng() % 4;
    std::uint64_t first_start = 0;
    std::uint64_t last_time = 0;
    for (std::size_t b = 0; b < block_count; ++b) {
        VcBlock block;
        block.kind = std::array<std::uint8_t, 3>{1, 5, 8}[rng() % 3];
        const std::size_t slots = rng() % 6 == 0 ? 0 : 1 + rng() % 7;
        for (std::size_t s = 0; s < slots; ++s) {
            if (s > 0 || b > 0) time += rng() % 4 == 0 ? 0 : 1 + rng() % 3;
            block.times.push_back(time);
        }
        block.start = block.times.empty() ? time : (b == 0 && block.times[0] > 0 ? block.times[0] - 1 : block.times[0]);
        block.end = block.times.empty() ? time : block.times.back();
        if (b == 0) {
            first_start = block.start;
            for (std::size_t i = 0; i < signals; ++i) append_initial(rng, geometry[i], block.frame);
            block.frame_signals = signals;
        }
        block.data.resize(signals);
        block.alias_of.resize(signals);
        const std::size_t slot_limit = std::max<std::size_t>(slots, 1);
        for (std::size_t i = 0; i < signals; ++i) {
            if (rng() % 4 == 0) continue;
            Bytes changes;
            std::size_t slot = rng() % slot_limit;
            append_change(rng, geometry[i], static_cast<std::uint32_t>(slot), changes);
            for (std::size_t c = rng() % 6; c > 0; --c) {
                const std::size_t delta = rng() % 3;
                if (slot + delta >= slot_limit) break;
                slot += delta;
                append_change(rng, geometry[i], static_cast<std::uint32_t>(delta), changes);
            }
            block.data[i] = changes.b;
        }
        // Some signals without data share that of another signal of the same geometry, before
        // or after them.
        for (std::size_t i = 0; i < signals; ++i) {
            if (block.data[i] || rng() % 2) continue;
            const std::size_t j = rng() % signals;
            if (geometry[j] == geometry[i] && block.data[j]) block.alias_of[i] = static_cast<std::uint32_t>(j);
        }
        last_time = block.end;
        blocks.push_back(vc_block(block));
    }
    const std::uint64_t end = last_time - std::min<std::uint64_t>(last_time, rng() % 3 == 0 ? rng() % 3 : 0);
    Buf file = concat({header_block(first_start, end, signals), geometry_block(geometry), hierarchy_lz4_block(entries)});
    for (const Buf& block : blocks) file.insert(file.end(), block.begin(), block.end());
    return file;
}

TEST(FstChangeLoading, RandomMultiBlockFilesMatchThePlainReading) {
    for (std::uint64_t seed = 0; seed < 150; ++seed) {
        expect_all_plans_match(random_file(seed), "seed " + std::to_string(seed));
        if (HasFatalFailure()) return;
    }
}

TEST(FstChangeLoading, FixturesMatchThePlainReading) {
    const std::string root = QUOR_SOURCE_DIR;
    std::size_t files = 0;
    for (const char* dir : {"/tests/fixtures", "/tests/cpp/fst_data"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root + dir)) {
            if (entry.path().extension() != ".fst") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const Buf file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            expect_all_plans_match(file, entry.path().string());
            if (HasFatalFailure()) return;
            ++files;
        }
    }
    EXPECT_GE(files, 30u);
}

// The first block starts after the times of the second: the initial values land at a later
// index than the second block's first changes, so they must be sorted in, not streamed.
TEST(FstChangeLoading, TimesGoingBackAreSortedIn) {
    using namespace fst_test;
    VcBlock late;
    late.start = 90;
    late.end = 90;
    late.frame = {'0', '0', '1', '1', '1'};
    late.frame_signals = 2;
    late.data = {std::nullopt, std::nullopt};
    VcBlock early;
    early.start = 5;
    early.end = 6;
    early.times = {5, 6};
    early.data = {Buf{0x00, 0xA0}, Buf{0x00, 0x06}};  // v: 1010 at slot 0; a: 0 at slot 0, 1 at slot 1
    const Buf file = concat({header_block(5, 100, 2), geometry_block({4, 1}),
                             hierarchy_lz4_block(concat({var_entry("v", 4), var_entry("a", 1)})), vc_block(late),
                             vc_block(early)});
    expect_all_plans_match(file, "times going back");
    auto loaded = FstTrace::from_bytes(file);
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_EQ(loaded.value().signal_value("v", 0), SignalValue::uint(10));
    EXPECT_EQ(loaded.value().signal_value("v", 1), SignalValue::uint(3));  // the initial 0011, at time 90
    EXPECT_EQ(loaded.value().signal_value("a", 1), SignalValue::uint(1));
}

// Several broken signals: however the work is split, the error reported is the one met first
// block by block, signal by signal, and its message names that block and signal.
TEST(FstChangeLoading, FirstErrorRegardlessOfSplit) {
    using namespace fst_test;
    const Buf overlong_varint = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};
    const Buf cut_short = {0x03, '1'};
    const Buf fine = {0x02, 0xFF};
    const std::string leb128 = "FST signals: failed to read leb128 integer, more than the expected 32 bits, ";
    const std::string io = "FST signals: I/O operation failed: a value runs past the end of its signal's data, ";
    struct Case {
        const char* what;
        std::vector<Buf> first_block;  // data of signals 0..5
        std::vector<Buf> second_block;
        std::string expected;  // the start of the message
        std::uint32_t handle;  // of the signal named
        std::size_t block;     // of the block named
    };
    const std::vector<Case> cases = {
        {"lower signal first", {fine, fine, overlong_varint, fine, cut_short, fine}, {fine, fine, fine, fine, fine, fine}, leb128, 3, 0},
        {"lower signal first, kinds swapped", {fine, fine, cut_short, fine, overlong_varint, fine}, {fine, fine, fine, fine, fine, fine}, io, 3, 0},
        {"earlier block first", {fine, fine, fine, fine, fine, cut_short}, {overlong_varint, fine, fine, fine, fine, fine}, io, 6, 0},
        {"only the later block", {fine, fine, fine, fine, fine, fine}, {fine, fine, fine, overlong_varint, fine, cut_short}, leb128, 4, 1},
    };
    for (const Case& c : cases) {
        Buf entries;
        for (int i = 0; i < 6; ++i) {
            const Buf var = var_entry(std::string("s") + std::to_string(i), 8);
            entries.insert(entries.end(), var.begin(), var.end());
        }
        std::vector<Buf> blocks;
        for (const auto* data : {&c.first_block, &c.second_block}) {
            VcBlock b;
            b.start = blocks.empty() ? 0 : 10;
            b.times = {b.start, b.start + 5};
            b.end = b.start + 5;
            for (const Buf& d : *data) b.data.emplace_back(d);
            blocks.push_back(vc_block(b));
        }
        const Buf prelude = concat({header_block(0, 15, 6), geometry_block({8, 8, 8, 8, 8, 8}), hierarchy_lz4_block(entries)});
        const Buf file = concat({prelude, blocks[0], blocks[1]});
        const std::size_t block_at = prelude.size() + (c.block == 1 ? blocks[0].size() : 0);
        const std::string expected = c.expected + "in the data of signal handle " + std::to_string(c.handle) +
                                     ", in the value-change block at byte " + std::to_string(block_at);
        for (const ChangeLoadPlan& plan : plans) {
            auto loaded = FstTrace::from_bytes(file, plan);
            ASSERT_FALSE(loaded.ok()) << c.what;
            EXPECT_EQ(loaded.error(), expected) << c.what << " groups " << plan.groups;
        }
    }
}

}  // namespace
