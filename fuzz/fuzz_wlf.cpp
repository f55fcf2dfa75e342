// Loads arbitrary bytes as a WLF file.

#include "fuzz_input_file.hpp"
#include "formats/wlf/wlf.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz_dir().write("input.wlf", data, size);
    const auto trace = quor_core::trace::WlfTrace::from_file(path);
    if (trace.ok()) {
        const auto& t = trace.value();
        for (uint64_t i = 0; i <= t.max_index() && i < 64; ++i) {
            for (const std::string& name : t.signal_names()) (void)t.signal_value(name, i);
        }
    }
    return 0;
}
