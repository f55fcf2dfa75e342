// Stretches of lines read in steps, with tails taken by idle readers: every line is read exactly
// once, by one stretch, and the stretches in text order give back the text.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "parallel/stretch_schedule.hpp"

namespace {

using quor_core::trace::StretchSchedule;

std::string numbered_lines(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += "line " + std::string(i % 13, 'x') + std::to_string(i) + "\n";
    return text;
}

bool starts_a_line(std::string_view all, std::string_view part) {
    return part.data() == all.data() || part.data()[-1] == '\n';
}

TEST(StretchSchedule, StolenTailsKeepWholeLinesInTextOrder) {
    const std::string text = numbered_lines(400) + "no line feed";
    const std::string_view lines(text);
    for (const size_t step : {1, 9, 100, 100000}) {
        for (const size_t min_steal : {2, 300, 1000000}) {
            SCOPED_TRACE("step " + std::to_string(step) + ", min_steal " + std::to_string(min_steal));
            const size_t cut = lines.find('\n', lines.size() / 3) + 1;
            StretchSchedule schedule(lines, {lines.substr(0, cut), lines.substr(cut)}, step, min_steal, 6);
            std::map<size_t, std::string> read;
            const auto record = [&](size_t k, std::string_view part) {
                EXPECT_TRUE(starts_a_line(lines, part));
                EXPECT_TRUE(part.back() == '\n' || part.data() + part.size() == lines.data() + lines.size());
                read[k] += part;
            };
            // The owner of the first stretch is overtaken after its first step: its tail and
            // then the tails of the tails are taken while it reads on.
            bool stolen = false;
            schedule.read_stretch(0, [&](size_t k, std::string_view part) {
                record(k, part);
                if (stolen) return;
                stolen = true;
                while (const auto s = schedule.steal()) {
                    EXPECT_GE(s->bytes, 1u);
                    schedule.read_stretch(s->index, record);
                }
            });
            schedule.read_stretch(1, record);
            while (const auto s = schedule.steal()) schedule.read_stretch(s->index, record);
            EXPECT_LE(schedule.count(), 2u + 6u);
            if (min_steal == 2 && step < 100000) {
                EXPECT_GT(schedule.count(), 2u);
            }
            std::string joined;
            for (const size_t k : schedule.in_text_order()) joined += read[k];
            EXPECT_EQ(joined, text);
        }
    }
}

}  // namespace
