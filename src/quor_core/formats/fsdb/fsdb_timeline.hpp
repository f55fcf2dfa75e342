#pragma once
// Collects the decoded value sections of an FSDB file on one time axis.
//
// Each section merges its times into the axis and stores its values at them; a value already
// stored stays with its time when earlier times are inserted. After each section every signal
// holds a value at every time known so far (time 0 defaults to 0, later times carry the value
// before them), so a later section that writes at time t changes t and the new times carried
// from it, but never a time that an earlier section had already filled.
//
// Each signal is kept as its change points (time, value): the value at a time is the one of the
// last change point at or before it. That holds the dense picture in memory proportional to
// the values written rather than to signals times timestamps.

#include <cstdint>
#include <vector>

#include "signal/column_store.hpp"
#include "formats/fsdb/fsdb_sections.hpp"

namespace quor_core::trace::fsdb {

class Timeline {
public:
    // work_limit bounds the merge work of all sections together; sections past it are ignored.
    Timeline(uint32_t num_names, uint64_t work_limit);

    void apply_section(std::vector<ValueEntry> entries);

    const std::vector<uint64_t>& times() const { return times_; }
    bool exhausted() const { return work_left_ == 0; }
    // The values, and in times the axis they are indexed by; freezing may cut the axis short
    // (see column_budget.hpp).
    signal::ColumnStore freeze(std::vector<uint64_t>& times) &&;

private:
    struct Change {
        uint64_t time;
        uint64_t value;
    };
    // Value of the signal at time t before the current section, if it has one.
    bool old_value(uint32_t id, uint64_t t, uint64_t& value) const;
    bool has_implicit_zero(uint32_t id) const { return defaulted_ && id < num_; }
    void merge_signal(uint32_t id, const ValueEntry* first, const ValueEntry* last);

    uint32_t num_;
    uint64_t work_left_;
    bool defaulted_ = false;  // a section was decoded: every name holds 0 at time 0 unless written
    std::vector<uint64_t> times_{0};
    std::vector<std::vector<Change>> changes_;  // by signal id, ascending time
};

}  // namespace quor_core::trace::fsdb
