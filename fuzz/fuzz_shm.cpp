// Loads arbitrary bytes as an SHM database: the first two bytes give the design file's length,
// the design file follows, the rest is the transition file; both go into one directory.

#include <algorithm>

#include "fuzz_input_file.hpp"
#include "formats/shm/shm.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t dsn_len = std::min<size_t>(size - 2, (size_t{data[0]} << 8) | data[1]);
    fuzz_dir().write("db.dsn", data + 2, dsn_len);
    fuzz_dir().write("db.trn", data + 2 + dsn_len, size - 2 - dsn_len);
    const auto trace = quor_core::trace::ShmTrace::from_file(fuzz_dir().path());
    if (trace.ok()) {
        const auto& t = trace.value();
        for (uint64_t i = 0; i <= t.max_index() && i < 64; ++i) {
            for (const std::string& name : t.signal_names()) (void)t.signal_value(name, i);
        }
    }
    return 0;
}
