#pragma once
// StretchSchedule: the stretches of one block of lines, read at the same time by several threads,
// with the unread tail of a slow stretch handed to a thread that has finished its own.
//
// Threads of a virtual machine often run at quite different speeds, so stretches of equal length
// can take very different times, and the block waits for the slowest. Each stretch is read in
// steps of whole lines that its owner claims one at a time; a thread with nothing left to read
// takes the later half of the largest unclaimed tail as a stretch of its own. Every stretch keeps
// whole lines, in text order, so each is read like a block cut there in the first place.

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace quor_core::trace {

class StretchSchedule {
public:
    // lines cut into stretches (whole lines, in order, covering lines); stretches are read in
    // steps of about step bytes; a tail shorter than min_steal is left to its owner; at most
    // max_stolen stretches are made by stealing.
    StretchSchedule(std::string_view lines, const std::vector<std::string_view>& stretches, size_t step, size_t min_steal,
                    size_t max_stolen);
    StretchSchedule(const StretchSchedule&) = delete;
    StretchSchedule& operator=(const StretchSchedule&) = delete;

    // Reads stretch k step by step: read(k, text) for each claimed step, until nothing is left.
    template <typename Read>
    void read_stretch(size_t k, Read&& read) {
        for (;;) {
            std::string_view text;
            {
                std::lock_guard lock(m_);
                Stretch& s = stretches_[k];
                if (s.claimed >= s.end) return;
                const size_t stop = line_start_at_or_after(std::min(s.end, s.claimed + step_), s.end);
                text = lines_.substr(s.claimed, stop - s.claimed);
                s.claimed = stop;
            }
            read(k, text);
        }
    }

    // Makes a stretch of the later half of the largest unclaimed tail; nothing when no tail is
    // worth taking.
    struct Stolen {
        size_t index;
        size_t bytes;
    };
    std::optional<Stolen> steal();

    // Stretches made so far (the first ones, then stolen ones).
    size_t count() const;
    // The stretches' indices in text order.
    std::vector<size_t> in_text_order() const;

private:
    struct Stretch {
        size_t begin;    // offsets in lines_
        size_t claimed;  // [begin, claimed) is claimed by the owner
        size_t end;      // a line start; a thief may move it back
    };
    // The first line start at or after at, up to limit (itself a line start).
    size_t line_start_at_or_after(size_t at, size_t limit) const;

    std::string_view lines_;
    size_t step_;
    size_t min_steal_;
    size_t max_stretches_;
    mutable std::mutex m_;
    std::vector<Stretch> stretches_;
};

}  // namespace quor_core::trace
