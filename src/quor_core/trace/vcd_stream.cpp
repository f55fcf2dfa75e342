#include "trace/vcd_stream.hpp"

#include <string_view>
#include <utility>
#include <vector>

#include "trace/file_bytes.hpp"
#include "trace/gzip_text.hpp"

namespace quor_core::trace {

namespace {

bool starts_as_fst(std::span<const uint8_t> data) {
    constexpr uint8_t kHeaderBlock = 0;
    constexpr uint8_t kGzipWrapperBlock = 254;
    return !data.empty() && (data[0] == kHeaderBlock || data[0] == kGzipWrapperBlock);
}

std::span<const uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

bool starts_as_vcd_text(std::span<const uint8_t> data) {
    size_t i = 0;
    if (data.size() >= 3 && data[0] == 0xef && data[1] == 0xbb && data[2] == 0xbf) i = 3;
    while (i < data.size() && (data[i] == ' ' || (data[i] >= '\t' && data[i] <= '\r'))) ++i;
    return i < data.size() && (data[i] == '$' || data[i] == '#');
}

Result<VcdTrace, std::string> load_vcd_stream(const std::string& path, VcdPieces pieces) {
    auto read = read_file_bytes(path);
    if (!read.ok()) return make_err("Failed to open " + path + ": " + read.error());
    std::vector<uint8_t> raw = std::move(read).value();
    const auto unknown = [&](const std::string& why) {
        return make_err("Cannot tell the format of " + path + ": " + why);
    };
    if (raw.empty()) return unknown("it is empty");
    std::string inflated;
    std::span<const uint8_t> text = raw;
    if (starts_as_gzip(raw)) {
        auto unpacked = gunzip(raw);
        if (!unpacked.ok()) return make_err("Failed to read " + path + ": " + unpacked.error());
        inflated = std::move(unpacked).value();
        std::vector<uint8_t>().swap(raw);  // the compressed bytes are not needed any more
        text = bytes_of(inflated);
    }
    if (!starts_as_vcd_text(text)) {
        if (starts_as_fst(text)) return unknown("an FST file is read from a regular file only, not a pipe or device");
        return unknown("from a pipe or device only VCD text is read (plain or gzip-compressed), and this is not");
    }
    return VcdTrace::parse(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), pieces);
}

}  // namespace quor_core::trace
