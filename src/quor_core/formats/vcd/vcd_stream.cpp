#include "formats/vcd/vcd_stream.hpp"

#include <string_view>
#include <utility>

namespace quor_core::trace {

namespace {

bool starts_as_fst(std::span<const uint8_t> data) {
    constexpr uint8_t kHeaderBlock = 0;
    constexpr uint8_t kGzipWrapperBlock = 254;
    return !data.empty() && (data[0] == kHeaderBlock || data[0] == kGzipWrapperBlock);
}

}  // namespace

bool starts_as_vcd_text(std::span<const uint8_t> data) {
    size_t i = 0;
    if (data.size() >= 3 && data[0] == 0xef && data[1] == 0xbb && data[2] == 0xbf) i = 3;
    while (i < data.size() && (data[i] == ' ' || (data[i] >= '\t' && data[i] <= '\r'))) ++i;
    return i < data.size() && (data[i] == '$' || data[i] == '#');
}

Result<VcdTrace, std::string> load_vcd_stream(const std::string& path, VcdPieces pieces,
                                              const util::Interrupt& interrupt) {
    auto read = VcdTrace::read_stream_text(path, interrupt);
    if (!read.ok()) return make_err(std::move(read).error());
    const std::string text = std::move(read).value();
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const auto unknown = [&](const std::string& why) {
        return make_err("Cannot tell the format of " + path + ": " + why);
    };
    if (bytes.empty()) return unknown("it is empty");
    if (!starts_as_vcd_text(bytes)) {
        if (starts_as_fst(bytes)) return unknown("an FST file is read from a regular file only, not a pipe or device");
        return unknown("from a pipe or device only VCD text is read (plain or gzip-compressed), and this is not");
    }
    return VcdTrace::parse(text, pieces, interrupt);
}

}  // namespace quor_core::trace
