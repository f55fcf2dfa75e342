#include "formats/vpd/vpd.hpp"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "bytes/byte_scan.hpp"
#include "trace/derived_scopes.hpp"
#include "bytes/file_bytes.hpp"
#include "trace/name_table.hpp"

namespace quor_core::trace {

namespace {

constexpr uint32_t kMagic = 0x12345678;
constexpr size_t kHeader = 128;
constexpr size_t kProbe = 128;

std::vector<uint64_t> section_offsets(Bytes file) {
    std::vector<uint64_t> offsets;
    for (size_t i = 0; i < 20; ++i) {
        const size_t at = 48 + 4 * i;
        if (!fits(file, at, 4)) continue;
        const uint64_t w = le32(file, at);
        if (w > kHeader && w < file.size()) offsets.push_back(w);
    }
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    return offsets;
}

// A section holds names when its first bytes carry a marker string or more than three identifiers.
bool is_name_section(Bytes probe) {
    bool marker = false;
    scan_printable_runs(probe, true, [&](std::string_view run) {
        if (run.size() >= 3 && (run.find("FoldedTop") != std::string_view::npos || run.find("WithMask") != std::string_view::npos)) {
            marker = true;
        }
    });
    return marker || extract_identifiers_wlf(probe).size() > 3;
}

}  // namespace

Result<VpdTrace, std::string> VpdTrace::from_bytes(Bytes file) {
    if (file.size() < kHeader) return make_err(std::string("VPD file too small"));
    const uint32_t magic = le32(file, 0);
    if (magic != kMagic) {
        char msg[64];
        std::snprintf(msg, sizeof msg, "Not a VPD file (magic=0x%08X)", magic);
        return make_err(std::string(msg));
    }
    NameTable names;
    const std::vector<uint64_t> offsets = section_offsets(file);
    for (size_t k = 0; k < offsets.size(); ++k) {
        const uint64_t start = offsets[k];
        const uint64_t end = k + 1 < offsets.size() ? offsets[k + 1] : file.size();
        const Bytes section = file.subspan(start, end - start);
        if (!is_name_section(section.subspan(0, std::min<size_t>(section.size(), kProbe)))) continue;
        for (const std::string& name : extract_identifiers_wlf(section)) names.add(name);
    }
    TraceRecord& r = names.record();
    r.scopes = derive_scopes(r.signal_names);
    r.timestamps = {0};
    return VpdTrace(std::move(r));
}

Result<VpdTrace, std::string> VpdTrace::from_file(const std::string& path, const util::Interrupt& interrupt) {
    auto bytes = read_file_or_message(path, interrupt);
    if (!bytes.ok()) return make_err(std::move(bytes).error());
    return from_bytes(bytes.value());
}

}  // namespace quor_core::trace
