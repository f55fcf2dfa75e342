// Stopping work early: an Interrupt asks its poll function only on the thread that made it; a
// pool job skips its pieces once told to stop and leaves the pool usable; a job submitted from
// inside a job runs on the submitting thread instead of waiting for itself; loads stop part way
// with nothing left behind (the sanitizer builds check for leaks) and load normally afterwards;
// a FIFO whose writer is silent is waited for only as long as the interrupt allows.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "parallel/pool.hpp"
#include "bytes/file_bytes.hpp"
#include "formats/fst/fst.hpp"
#include "formats/vcd/vcd.hpp"
#include "util/interrupt.hpp"
#include "util/polled_read.hpp"

namespace {

using quor_core::eval::WorkerPool;
using quor_core::util::Interrupt;
using quor_core::util::Interrupted;
using namespace std::chrono_literals;

// An interrupt that says stop on its n-th question (never for n == 0), asked at every check.
class StopAfter {
public:
    explicit StopAfter(int n) : interrupt_([this, n] { return ++asked_ == n; }, 0ns) {}
    const Interrupt& get() const { return interrupt_; }
    int asked() const { return asked_; }

private:
    int asked_ = 0;
    Interrupt interrupt_;
};

TEST(Interrupt, AsksOnlyOnItsOwnThreadAndOthersSeeTheAnswer) {
    StopAfter stop(1);
    bool threw_elsewhere = false;
    std::thread([&] {
        try {
            stop.get().check();  // not the owner: reads the flag only
        } catch (const Interrupted&) {
            threw_elsewhere = true;
        }
    }).join();
    EXPECT_FALSE(threw_elsewhere);
    EXPECT_EQ(stop.asked(), 0);
    EXPECT_THROW(stop.get().check(), Interrupted);
    EXPECT_EQ(stop.asked(), 1);
    std::thread([&] { EXPECT_THROW(stop.get().check(), Interrupted); }).join();
    EXPECT_EQ(stop.asked(), 1);  // once stopped, nobody asks again
}

TEST(Interrupt, AsksAtMostOncePerInterval) {
    int asked = 0;
    const Interrupt interrupt([&] { return ++asked, false; }, 1h);
    for (int i = 0; i < 1000; ++i) interrupt.check();
    EXPECT_EQ(asked, 0);
    EXPECT_NO_THROW(Interrupt::never().check());
    EXPECT_FALSE(Interrupt::never().can_stop());
}

// A job told to stop skips the pieces not yet begun and throws once the running ones have left;
// the next job runs in full. Workers 0 runs everything on the caller.
TEST(PoolInterrupt, StopsSkipsAndStaysUsable) {
    for (const size_t workers : {0u, 1u, 3u}) {
        WorkerPool pool(workers);
        for (const int mode : {0, 1, 2}) {  // run, run_sharing, run_alongside
            StopAfter stop(3);
            std::atomic<int> ran{0};
            const auto piece = [&](size_t) {
                ran.fetch_add(1);
                std::this_thread::sleep_for(2ms);
                stop.get().check();
            };
            const auto job = [&] {
                if (mode == 0) pool.run(200, piece, stop.get());
                if (mode == 1) pool.run_sharing(200, piece, stop.get());
                if (mode == 2) pool.run_alongside(200, piece, [] {}, stop.get());
            };
            EXPECT_THROW(job(), Interrupted) << workers << " workers, mode " << mode;
            EXPECT_LT(ran.load(), 200) << workers << " workers, mode " << mode;
            std::vector<std::atomic<int>> runs(50);
            pool.run_sharing(runs.size(), [&](size_t k) { runs[k].fetch_add(1); });
            pool.run(runs.size(), [&](size_t k) { runs[k].fetch_add(1); });
            for (const auto& r : runs) EXPECT_EQ(r.load(), 2);
        }
    }
}

// The caller is asked at least once during every job, even one whose pieces all run on the
// workers and end before the caller would next look.
TEST(PoolInterrupt, CallerIsAskedDuringEveryJob) {
    WorkerPool pool(2);
    for (const int mode : {0, 1, 2}) {  // run, run_sharing, run_alongside
        StopAfter stop(1);
        const auto piece = [](size_t) {};
        const auto job = [&] {
            if (mode == 0) pool.run(2, piece, stop.get());
            if (mode == 1) pool.run_sharing(2, piece, stop.get());
            if (mode == 2) pool.run_alongside(2, piece, [] {}, stop.get());
        };
        EXPECT_THROW(job(), Interrupted) << "mode " << mode;
        EXPECT_EQ(stop.asked(), 1) << "mode " << mode;
    }
}

// A piece (or the caller while it waits) that submits a job of its own gets it run on its own
// thread; waiting for the pool there would wait for itself.
TEST(Pool, AJobFromInsideAJobRunsOnItsThread) {
    WorkerPool pool(2);
    std::vector<std::atomic<int>> inner(8 * 5);
    pool.run(8, [&](size_t k) {
        const auto self = std::this_thread::get_id();
        pool.run(5, [&, self, k](size_t j) {
            EXPECT_EQ(std::this_thread::get_id(), self);
            inner[k * 5 + j].fetch_add(1);
        });
    });
    for (const auto& r : inner) EXPECT_EQ(r.load(), 1);
    std::atomic<int> alongside_inner{0};
    pool.run_alongside(4, [](size_t) {}, [&] { pool.run_sharing(3, [&](size_t) { alongside_inner.fetch_add(1); }); });
    EXPECT_EQ(alongside_inner.load(), 3);
}

std::string long_vcd() {
    std::string text = "$scope module top $end\n$var wire 1 ! a $end\n$var wire 8 \" b $end\n$upscope $end\n"
                       "$enddefinitions $end\n";
    for (int t = 0; t < 20000; ++t) {
        text += "#" + std::to_string(t) + "\n" + std::to_string(t & 1) + "!\nb" + std::to_string(t % 2 ? 101 : 11) + " \"\n";
    }
    return text;
}

// Loads stop at the n-th question, asked on the loading thread while the workers read on, and the
// same text loads in full afterwards. Each n is one the path is sure to reach: a text in memory is
// read as one block, asked once before it; read in order it is asked at every step (1 KiB); a
// file of about 400 KB is read in blocks of 16 KiB, asked before each.
TEST(LoadInterrupt, VcdStopsPartWayAndLoadsAfterwards) {
    using quor_core::trace::VcdTrace;
    const std::string text = long_vcd();
    quor_core::trace::VcdPieces small;
    small.min_bytes = 1 << 12;
    small.step_bytes = 1 << 10;
    small.block_bytes = 1 << 14;
    char path[] = "/tmp/quor_interrupt_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    for (const int n : {1}) {
        StopAfter stop(n);
        EXPECT_THROW((void)VcdTrace::parse(text, small, stop.get()), Interrupted) << n;
    }
    for (const int n : {1, 2, 20, 100}) {
        StopAfter stop(n);
        EXPECT_THROW((void)VcdTrace::parse_in_order(text, small, stop.get()), Interrupted) << n;
    }
    for (const int n : {1, 2, 10, 18}) {
        StopAfter stop(n);
        EXPECT_THROW((void)VcdTrace::from_file(path, small, stop.get()), Interrupted) << n;
    }
    StopAfter never(0);
    const auto loaded = VcdTrace::from_file(path, small, never.get());
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.value().max_index(), 19999u);
    EXPECT_GE(never.asked(), 18);
    EXPECT_EQ(VcdTrace::parse(text, small, never.get()).value().max_index(), 19999u);
    unlink(path);
}

