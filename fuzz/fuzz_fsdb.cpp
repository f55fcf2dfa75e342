// Loads arbitrary bytes as a FSDB file.

#include "fuzz_input_file.hpp"
#include "formats/fsdb/fsdb.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz_dir().write("input.fsdb", data, size);
    const auto trace = quor_core::trace::FsdbTrace::from_file(path);
    if (trace.ok()) {
        const auto& t = trace.value();
        for (uint64_t i = 0; i <= t.max_index() && i < 64; ++i) {
            for (const std::string& name : t.signal_names()) (void)t.signal_value(name, i);
        }
    }
    return 0;
}
