// Timescales: the VCD "$timescale" declaration in its written forms, the FST header's power of
// ten, and both loaders' paths (in parallel and in order) recording it.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "trace/timescale.hpp"
#include "formats/vcd/vcd.hpp"

namespace {

using quor_core::trace::find_vcd_timescale;
using quor_core::trace::Timescale;
using quor_core::trace::timescale_from_exponent;
using quor_core::trace::VcdPieces;
using quor_core::trace::VcdTrace;

std::string name_of(const std::optional<Timescale>& t) {
    return t ? std::to_string(t->magnitude) + std::string(t->unit_name()) : "none";
}

TEST(Timescale, VcdDeclarations) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"$timescale 1ns $end", "1ns"},
        {"$timescale 10 ps $end", "10ps"},
        {"$timescale\n\t100us\n$end", "100us"},
        {"$timescale\n  1 fs\n$end\n", "1fs"},
        {"$date today $end $timescale 1s $end", "1s"},
        {"$timescale 1ms $end $timescale 1ns $end", "1ms"},  // the first one
        {"$timescale 1 as $end", "1as"},
        {"", "none"},
        {"$timescale $end", "none"},
        {"$timescale 1ns", "none"},           // never closed
        {"$timescale 0ns $end", "none"},
        {"$timescale 1 ns ps $end", "none"},
        {"$timescale 1 NS $end", "none"},
        {"$timescale -1ns $end", "none"},
        {"$timescale 99999999999999999999ns $end", "none"},  // does not fit 64 bits
    };
    for (const Case& c : cases) EXPECT_EQ(name_of(find_vcd_timescale(c.text)), c.expected) << c.text;
}

TEST(Timescale, PowersOfTenSeconds) {
    struct Case {
        int exponent;
        const char* expected;
    };
    const Case cases[] = {
        {0, "1s"},    {1, "10s"},   {2, "100s"},   {-1, "100ms"}, {-2, "10ms"},  {-3, "1ms"},
        {-9, "1ns"},  {-10, "100ps"}, {-11, "10ps"}, {-12, "1ps"}, {-15, "1fs"}, {-16, "100as"},
        {-18, "1as"}, {-19, "none"}, {18, "1000000000000000000s"}, {19, "none"}, {-128, "none"}, {127, "none"},
    };
    for (const Case& c : cases) EXPECT_EQ(name_of(timescale_from_exponent(c.exponent)), c.expected) << c.exponent;
}

TEST(Timescale, BothVcdReadingPathsRecordIt) {
    const std::string head = "$version x $end\n$timescale\n 10 ns\n$end\n$scope module t $end\n$var wire 1 ! a $end\n"
                             "$upscope $end\n$enddefinitions $end\n";
    std::string text = head;
    for (int i = 0; i < 2000; ++i) text += "#" + std::to_string(i) + "\n" + std::to_string(i % 2) + "!\n";
    VcdPieces small;  // many stretches, so the text is cut into blocks and pieces
    small.min_bytes = 64;
    small.block_bytes = 4096;
    for (const auto& loaded : {VcdTrace::parse(text, small), VcdTrace::parse_in_order(text, small),
                               VcdTrace::parse(head + "#0\n$var wire 1 # late $end\n#1\n")}) {
        ASSERT_TRUE(loaded.ok());
        EXPECT_EQ(name_of(loaded.value().timescale()), "10ns");
    }
    EXPECT_EQ(name_of(VcdTrace::parse("$enddefinitions $end\n#0\n$timescale 1ns $end\n").value().timescale()), "none");
}

}  // namespace
