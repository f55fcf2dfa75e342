// The stream loader over a pipe: plain and gzip-compressed VCD text loads, anything else is
// refused by its first bytes; and the test of those bytes.

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <thread>
#include <vector>

#include "formats/vcd/vcd_stream.hpp"

namespace {

using quor_core::trace::load_vcd_stream;
using quor_core::trace::starts_as_vcd_text;

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> gzip_of(const std::string& text) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> out(deflateBound(&zs, text.size()) + 64);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string big_text() {
    std::string text = "$var wire 8 ! a $end\n$enddefinitions $end\n";  // several MiB, several reads
    for (int i = 0; i < 200000; ++i) text += "#" + std::to_string(i) + "\nb" + std::to_string(i % 2) + "01 !\n";
    return text;
}

TEST(VcdStream, RecognisesVcdText) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"$date x $end", true},
        {"#0\n", true},
        {"\n\t \r\n$var", true},
        {"\xef\xbb\xbf$scope", true},
        {"", false},
        {"   \n", false},
        {"hello", false},
        {std::string("\0\0\0\0", 4), false},
        {"\xef\xbb\xbf", false},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(starts_as_vcd_text(bytes(text)), expected) << '"' << text << '"';
    }
}

// Loads what a writer thread puts into a pipe.
quor_core::Result<quor_core::trace::VcdTrace, std::string> load_from_pipe(const std::vector<uint8_t>& data) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(fds[1], data.data() + done, data.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(fds[1]);
    });
    auto loaded = load_vcd_stream("/dev/fd/" + std::to_string(fds[0]));
    writer.join();
    ::close(fds[0]);
    return loaded;
}

TEST(VcdStream, LoadsPlainAndGzipTextAndRefusesTheRest) {
    const std::string text = big_text();
    for (const auto& data : {bytes(text), gzip_of(text)}) {
        const auto r = load_from_pipe(data);
        ASSERT_TRUE(r.ok()) << r.error();
        EXPECT_EQ(r.value().max_index(), 199999u);
        EXPECT_EQ(r.value().signal_value("a", 3).as_uint(), 0b101u);
    }
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> refused = {
        {{}, "it is empty"},
        {bytes(std::string("\0\0\0\0\0\0\0\1\x49", 9)), "an FST file is read from a regular file only"},
        {bytes("garbage"), "from a pipe or device only VCD text is read"},
        {gzip_of("garbage"), "from a pipe or device only VCD text is read"},
        {gzip_of(std::string("\xfe\0\0\0\0\0\0\0\0", 9)), "an FST file is read from a regular file only"},
    };
    for (const auto& [data, why] : refused) {
        const auto r = load_from_pipe(data);
        ASSERT_FALSE(r.ok());
        EXPECT_NE(r.error().find(": " + why), std::string::npos) << r.error();
        EXPECT_EQ(r.error().rfind("Cannot tell the format of /dev/fd/", 0), 0u) << r.error();
    }
}

}  // namespace
