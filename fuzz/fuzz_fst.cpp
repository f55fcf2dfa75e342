// libFuzzer harness: arbitrary bytes as a whole FST file, loaded into a trace.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/fst/fst.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto trace = quor_core::trace::FstTrace::from_bytes(std::vector<std::uint8_t>(data, data + size));
    if (trace.ok()) {
        // Touch what was loaded so that every store path is exercised.
        const auto& t = trace.value();
        for (const auto& name : t.signal_names()) {
            (void)t.signal_value(name, 0);
            (void)t.signal_value(name, t.max_index());
        }
    }
    return 0;
}
