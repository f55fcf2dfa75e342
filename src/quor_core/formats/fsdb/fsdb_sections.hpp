#pragma once
// Decoding of one FSDB value section (the decompressed bytes of a value block) into timed values
// for signal ids assigned by position.

#include <cstdint>
#include <optional>
#include <vector>

#include "bytes/byte_order.hpp"

namespace quor_core::trace::fsdb {

struct ValueEntry {
    uint64_t time;
    uint32_t id;
    uint64_t value;
};

// Caps the number of entries a whole load produces: a few bytes of a section can ask for a
// clock over a huge time range or for the base list copied once per shift item.
class EntryBudget {
public:
    explicit EntryBudget(uint64_t limit) : remaining_(limit) {}
    bool take() {
        if (remaining_ == 0) return false;
        --remaining_;
        return true;
    }
    bool spent() const { return remaining_ == 0; }

private:
    uint64_t remaining_;
};

// nothing when the section is skipped (too short or without its markers); otherwise the
// entries in production order, possibly none.
std::optional<std::vector<ValueEntry>> decode_value_section(Bytes section, uint32_t num_names, EntryBudget& budget);

}  // namespace quor_core::trace::fsdb
