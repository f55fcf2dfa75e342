#pragma once
// Byte scans shared by the loaders that recover names from binary files: NUL-terminated
// printable runs, the identifier filters of each format, and scope names from dotted names.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/byte_order.hpp"

namespace quor_core::trace {

// Calls on_run(text) for every printable ASCII run that is followed directly by a NUL byte.
// A run starts at a byte 0x21..0x7E (or 0x20..0x7E when space_may_start) and continues over
// 0x20..0x7E; a run that reaches the end of the buffer ends the scan.
template <typename OnRun>
void scan_printable_runs(Bytes bytes, bool space_may_start, OnRun&& on_run) {
    const size_t n = bytes.size();
    const uint8_t first_lo = space_may_start ? 0x20 : 0x21;
    size_t p = 0;
    while (p < n) {
        if (bytes[p] < first_lo || bytes[p] > 0x7E) {
            ++p;
            continue;
        }
        size_t q = p;
        while (q < n && bytes[q] >= 0x20 && bytes[q] <= 0x7E) ++q;
        if (q == n) return;
        if (bytes[q] == 0x00) {
            on_run(std::string_view(reinterpret_cast<const char*>(bytes.data() + p), q - p));
        }
        p = q + 1;
    }
}

// The identifier filters. Both return the accepted strings in order, duplicates included.
bool fsdb_accepts(std::string_view s);
bool wlf_accepts(std::string_view s);  // also the VPD filter
std::vector<std::string> extract_identifiers_fsdb(Bytes bytes);
std::vector<std::string> extract_identifiers_wlf(Bytes bytes);

// True when every dot-separated piece is non-empty and starts with a letter or '_'.
bool dotted_pieces_ok(std::string_view s);

}  // namespace quor_core::trace
