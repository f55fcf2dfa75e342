// The worker pool: its size rules, and jobs whose pieces all run, in any order, with the
// results kept in input order by the caller. Also run under ThreadSanitizer.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <new>
#include <thread>
#include <vector>

#include "parallel/pool.hpp"

namespace {

using namespace quor_core::eval;

TEST(PoolSize, EnvironmentRules) {
    struct Case {
        const char* num_threads;
        const char* rs_num_cpus;
        size_t available;
        size_t expected;
    };
    const Case cases[] = {
        {"3", nullptr, 8, 3},
        {"0", "5", 8, 8},          // 0 selects the default without reading the second variable
        {"abc", "5", 8, 5},        // not a number: the second variable decides
        {nullptr, "5", 8, 5},
        {nullptr, "0", 8, 8},
        {nullptr, "x", 8, 8},
        {"-2", nullptr, 4, 4},
        {" 3", nullptr, 4, 4},
        {"+3", nullptr, 4, 3},
        {"99999999999999999999", "2", 4, 2},  // overflow is not a number
        {"1000000", nullptr, 4, 256},          // capped
        {nullptr, nullptr, 0, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pool_size_from(c.num_threads, c.rs_num_cpus, c.available), c.expected)
            << (c.num_threads ? c.num_threads : "unset") << " / " << (c.rs_num_cpus ? c.rs_num_cpus : "unset");
    }
}

TEST(PoolSize, CgroupCpuMax) {
    EXPECT_EQ(cpus_from_cpu_max("max 100000\n"), std::nullopt);
    EXPECT_EQ(cpus_from_cpu_max("200000 100000\n"), 2u);
    EXPECT_EQ(cpus_from_cpu_max("150000 100000"), 2u);
    EXPECT_EQ(cpus_from_cpu_max("50000 100000"), 1u);
    EXPECT_EQ(cpus_from_cpu_max("garbage"), std::nullopt);
    EXPECT_EQ(cpus_from_cpu_max("100 0"), std::nullopt);
    const auto n = available_processors();
    ASSERT_TRUE(n.has_value());
    EXPECT_GE(*n, 1u);
}

TEST(Pool, EveryPieceRunsOnceOnWorkers) {
    WorkerPool pool(3);
    for (size_t pieces : {1u, 2u, 7u, 100u}) {
        std::vector<std::atomic<int>> runs(pieces);
        const auto caller = std::this_thread::get_id();
        std::atomic<bool> on_caller{false};
        pool.run(pieces, [&](size_t k) {
            runs[k].fetch_add(1);
            if (std::this_thread::get_id() == caller) on_caller = true;
        });
        for (size_t k = 0; k < pieces; ++k) EXPECT_EQ(runs[k].load(), 1) << k;
        EXPECT_FALSE(on_caller.load());
    }
}

// Sharing a job with the caller: every piece still runs exactly once.
TEST(PoolSharing, EveryPieceRunsOnce) {
    for (const size_t workers : {0u, 1u, 3u}) {
        WorkerPool pool(workers);
        for (const size_t pieces : {0u, 1u, 2u, 7u, 100u}) {
            std::vector<std::atomic<int>> runs(pieces);
            pool.run_sharing(pieces, [&](size_t k) { runs[k].fetch_add(1); });
            for (size_t k = 0; k < pieces; ++k) EXPECT_EQ(runs[k].load(), 1) << workers << " workers, piece " << k;
        }
    }
}

// A caller sharing its job takes a worker's place: no more pieces run at once than there are
// workers, so a job never has more threads than the processors it was sized for.
TEST(PoolSharing, NoMorePiecesAtOnceThanWorkers) {
    for (const size_t workers : {1u, 2u, 3u}) {
        WorkerPool pool(workers);
        std::atomic<size_t> now{0}, most{0};
        pool.run_sharing(60, [&](size_t) {
            const size_t at = now.fetch_add(1) + 1;
            size_t seen = most.load();
            while (at > seen && !most.compare_exchange_weak(seen, at)) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            now.fetch_sub(1);
        });
        EXPECT_LE(most.load(), workers);
        EXPECT_GE(most.load(), 1u);
    }
}

// Serial work done by the caller before it shares the job counts as a running piece: with it, no
// more threads work at once than there are workers; every piece and the work run exactly once.
TEST(PoolSharing, WorkFirstTakesAWorkersPlace) {
    for (const size_t workers : {0u, 1u, 2u, 3u}) {
        for (const size_t pieces : {0u, 1u, 7u, 60u}) {
            WorkerPool pool(workers);
            std::vector<std::atomic<int>> runs(pieces);
            std::atomic<size_t> now{0}, most{0};
            int first_runs = 0;
            const auto busy = [&] {
                const size_t at = now.fetch_add(1) + 1;
                size_t seen = most.load();
                while (at > seen && !most.compare_exchange_weak(seen, at)) {
                }
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                now.fetch_sub(1);
            };
            pool.run_sharing_after(
                pieces,
                [&](size_t k) {
                    runs[k].fetch_add(1);
                    busy();
                },
                [&] {
                    ++first_runs;
                    busy();
                });
            EXPECT_EQ(first_runs, 1);
            for (size_t k = 0; k < pieces; ++k) EXPECT_EQ(runs[k].load(), 1) << workers << " workers, piece " << k;
            EXPECT_LE(most.load(), std::max<size_t>(workers, 1)) << workers << " workers, " << pieces << " pieces";
        }
    }
}

// A failure of the caller's work comes out once the pieces have finished (they may use what the
// caller owns).
TEST(PoolSharing, WorkFirstFailureWaitsForThePieces) {
    WorkerPool pool(2);
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.run_sharing_after(
                     8,
                     [&](size_t) {
                         std::this_thread::sleep_for(std::chrono::milliseconds(2));
                         finished.fetch_add(1);
                     },
                     [] { throw std::runtime_error("work failed"); }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 8);
}

TEST(Pool, WithoutThreadsTheCallerRunsThePieces) {
    WorkerPool pool(0);  // as when no thread could be started
    std::vector<int> runs(5);
    pool.run(runs.size(), [&](size_t k) { ++runs[k]; });
    EXPECT_EQ(runs, std::vector<int>(5, 1));
}

TEST(Pool, ConcurrentCallersShareThePool) {
    WorkerPool& pool = WorkerPool::instance();
    std::vector<std::thread> callers;
    std::vector<uint64_t> sums(4);
    for (size_t c = 0; c < sums.size(); ++c) {
        callers.emplace_back([&pool, &sums, c] {
            for (int round = 0; round < 20; ++round) {
                std::vector<uint64_t> part(16);
                pool.run(part.size(), [&](size_t k) { part[k] = k * (c + 1); });
                for (uint64_t v : part) sums[c] += v;
            }
        });
    }
    for (auto& t : callers) t.join();
    for (size_t c = 0; c < sums.size(); ++c) EXPECT_EQ(sums[c], 20u * 120u * (c + 1));
}

// Also when the caller shares the job (its own pieces may fail too), and with no threads at all.
TEST(Pool, AFailedPieceIsRethrownToTheCallerAfterTheOthersFinish) {
    for (const size_t workers : {0u, 1u, 2u, 3u}) {
        for (const bool sharing : {false, true}) {
            WorkerPool pool(workers);
            const auto run = [&](size_t pieces, const std::function<void(size_t)>& piece) {
                sharing ? pool.run_sharing(pieces, piece) : pool.run(pieces, piece);
            };
            std::atomic<int> ran{0};
            EXPECT_THROW(run(16,
                             [&](size_t k) {
                                 ran.fetch_add(1);
                                 if (k % 5 == 3) throw std::bad_alloc();
                             }),
                         std::bad_alloc);
            EXPECT_EQ(ran.load(), 16);
            // The pool still works, and a later job does not see the earlier failure.
            std::atomic<int> again{0};
            run(8, [&](size_t) { again.fetch_add(1); });
            EXPECT_EQ(again.load(), 8);
        }
    }
}

TEST(PoolAlongside, RunsOnTheCallerWhileWorkersRunPieces) {
    for (size_t workers : {1u, 3u}) {
        WorkerPool pool(workers);
        std::mutex m;
        std::condition_variable cv;
        bool piece_ran = false;
        std::atomic<int> ran{0};
        bool alongside_on_caller = false;
        const auto caller = std::this_thread::get_id();
        // alongside waits for a piece to run: it can only return if the pieces run meanwhile.
        pool.run_alongside(
            8,
            [&](size_t) {
                ran.fetch_add(1);
                std::lock_guard lock(m);
                piece_ran = true;
                cv.notify_all();
            },
            [&] {
                alongside_on_caller = std::this_thread::get_id() == caller;
                std::unique_lock lock(m);
                cv.wait(lock, [&] { return piece_ran; });
            });
        EXPECT_TRUE(alongside_on_caller);
        EXPECT_EQ(ran.load(), 8);
    }
}

TEST(PoolAlongside, ReturnsOnlyOnceEveryPieceHasFinished) {
    struct Case {
        const char* name;
        bool alongside_throws;
        bool piece_throws;
    };
    const Case cases[] = {{"clean", false, false}, {"alongside throws", true, false},
                          {"a piece throws", false, true}, {"both throw", true, true}};
    for (const Case& c : cases) {
        for (size_t workers : {0u, 2u}) {
            WorkerPool pool(workers);
            std::atomic<int> ran{0};
            int thrown = 0;  // 1: the caller's exception arrived, 2: the piece's
            try {
                pool.run_alongside(
                    32,
                    [&](size_t k) {
                        ran.fetch_add(1);
                        if (c.piece_throws && k == 5) throw std::bad_alloc();
                    },
                    [&] {
                        if (c.alongside_throws) throw std::length_error("alongside");
                    });
            } catch (const std::length_error&) {
                thrown = 1;
            } catch (const std::bad_alloc&) {
                thrown = 2;
            }
            EXPECT_EQ(ran.load(), 32) << c.name << ", " << workers << " workers";
            EXPECT_EQ(thrown, c.alongside_throws ? 1 : c.piece_throws ? 2 : 0) << c.name << ", " << workers;
        }
    }
}

}  // namespace
