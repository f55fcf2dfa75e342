// Gzip-compressed VCD: the stream inflater on its own, and whole loads that must read like the
// plain text.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bytes/gzip_stream.hpp"
#include "formats/vcd/vcd.hpp"

namespace {

using quor_core::trace::GzipStream;
using quor_core::trace::VcdPieces;
using quor_core::trace::VcdTrace;

// One gzip member holding text; name, when given, goes into the member header with an extra
// field and a header checksum.
std::string gzip_member(const std::string& text, const char* name = nullptr) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    gz_header header{};
    std::string header_name = name ? name : "";
    unsigned char extra[] = {'q', 'r', 2, 0, 7, 7};
    if (name) {
        header.name = reinterpret_cast<Bytef*>(header_name.data());
        header.extra = extra;
        header.extra_len = sizeof extra;
        header.hcrc = 1;
        EXPECT_EQ(deflateSetHeader(&zs, &header), Z_OK);
    }
    std::string out(deflateBound(&zs, text.size()) + 64 + header_name.size(), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string write_temp(const std::string& name, const std::string& bytes) {
    const std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Inflates a file through GzipStream, piece pieces at a time; the text or the error.
std::pair<std::string, std::string> inflate_file(const std::string& bytes, size_t piece) {
    const std::string path = write_temp("quor_gzip_stream.gz", bytes);
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::string text;
    std::string error;
    {
        GzipStream in(fd);
        std::string buf(piece, '\0');
        for (;;) {
            auto got = in.read(buf.data(), piece);
            if (!got.ok()) {
                error = got.error();
                break;
            }
            text.append(buf.data(), got.value());
            if (got.value() < piece) break;
        }
    }
    ::close(fd);
    std::remove(path.c_str());
    return {text, error};
}

TEST(GzipStream, MembersPaddingAndFaults) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "#" + std::to_string(i) + "\n1!\n";
    const std::string one = gzip_member(text);
    const std::string second = gzip_member("b101 \"\n");
    std::string bad_crc = one;
    bad_crc[bad_crc.size() - 8] ^= 0x55;
    std::string bad_data = one;
    bad_data[40] ^= 0xFF;
    const std::string size = std::to_string(one.size());
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;   // what it inflates to
        std::string error;  // or what is wrong
    };
    const std::vector<Case> cases = {
        {"one member", one, text, ""},
        {"two members", one + second, text + "b101 \"\n", ""},
        {"a header naming the file", gzip_member(text, "dump.vcd"), text, ""},
        {"zero padding", one + std::string(1000, '\0'), text, ""},
        {"an empty member", one + gzip_member(""), text, ""},
        {"cut in the data", one.substr(0, one.size() / 2), "",
         "the gzip data ends early, at byte " + std::to_string(one.size() / 2) + " of the file"},
        {"cut in the trailer", one.substr(0, one.size() - 3), "",
         "the gzip data ends early, at byte " + std::to_string(one.size() - 3) + " of the file"},
        {"cut in the second member's header", one + second.substr(0, 5), "",
         "the gzip data ends early, at byte " + std::to_string(one.size() + 5) + " of the file"},
        {"the magic alone", one.substr(0, 2), "", "the gzip data ends early, at byte 2 of the file"},
        {"a wrong checksum", bad_crc, "",
         "the gzip data is corrupt at byte " + std::to_string(one.size() - 4) + " of the file (incorrect data check)"},
        {"bytes after the data", one + "trailing text", "",
         "the gzip data is followed by bytes that are not gzip data, at byte " + size + " of the file"},
        {"after zero padding", one + std::string(3, '\0') + "x", "",
         "the gzip data is followed by bytes that are not gzip data, at byte " + std::to_string(one.size() + 3) +
             " of the file"},
    };
    for (const Case& c : cases) {
        for (const size_t piece : {size_t{7}, size_t{1} << 20}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            const auto [got, error] = inflate_file(c.bytes, piece);
            EXPECT_EQ(error, c.error);
            if (c.error.empty()) {
                EXPECT_EQ(got, c.text);
            }
        }
    }
    // Corrupt deflate data: zlib names the fault.
    const auto [got, error] = inflate_file(bad_data, 1 << 20);
    EXPECT_EQ(error.rfind("the gzip data is corrupt at byte ", 0), 0u) << error;
}

void expect_same(const VcdTrace& got, const VcdTrace& want) {
    ASSERT_EQ(std::vector<uint64_t>(got.timestamps().begin(), got.timestamps().end()),
              std::vector<uint64_t>(want.timestamps().begin(), want.timestamps().end()));
    ASSERT_EQ(std::vector<std::string>(got.signal_names().begin(), got.signal_names().end()),
              std::vector<std::string>(want.signal_names().begin(), want.signal_names().end()));
    for (const std::string& name : want.signal_names()) {
        for (uint64_t i = 0; i <= want.max_index() + 1; ++i) {
            ASSERT_EQ(got.signal_value(name, i), want.signal_value(name, i)) << name << " at " << i;
        }
    }
}

std::string random_dump(bool declaration_midway) {
    std::mt19937 rng(11);
    std::string text = "$var wire 1 ! a $end\n$var wire 64 \" b $end\n$var wire 5 # c $end\n$enddefinitions $end\n";
    for (uint64_t time = 0; text.size() < (size_t{3} << 20) + 777; ++time) {
        text += "#" + std::to_string(time) + "\n" + std::to_string(rng() % 2) + "!\nb";
        for (int b = 0; b < 64; ++b) text += static_cast<char>('0' + rng() % 2);
        text += " \"\nb" + std::to_string(rng() % 2) + "01x1 #\n";
        if (time == 20000) text += "$comment " + std::string(150000, 'c') + " $end\n";  // longer than a block
        if (declaration_midway && time == 30000) text += "$var wire 1 $ late $end\n1$\n";
    }
    return text + "#999999\n0!";  // no final line feed
}

// Blocks of whole lines inflated from the file as they are read; a line longer than a block; a
// declaration among the changes (the text is inflated and read again, in order); a pipe.
TEST(VcdGzipFile, ReadsLikeThePlainText) {
    for (const bool midway : {false, true}) {
        const std::string text = random_dump(midway);
        const VcdTrace want = VcdTrace::parse_in_order(text).value();
        // Two members, split inside a line.
        const std::string gz = gzip_member(text.substr(0, 1234567)) + gzip_member(text.substr(1234567));
        const std::string path = write_temp("quor_dump.vcd.gz", gz);
        for (const size_t block : {size_t{16} << 20, size_t{1} << 16}) {
            SCOPED_TRACE("blocks of " + std::to_string(block) + (midway ? ", declaration midway" : ""));
            VcdPieces pieces;
            pieces.block_bytes = block;
            pieces.step_bytes = block >> 6;
            pieces.min_steal_bytes = block >> 4;
            pieces.steal_bytes_per_signal = 0;
            auto loaded = VcdTrace::from_file(path, pieces);
            ASSERT_TRUE(loaded.ok()) << loaded.error();
            expect_same(loaded.value(), want);
        }
        std::remove(path.c_str());

        const std::string fifo = testing::TempDir() + "quor_dump.fifo";
        std::remove(fifo.c_str());
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << gz; });
        auto piped = VcdTrace::from_file(fifo);
        writer.join();
        std::remove(fifo.c_str());
        ASSERT_TRUE(piped.ok()) << piped.error();
        expect_same(piped.value(), want);
    }
}

TEST(VcdGzipFile, FaultsAreNamed) {
    const std::string gz = gzip_member(random_dump(false));
    struct Case {
        const char* what;
        std::string bytes;
        std::string error;  // after "Failed to read <path>: "
    };
    const std::vector<Case> cases = {
        {"cut short", gz.substr(0, 100000), "the gzip data ends early, at byte 100000 of the file"},
        {"followed by text", gz + "\n#5\n", "the gzip data is followed by bytes that are not gzip data, at byte " +
                                                std::to_string(gz.size()) + " of the file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write_temp("quor_bad.vcd.gz", c.bytes);
        auto loaded = VcdTrace::from_file(path);
        std::remove(path.c_str());
        ASSERT_FALSE(loaded.ok());
        EXPECT_EQ(loaded.error(), "Failed to read " + path + ": " + c.error);
    }
}

}  // namespace