TEST(LoadInterrupt, FstStopsPartWay) {
    const std::string path = std::string(QUOR_SOURCE_DIR) + "/tests/fixtures/icarus/soc.fst";
    quor_core::trace::ChangeLoadPlan plan;
    plan.groups = 8;
    {
        StopAfter stop(1);
        EXPECT_THROW((void)quor_core::trace::FstTrace::from_file(path, plan, stop.get()), Interrupted);
    }
    StopAfter never(0);
    EXPECT_TRUE(quor_core::trace::FstTrace::from_file(path, plan, never.get()).ok());
}

// A FIFO that no writer opened yet, or whose writer says nothing: the read waits until the
// interrupt says stop. Bytes written are read; the writer closing ends the input.
TEST(PolledRead, FifoWaitsOnlyAsLongAsTheInterruptAllows) {
    char dir[] = "/tmp/quor_fifo_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/f";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    {
        StopAfter stop(3);
        EXPECT_THROW((void)quor_core::trace::read_file_bytes(fifo, stop.get()), Interrupted);
    }
    const int reader = quor_core::util::open_for_reading(fifo);
    ASSERT_GE(reader, 0);
    const int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "abc", 3), 3);
    char buf[8];
    StopAfter stop(3);
    EXPECT_EQ(quor_core::util::read_when_ready(reader, buf, sizeof buf, stop.get()), 3);
    EXPECT_THROW((void)quor_core::util::read_when_ready(reader, buf, sizeof buf, stop.get()), Interrupted);
    close(writer);
    EXPECT_EQ(quor_core::util::read_when_ready(reader, buf, sizeof buf, Interrupt::never()), 0);
    close(reader);
    unlink(fifo.c_str());
    rmdir(dir);
}

}  // namespace
