#pragma once
// VcdSampleParser: reads the value-change lines of a stretch of VCD text into a ColumnBuilder
// and the stretch's own list of timestamps.
//
// Bit strings shorter than their signal's declared width are extended to it (signal::
// extend_to_width), and a two-state value of a signal wider than 64 bits is recorded as Wide.
//
// A change is recorded at the number of timestamp lines seen so far in the stretch, so changes
// before the stretch's first timestamp are recorded at 0: they belong to the last sample of the
// text before the stretch, and freezing moves each stretch by (timestamps before it) - 1. That
// lets stretches of one text be read at the same time, each on its own thread.

#include <cstdint>
#include <algorithm>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "signal/values/bitpack.hpp"
#include "signal/column_builder.hpp"
#include "formats/vcd/vcd_header.hpp"

namespace quor_core::trace {

class VcdSampleParser {
public:
    // A parser with a header reads a whole text in order: it hands declarations to the header and
    // skips value lines before the first timestamp. One without a header reads a stretch that
    // starts after the declarations; it only notes whether any declaration appears in it (the
    // stretch must then be read again in order).
    // widths: the declared width of each id the codes give (the header's, which a whole text's
    // declarations may still extend).
    VcdSampleParser(const VcdCodeTable& codes, const VcdWidths& widths, VcdHeader* header,
                    std::shared_ptr<signal::ColumnBuilder::SharedBlocks> blocks = nullptr);

    // Room for the changes a stretch of this many bytes can hold.
    void expect_bytes(uint64_t bytes);
    // Room for the timestamps of a stretch of this many bytes, as most texts have them: growing
    // the list would copy it into fresh pages again and again.
    void expect_timestamps(size_t bytes) {
        const size_t wanted = timestamps_.size() + bytes / 16;
        if (wanted > timestamps_.capacity()) timestamps_.reserve(std::max(wanted, timestamps_.capacity() * 2));
    }
    // The stretches read from here on are a new part, placed in the text by whoever reads the
    // parts: its changes are recorded at indices counted from its own start (a segment of the
    // builder), and its timestamps are kept apart from the earlier parts'. A parser that is
    // never told reads one part.
    void begin_part() {
        if (!part_starts_.empty()) builder_.begin_segment();
        part_starts_.push_back(timestamps_.size());
        samples_ = 0;
    }
    size_t part_count() const { return std::max<size_t>(1, part_starts_.size()); }
    std::span<const uint64_t> part_timestamps(size_t part) const {
        const size_t begin = part_starts_.empty() ? 0 : part_starts_[part];
        const size_t end = part + 1 < part_starts_.size() ? part_starts_[part + 1] : timestamps_.size();
        return std::span<const uint64_t>(timestamps_).subspan(begin, end - begin);
    }
    // Signals 0 .. ids - 1 are declared: their change logs are set up at once. From
    // staging_from signals on, changes are staged in text order before they go to their logs.
    void expect_ids(uint32_t ids, uint32_t staging_from);
    // Reads with the baseline instruction set only, also where wider vector instructions exist
    // (tests compare the two).
    void read_baseline_only() { baseline_only_ = true; }
    // Reads whole lines; the last may lack its line feed only at the end of the text. ascii tells
    // that block holds no byte >= 0x80, so no line needs UTF-8 validation.
    void feed(std::string_view block, bool ascii);

    bool saw_declaration() const { return saw_declaration_; }
    const std::vector<uint64_t>& timestamps() const { return timestamps_; }
    signal::ColumnBuilder& builder() { return builder_; }

private:
    // Value lines before the first timestamp of a whole text belong to no sample.
    bool recording() const { return recording_; }
    void add_time(uint64_t time) {
        timestamps_.push_back(time);
        ++samples_;
        recording_ = true;
    }
    // Reads one line in its most common exact form ("#123", "1!", "b0101 !", each ending in a
    // line feed) and returns the start of the next line; nullptr when the line is anything else.
    // widths: the declared width by id (widths_), passed down like pairs; nullptr while no
    // signal takes Wide values.
    template <typename Digits>
    const char* read_common_line(const char* p, const char* end, const uint32_t* pairs, const uint32_t* widths);
    template <typename Digits>
    void feed_with(std::string_view block, bool ascii);
    void feed_avx2(std::string_view block, bool ascii);
    // pairs: the code table's pairs_table(), passed down from the reading loop: stores into
    // the change log may alias any member, so a member would be loaded again for every line.
    struct CodeRead {
        const char* next;
        uint32_t id;
    };
    CodeRead read_code(const char* p, const char* end, const uint32_t* pairs) const;
    CodeRead read_other_code(const char* p, const char* end) const;
    // Stages a two-state value for a code of three characters that runs to the line feed at p,
    // by the code's key: its id is looked up when the batch goes out. Gives the start of the
    // next line; nullptr when the code has another form (nothing is staged).
    const char* stage_by_key(const char* p, const char* end, uint64_t value);
    // A vector line of more than 64 characters 0 and 1, the first 64 of them worth first;
    // nullptr when the line has another form.
    template <typename Digits>
    const char* read_wide_vector(const char* p, const char* end, const uint32_t* pairs, uint64_t first);
    // The same for more than 128 characters.
    template <typename Digits>
    const char* read_long_vector(const char* p, const char* end, const uint32_t* pairs);
    // A vector line of up to 64 characters of nine-valued logic; nullptr for any other form.
    const char* read_logic_vector(const char* p, const char* end);
    // Records a two-state value of up to 64 bits, as Wide for a signal wider than 64 bits.
    void set_two_state(uint32_t id, uint64_t value, uint32_t declared);
    // Records a four-state value of width characters given as bit planes (low set for 1 and Z,
    // high for X and Z; bit i for character i), extended to the declared width.
    void set_four_state(uint32_t id, unsigned width, uint64_t low, uint64_t high, uint32_t declared,
                        std::string_view text);
    // The width values of id are extended to; 0 for none.
    uint32_t declared_width(uint32_t id) const { return widths_->extended(id); }
    // What read_common_line is given as widths.
    const uint32_t* wide_lookup() const { return widths_->any_wide ? widths_->by_id.data() : nullptr; }
    void handle_line(std::string_view raw);
    void handle_vector(std::string_view line);
    void handle_real(std::string_view line);
    void set_value(std::string_view code, signal::SignalValue value);

    const VcdCodeTable* codes_;
    const VcdWidths* widths_;
    VcdHeader* header_;
    std::vector<uint64_t> chunks_;  // a wide vector's characters, 64 at a time
    std::vector<uint64_t> words_;   // a wide vector's words
    signal::ColumnBuilder builder_;
    std::vector<uint64_t> timestamps_;
    std::vector<size_t> part_starts_;  // where each part's timestamps begin
    uint64_t samples_ = 0;  // the part's timestamps: the index changes are recorded at
    bool recording_;        // a stretch records from its start, a whole text from its first timestamp
    bool saw_declaration_ = false;
    bool baseline_only_ = false;
    bool keyed_ = false;  // two-state values of codes of three characters are staged by key
};

}  // namespace quor_core::trace
