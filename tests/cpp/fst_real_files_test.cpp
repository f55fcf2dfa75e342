// Files written by independent FST writers (vcd2fst, Icarus Verilog, GHDL,
// Verilator), checked against the VCD that GTKWave's fst2vcd writes from
// each. See fst_data/make.sh.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fst_container/reader.hpp"

using namespace fst_container;

namespace {

const std::string data_dir = std::string(QUOR_SOURCE_DIR) + "/tests/cpp/fst_data/";

// (time, full name) -> last value at that time; reals as "r" + text.
using Values = std::map<std::pair<std::uint64_t, std::string>, std::string>;

std::string join(const std::vector<std::string>& scopes, const std::string& name) {
    std::string full;
    for (const auto& s : scopes) full += s + ".";
    return full + name;
}

// Undoes fst2vcd's backslash escapes in string values.
std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) ++i;
        out += s[i];
    }
    return out;
}

Values parse_vcd(const std::string& path) {
    std::ifstream in(path);
    std::map<std::string, std::vector<std::string>> names_of_code;
    std::vector<std::string> scopes;
    Values values;
    std::string line;
    bool definitions = true;
    std::uint64_t time = 0;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first)) continue;
        if (definitions) {
            if (first == "$scope") {
                std::string kind, name;
                words >> kind >> name;
                scopes.push_back(name);
            } else if (first == "$upscope") {
                scopes.pop_back();
            } else if (first == "$var") {
                std::string kind, width, code, name, word;
                words >> kind >> width >> code >> name;
                while (words >> word && word != "$end") name += " " + word;
                names_of_code[code].push_back(join(scopes, name));
            } else if (first == "$enddefinitions") {
                definitions = false;
            }
            continue;
        }
        if (first[0] == '#') {
            time = std::stoull(first.substr(1));
            continue;
        }
        if (first[0] == '$') continue;
        std::string value, code;
        if (first[0] == 'b' || first[0] == 'r' || first[0] == 's') {
            words >> code;
            value = first[0] == 'b' ? first.substr(1) : first[0] == 'r' ? "r" + first.substr(1) : unescape(first.substr(1));
        } else {
            value = first.substr(0, 1);
            code = first.substr(1);
        }
        for (const auto& name : names_of_code[code]) values[{time, name}] = value;
    }
    return values;
}

Values read_fst(const std::string& path) {
    auto file = FileSource::open(path);
    EXPECT_TRUE(file.ok()) << path;
    auto reader = FstReader::open_internal(std::make_unique<FileSource>(std::move(file).value()), true);
    EXPECT_TRUE(reader.ok()) << reader.error().debug();
    std::vector<std::string> scopes;
    std::map<std::uint32_t, std::vector<std::string>> names_of_handle;
    const Status h = reader->read_hierarchy([&](const FstHierarchyEntry& e) {
        if (const auto* s = std::get_if<FstScope>(&e)) scopes.push_back(s->name);
        if (std::holds_alternative<FstUpScope>(e) && !scopes.empty()) scopes.pop_back();
        if (const auto* v = std::get_if<FstVar>(&e)) names_of_handle[v->handle.value()].push_back(join(scopes, v->name));
    });
    EXPECT_TRUE(h.ok()) << h.error().debug();
    Values values;
    const Status s = reader->read_signals({}, [&](std::uint64_t t, FstSignalHandle handle, const FstSignalValue& v) {
        std::string text;
        if (v.is_real()) {
            char buf[40];
            std::snprintf(buf, sizeof buf, "r%.16g", v.real);
            text = buf;
        } else {
            text.assign(v.bytes.data(), v.bytes.size());
        }
        for (const auto& name : names_of_handle[handle.value()]) values[{t, name}] = text;
    });
    EXPECT_TRUE(s.ok()) << s.error().debug();
    return values;
}

bool same_value(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (a.size() > 1 && b.size() > 1 && a[0] == 'r' && b[0] == 'r') {
        const double x = std::stod(a.substr(1));
        const double y = std::stod(b.substr(1));
        return std::fabs(x - y) <= 1e-15 * std::max(1.0, std::fabs(x));
    }
    return false;
}

TEST(FstRealFiles, AgreeWithFst2vcd) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"small_lz4", "small"},         {"small_fastlz", "small"},     {"small_zlib", "small"},
        {"small_gzip", "small"},        {"packing_lz4", "packing"},    {"packing_fastlz", "packing"},
        {"packing_zlib", "packing"},    {"multi_block", "multi_block"}, {"ghdl_enum", "ghdl_enum"},
        {"verilator", "verilator"},     {"real_bits_lz4", "real_bits"}, {"real_bits_fastlz", "real_bits"},
        {"real_bits_zlib", "real_bits"},
    };
    for (const auto& [fst, expected] : files) {
        SCOPED_TRACE(fst);
        const Values want = parse_vcd(data_dir + expected + ".expected.vcd");
        const Values got = read_fst(data_dir + fst + ".fst");
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(got.size(), want.size());
        std::size_t mismatches = 0;
        for (const auto& [key, value] : want) {
            const auto it = got.find(key);
            const bool ok = it != got.end() && same_value(it->second, value);
            if (!ok && ++mismatches <= 5) {
                ADD_FAILURE() << key.second << " @" << key.first << ": want " << value << " got "
                              << (it == got.end() ? "nothing" : it->second);
            }
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST(FstRealFiles, MetadataOfMultiBlockFile) {
    auto file = FileSource::open(data_dir + "multi_block.fst");
    ASSERT_TRUE(file.ok());
    auto reader = FstReader::open_internal(std::make_unique<FileSource>(std::move(file).value()), true);
    ASSERT_TRUE(reader.ok());
    const MetaData& meta = reader->metadata();
    EXPECT_EQ(meta.data_sections.size(), 5u);
    EXPECT_EQ(meta.header.start_time, 0u);
    EXPECT_EQ(meta.header.end_time, 208u);
    EXPECT_EQ(meta.header.timescale_exponent, 0);
    // Block boundaries repeat their time: not merged.
    ASSERT_GE(meta.time_table->size(), 12u);
    EXPECT_EQ((*meta.time_table)[10], 48u);
    EXPECT_EQ((*meta.time_table)[11], 48u);
}

}  // namespace
