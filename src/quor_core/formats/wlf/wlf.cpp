#include "formats/wlf/wlf.hpp"

#include <algorithm>

#include "signal/column_builder.hpp"
#include "bytes/byte_scan.hpp"
#include "trace/derived_scopes.hpp"
#include "bytes/file_bytes.hpp"
#include "trace/name_table.hpp"
#include "trace/pool_parallel.hpp"

namespace quor_core::trace {

namespace wlf {

std::string read_lpstr(Bytes file, size_t& pos) {
    if (pos >= kPage || pos >= file.size()) return {};
    const size_t len = file[pos];
    ++pos;
    if (len == 0 || pos + len > kPage || pos + len > file.size()) return {};
    const Bytes text = file.subspan(pos, len);
    if (!std::all_of(text.begin(), text.end(), [](uint8_t c) { return c >= 0x20 && c <= 0x7E; })) return {};
    pos += len;
    return std::string(text.begin(), text.end());
}

}  // namespace wlf

namespace {

using wlf::kPage;

bool is_value_mark(Bytes page) { return page[0] == 0xFF && page[1] == 0xFF; }

void add_names(Bytes bytes, NameTable& names, size_t cap) {
    for (const std::string& name : extract_identifiers_wlf(bytes)) {
        if (names.size() >= cap) return;
        names.add(name);
    }
}

// Decodes the value pages: 0xFF opens the next sample, a (signal id, value) pair sets a value.
void read_values(Bytes file, TraceRecord& r, uint32_t num_names) {
    signal::ColumnBuilder builder(signal::FillRule::SetThenFill);
    uint64_t current = 0;
    const size_t pages = file.size() / kPage;
    if (file.size() >= 2 * kPage) {
        for (size_t k = 1; k < pages; ++k) {
            const Bytes page = file.subspan(k * kPage, kPage);
            if (!is_value_mark(page)) continue;
            const auto nonzero = std::count_if(page.begin(), page.end(), [](uint8_t b) { return b != 0; });
            if (nonzero < 16) continue;
            const size_t declared = be16(page, 2);
            if (declared < 2) continue;
            const Bytes area = page.subspan(16, std::min<size_t>(declared, kPage - 16));
            for (size_t j = 0; j + 1 < area.size();) {
                const uint8_t b = area[j];
                if (b == 0xFF) {
                    ++current;
                    ++j;
                } else if (b != 0x00 && b < num_names) {
                    builder.set_uint(b, current, area[j + 1]);
                    j += 2;
                } else {
                    ++j;
                }
            }
        }
    }
    // Every sample counter reached is a timestamp equal to its index.
    r.timestamps.resize(current + 1);
    for (uint64_t i = 0; i <= current; ++i) r.timestamps[i] = i;
    r.store = std::move(builder).freeze(r.timestamps.size(), pool_parallel_for());
}

}  // namespace

Result<WlfTrace, std::string> WlfTrace::from_bytes(Bytes file) {
    if (file.size() < kPage) return make_err(std::string("WLF file too small (< 1 page)"));
    const size_t name_end = std::min<size_t>(be16(file, 2), kPage);
    const uint32_t announced = be16(file, 24);
    size_t pos = 40;
    for (int k = 0; k < 3; ++k) wlf::read_lpstr(file, pos);

    NameTable names;
    const size_t cap = std::max<size_t>(announced, 1000);
    if (pos < name_end) add_names(file.subspan(pos, name_end - pos), names, cap);
    if (names.size() < announced) {
        const size_t pages = std::min<size_t>(file.size() / kPage, 4);
        for (size_t k = 1; k < pages; ++k) {
            const Bytes page = file.subspan(k * kPage, kPage);
            if (!is_value_mark(page)) add_names(page, names, cap);
        }
    }
    TraceRecord& r = names.record();
    read_values(file, r, names.size());
    r.scopes = derive_scopes(r.signal_names);
    return WlfTrace(std::move(r));
}

Result<WlfTrace, std::string> WlfTrace::from_file(const std::string& path, const util::Interrupt& interrupt) {
    auto bytes = read_file_or_message(path, interrupt);
    if (!bytes.ok()) return make_err(std::move(bytes).error());
    return from_bytes(bytes.value());
}

}  // namespace quor_core::trace
