// libFuzzer harness: arbitrary bytes as VCD text, header and value changes.
//
// The text is read three ways: in order on one thread (the reference), cut into stretches read
// at the same time on the worker pool, and (for some inputs) from a file in blocks. The last
// byte of the input picks how finely the text is cut, so short inputs still reach the stretch,
// step and stealing paths meant for big dumps; every way must give the same trace, so a
// difference stops the run like a crash does.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_input_file.hpp"
#include "formats/vcd/vcd.hpp"

namespace {

using quor_core::trace::VcdPieces;
using quor_core::trace::VcdTrace;

// Bits 0-1: stretches per block; 2-3: shortest stretch (bit 2 also: changes staged in text order,
// as for dumps of many signals); 4: baseline line reader; 5-6: step (and stealing) length; 7:
// also read the text from a file, in small blocks.
VcdPieces pieces_for(uint8_t config) {
    static constexpr size_t kCounts[] = {0, 1, 3, 8};
    static constexpr size_t kMinBytes[] = {1, 16, 256, size_t{1} << 20};
    static constexpr size_t kSteps[] = {8, 64, 1024, size_t{256} << 10};
    VcdPieces p;
    p.max_count = kCounts[config & 3];
    p.min_bytes = kMinBytes[(config >> 2) & 3];
    p.baseline_only = (config >> 4) & 1;
    p.step_bytes = kSteps[(config >> 5) & 3];
    p.min_steal_bytes = 2 * p.step_bytes;
    p.steal_bytes_per_signal = 0;
    p.block_bytes = 4096;  // the smallest block a file is read in
    p.block_bytes_per_signal = (config >> 5) & 1 ? 0 : 64;
    if ((config >> 2) & 1) p.staging_signals = 0;
    return p;
}

void expect(bool same) {
    if (!same) std::abort();
}

// Equal values, where a real NaN equals the same NaN: the readings are compared, not the numbers.
bool same_value(const quor_core::signal::SignalValue& a, const quor_core::signal::SignalValue& b) {
    if (a.kind() == quor_core::signal::ValueKind::Real && b.kind() == quor_core::signal::ValueKind::Real) {
        return std::bit_cast<uint64_t>(a.as_real()) == std::bit_cast<uint64_t>(b.as_real());
    }
    return a == b;
}

void expect_same(const VcdTrace& got, const VcdTrace& want) {
    expect(got.max_index() == want.max_index());
    const auto got_times = got.timestamps();
    const auto want_times = want.timestamps();
    expect(std::equal(got_times.begin(), got_times.end(), want_times.begin(), want_times.end()));
    const auto names = want.signal_names();
    const auto got_names = got.signal_names();
    expect(std::equal(got_names.begin(), got_names.end(), names.begin(), names.end()));
    const auto scopes = want.scopes();
    const auto got_scopes = got.scopes();
    expect(std::equal(got_scopes.begin(), got_scopes.end(), scopes.begin(), scopes.end()));
    for (const std::string& name : names) {
        expect(got.signal_width(name) == want.signal_width(name));
        for (uint64_t i = 0; i <= want.max_index() + 1; ++i) {
            expect(same_value(got.signal_value(name, i), want.signal_value(name, i)));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const VcdPieces pieces = pieces_for(size > 0 ? data[size - 1] : 0);
    const auto in_order = VcdTrace::parse_in_order(text, pieces);
    const auto cut = VcdTrace::parse(text, pieces);
    expect(in_order.ok() && cut.ok());  // VCD text is never refused
    expect_same(cut.value(), in_order.value());
    if (size > 0 && (data[size - 1] & 0x80)) {
        const auto from_file = VcdTrace::from_file(fuzz_dir().write("input.vcd", data, size), pieces);
        expect(from_file.ok());
        expect_same(from_file.value(), in_order.value());
    }
    return 0;
}
