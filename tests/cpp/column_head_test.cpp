// ColumnHead reads every index exactly as the Column it was copied from.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "signal/column.hpp"
#include "signal/column_head.hpp"
#include "util/arena.hpp"

namespace {

using quor_core::signal::Column;
using quor_core::signal::ColumnHead;
using quor_core::signal::ColumnWriter;
using quor_core::signal::SignalValue;
using quor_core::signal::ValueKind;

struct Shape {
    const char* name;
    uint64_t length;
    std::function<void(ColumnWriter&)> fill;
};

// Random runs of two-state values below limit, one every few indices.
void random_uints(ColumnWriter& w, uint64_t length, uint64_t limit, unsigned seed) {
    std::mt19937_64 rng(seed);
    for (uint64_t i = 0; i < length; i += 1 + rng() % 5) w.append_inline(i, ValueKind::Uint, rng() % limit);
}

const std::vector<Shape>& shapes() {
    static const std::vector<Shape> all = {
        {"one run", 100, [](ColumnWriter& w) { w.append_inline(0, ValueKind::Uint, 42); }},
        {"one-byte payloads over many rank blocks", 5000, [](ColumnWriter& w) { random_uints(w, 5000, 200, 1); }},
        {"two-byte payloads", 1500, [](ColumnWriter& w) { random_uints(w, 1500, 60000, 2); }},
        {"four-byte payloads", 1500, [](ColumnWriter& w) { random_uints(w, 1500, uint64_t{1} << 32, 3); }},
        {"eight-byte payloads", 1500, [](ColumnWriter& w) { random_uints(w, 1500, ~uint64_t{0}, 4); }},
        {"reals and unknowns", 700,
         [](ColumnWriter& w) {
             w.append(0, SignalValue::real(1.5));
             w.append_inline(63, ValueKind::Unknown, 0);
             w.append(64, SignalValue::real(-2.25));
             w.append_inline(511, ValueKind::Uint, 9);
             w.append(512, SignalValue::real(0.0));
         }},
        {"values kept beside the runs", 1200,
         [](ColumnWriter& w) {
             w.append_inline(0, ValueKind::Uint, 3);
             w.append(1, SignalValue::wide({1, 2, 3}));
             w.append(70, SignalValue::four_state({0, 1, 2, 3}));
             w.append(600, SignalValue::text("idle"));
             w.append_inline(1199, ValueKind::Uint, 1);
         }},
        {"a run at every index over two rank blocks", 1024,
         [](ColumnWriter& w) {
             for (uint64_t i = 0; i < 1024; ++i) w.append_inline(i, ValueKind::Uint, i % 3);
         }},
        {"runs at rank block edges", 1536,
         [](ColumnWriter& w) {
             uint64_t value = 0;
             for (const uint64_t at : {0, 511, 512, 1023, 1024, 1535}) w.append_inline(at, ValueKind::Uint, ++value);
         }},
        {"wide values in most runs, unknowns and a short one between", 2000,
         [](ColumnWriter& w) {
             for (uint64_t i = 0; i < 2000; i += 7) {
                 if (i % 5 == 0) {
                     w.append_inline(i, ValueKind::Unknown, 0);
                 } else if (i % 11 == 0) {
                     w.append(i, SignalValue::wide({i}));
                 } else {
                     w.append(i, SignalValue::wide({i, ~i, i * 3}));
                 }
             }
         }},
        {"one wide run", 300, [](ColumnWriter& w) { w.append(0, SignalValue::wide({5, 6})); }},
        {"last run at the last index", 64,
         [](ColumnWriter& w) {
             w.append_inline(0, ValueKind::Uint, 1);
             w.append_inline(63, ValueKind::Uint, 0);
         }},
    };
    return all;
}

TEST(ColumnHead, ReadsEveryIndexAsItsColumn) {
    for (const bool with_arena : {false, true}) {
        for (const Shape& shape : shapes()) {
            SCOPED_TRACE(std::string(shape.name) + (with_arena ? ", arena" : ""));
            ColumnWriter w(shape.length, with_arena ? std::make_shared<quor_core::util::Arena>() : nullptr);
            shape.fill(w);
            const Column column = std::move(w).finish();
            const ColumnHead head(column);
            for (uint64_t i = 0; i < shape.length + 3; ++i) {  // past the end reads Unknown in both
                ASSERT_TRUE(identical(head.at(i), column.at(i))) << "index " << i;
            }
        }
    }
}

TEST(ColumnHead, OfAnEmptyColumnReadsUnknown) {
    const Column empty;
    for (const ColumnHead& head : {ColumnHead(), ColumnHead(empty)}) {
        for (const uint64_t i : {uint64_t{0}, uint64_t{1}, ~uint64_t{0}}) EXPECT_TRUE(head.at(i).is_unknown());
    }
}

}  // namespace
