// SHM databases: locating the files, the design walk, transition blocks, several files.

#include <gtest/gtest.h>


#include "format_fixtures.hpp"
#include "formats/shm/shm.hpp"

using namespace quor_core::trace;
using fixtures::Buf;

namespace {

constexpr uint32_t kScope = 0x070501;
constexpr uint32_t kSignal = 0x090700;
constexpr uint32_t kMeta = 0x010102;

Buf design() {
    return fixtures::shm_design({{kMeta, {"ignored_name"}},
                                 {kScope, {"top", "x"}},
                                 {kSignal, {"clk", "0x12", "data[3]"}},
                                 {kSignal, {"clk", "rst"}}});
}

ShmTrace load(const Buf& dsn, const std::vector<Buf>& trns) {
    auto r = ShmTrace::from_parts(&dsn, trns);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error());
    return std::move(r).value();
}

std::vector<uint64_t> values(const ShmTrace& t, const std::string& name) {
    std::vector<uint64_t> out;
    for (uint64_t i = 0; i <= t.max_index(); ++i) {
        const auto v = t.signal_value(name, i);
        out.push_back(v.is_unknown() ? 9 : v.as_uint());
    }
    return out;
}

std::vector<uint64_t> times(const ShmTrace& t) { return {t.timestamps().begin(), t.timestamps().end()}; }

}  // namespace

TEST(ShmDesign, NamesScopesAndMagic) {
    const ShmTrace t = load(design(), {});
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()),
              (std::vector<std::string>{"clk", "data[3]", "rst"}));
    EXPECT_EQ(std::vector<std::string>(t.scopes().begin(), t.scopes().end()), (std::vector<std::string>{"top"}));
    EXPECT_EQ(times(t), (std::vector<uint64_t>{0}));

    Buf short_file(100, 0);
    EXPECT_TRUE(load(short_file, {}).signal_names().empty());
    Buf bad(128, 0);
    bad[3] = 1;
    const auto r = ShmTrace::from_parts(&bad, {});
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "Bad DSN magic: 0x00000001");
}

TEST(ShmTransitions, BlockRules) {
    struct Case {
        const char* what;
        uint32_t time, count;
        std::initializer_list<uint8_t> state;
        std::vector<uint64_t> times;
        std::vector<uint64_t> clk, data, rst;
    };
    const Case cases[] = {
        // State codes 0x10 / 0x08 at time 0; K = 2 toggles evenly over the block's time.
        {"coded, toggles", 1000, 2, {0x10, 0x08}, {0, 333, 666, 1000}, {1, 0, 1, 1}, {0, 1, 0, 0}, {0, 0, 0, 0}},
        {"plain bytes", 0, 1, {0x40, 0x00, 0x40}, {0}, {1}, {0}, {1}},
        // Change stream: K = 2 over 4 state bytes; the first byte's bits, then XOR chains.
        // The changes at 100 suppress the evenly spaced toggles; time 200 changes nothing.
        {"change stream", 300, 2, {0xA0, 0x60, 0x00, 0x00}, {0, 100, 300}, {1, 1, 1}, {0, 1, 1}, {1, 0, 0}},
    };
    for (const Case& c : cases) {
        const ShmTrace t = load(design(), {fixtures::shm_transitions({{c.time, c.count, Buf(c.state)}})});
        EXPECT_EQ(times(t), c.times) << c.what;
        EXPECT_EQ(values(t, "clk"), c.clk) << c.what;
        EXPECT_EQ(values(t, "data[3]"), c.data) << c.what;
        EXPECT_EQ(values(t, "rst"), c.rst) << c.what;
    }
}

TEST(ShmTransitions, SeveralFilesShareOneAxis) {
    const Buf a = fixtures::shm_transitions({{1000, 1, {0x10, 0x10, 0x10}}});  // toggle at 500
    const Buf b = fixtures::shm_transitions({{300, 2, {0x08, 0x08}}});         // toggles at 100, 200
    const ShmTrace t = load(design(), {a, b});
    EXPECT_EQ(times(t), (std::vector<uint64_t>{0, 100, 200, 300, 500, 1000}));
    // File b overrides time 0 for clk and data; each value sits at its own time.
    EXPECT_EQ(values(t, "clk"), (std::vector<uint64_t>{0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(values(t, "rst"), (std::vector<uint64_t>{1, 1, 1, 1, 0, 0}));
}

TEST(ShmTransitions, HugeToggleCountIsBounded) {
    const ShmTrace t = load(design(), {fixtures::shm_transitions({{0xFFFFFFFF, 0xFFFFFFFF, {0x10, 0x08, 0x10}}})});
    EXPECT_LE(t.timestamps().size(), shm::kMaxEntries + 2);
    EXPECT_GT(t.timestamps().size(), 1000u);
}

TEST(ShmFiles, LocatingDesignAndTransitions) {
    fixtures::TempDir dir;
    const std::string empty = dir.path() + "/empty";
    std::filesystem::create_directory(empty);
    auto r = ShmTrace::from_file(empty);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "No .dsn/.trn in " + empty);

    dir.write("wave.dsn", design());
    const std::string trn = dir.write("wave.TRN", fixtures::shm_transitions({{0, 1, {0x10, 0x10, 0x08}}}));
    // The design file's sibling is looked up with a lower-case "trn", which does not exist here.
    const std::pair<std::string, uint64_t> cases[] = {{dir.path(), 1}, {trn, 1}, {dir.path() + "/wave.dsn", 9}};
    for (const auto& [path, data] : cases) {
        auto t = ShmTrace::from_file(path);
        ASSERT_TRUE(t.ok()) << path;
        EXPECT_EQ(t.value().signal_names().size(), 3u) << path;
        EXPECT_EQ(values(t.value(), "data[3]"), (std::vector<uint64_t>{data})) << path;
    }

    const std::string missing = dir.path() + "/typo.trn";
    r = ShmTrace::from_file(missing);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "Failed to read " + missing + ": No such file or directory (os error 2)");
    r = ShmTrace::from_file(dir.path() + "/none.dsn");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "DSN: No such file or directory (os error 2)");
}
