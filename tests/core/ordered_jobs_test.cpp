// The ordered job runner and the run's name book under load: many jobs of
// uneven length on every worker, checked for order, for completeness and (in
// the tsan build) for unguarded sharing between the threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "cli/ordered_jobs.h"
#include "cli/output_names.h"
#include "engine/ordered_stream.h"

namespace pictrove::cli {
namespace {

constexpr int kRounds = 20;
constexpr std::size_t kJobs = 300;

// Uneven work, so that later jobs often finish first.
std::size_t spin(std::size_t i) {
    std::size_t sum = 0;
    for (std::size_t k = 0; k < (i * 7919) % 500; ++k) sum += k ^ i;
    if (i % 5 == 0) std::this_thread::yield();
    return sum;
}

TEST(OrderedJobs, DeliversEveryResultOnceInOrderWithWhatItsJobMade) {
    std::vector<std::size_t> order(kJobs);
    std::iota(order.begin(), order.end(), std::size_t{0});
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::size_t> delivered;
        runInOrder<std::vector<std::size_t>>(
            kJobs,
            [](std::size_t i) {
                spin(i);
                return std::vector<std::size_t>(i % 7 + 1, i);
            },
            [&](std::size_t i, std::vector<std::size_t>& result) {
                ASSERT_EQ(result, std::vector<std::size_t>(i % 7 + 1, i));
                delivered.push_back(i);
            });
        ASSERT_EQ(delivered, order) << "round " << round;
        // The same jobs with the results handed over together at the end,
        // the calling thread doing something else first.
        std::atomic<bool> firstRan{false};
        const auto all = runAll<std::vector<std::size_t>>(
            kJobs,
            [](std::size_t i) {
                spin(i);
                return std::vector<std::size_t>(i % 7 + 1, i);
            },
            true, [&] { firstRan = true; });
        ASSERT_TRUE(firstRan);
        ASSERT_EQ(all.size(), kJobs);
        for (std::size_t i = 0; i < kJobs; ++i)
            ASSERT_EQ(all[i], std::vector<std::size_t>(i % 7 + 1, i)) << i;
    }
}

// A stream of unknown length: every item once, in input order, with no
// more than a few items in hand at a time, whatever the number of threads.
TEST(OrderedJobs, StreamsDeliverInInputOrder) {
    for (std::size_t threads : {1, 2, 3, 8}) {
        for (int round = 0; round < kRounds / 4; ++round) {
            std::size_t next = 0;
            std::atomic<std::size_t> done{0};
            std::vector<std::size_t> delivered;
            runStreamInOrder<std::size_t, std::size_t>(
                [&]() -> std::optional<std::size_t> {
                    if (next == kJobs) return std::nullopt;
                    EXPECT_LT(next - done.load(), threads * 16) << "ran too far ahead";
                    return next++;
                },
                [](std::size_t& i) {
                    spin(i);
                    return i * 3;
                },
                [&](std::size_t& result) {
                    delivered.push_back(result / 3);
                    ++done;
                },
                threads);
            std::vector<std::size_t> order(kJobs);
            std::iota(order.begin(), order.end(), std::size_t{0});
            ASSERT_EQ(delivered, order) << threads << " threads, round " << round;
        }
    }
}

// A program that sends a name and waits for its record before it sends the
// next: item 1 arrives only once result 0 was delivered. The wait is bounded
// only so that a deadlock fails the test instead of hanging it.
TEST(OrderedJobs, StreamsDeliverWhileTheInputWaits) {
    for (std::size_t threads : {2, 8}) {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t delivered = 0;
        std::size_t next = 0;
        bool starved = false;
        runStreamInOrder<std::size_t, std::size_t>(
            [&]() -> std::optional<std::size_t> {
                std::unique_lock lock(mutex);
                if (next == 4) return std::nullopt;
                if (!changed.wait_for(lock, std::chrono::seconds(30), [&] { return delivered == next; })) {
                    starved = true;
                    return std::nullopt;
                }
                return next++;
            },
            [](std::size_t& i) { return i; },
            [&](std::size_t& result) {
                const std::lock_guard lock(mutex);
                EXPECT_EQ(result, delivered);
                ++delivered;
                changed.notify_all();
            },
            threads);
        EXPECT_FALSE(starved) << threads << " threads: a result was held back until the next item came";
        EXPECT_EQ(delivered, 4u);
    }
}

// Inputs sharing stems take their names while others are still at work; the
// markers follow input order, never thread timing.
TEST(OrderedJobs, NamesAreSettledInInputOrder) {
    for (int round = 0; round < kRounds; ++round) {
        NameBook book(kJobs);
        std::vector<std::string> markers;
        runInOrder<std::string>(
            kJobs,
            [&](std::size_t i) -> std::string {
                spin(i);
                if (i % 4 == 3) {  // an input that writes nothing
                    book.pass(i);
                    return "-";
                }
                const std::string stem = "s" + std::to_string(i % 3);
                const auto marker = book.take(i, stem, [&](const std::string& tried) {
                    return std::vector<std::string>{stem + tried + "_0.png", stem + tried + "_1.png"};
                });
                return marker.value_or("none");
            },
            [&](std::size_t, std::string& marker) { markers.push_back(marker); });
        std::vector<int> uses(3, 0);
        for (std::size_t i = 0; i < kJobs; ++i) {
            if (i % 4 == 3) continue;
            const int use = ++uses[i % 3];
            ASSERT_EQ(markers[i], use == 1 ? "" : "~" + std::to_string(use))
                << "input " << i << ", round " << round;
        }
    }
}

// A folder that folds letter case (FAT, exFAT, ext4 with case folding, any
// on Windows) takes X.ico_0.png and x.ico_0.png for one name.
TEST(OrderedJobs, NamesMeetAsTheFolderComparesThem) {
    for (const bool folds : {false, true}) {
        NameBook book(3, folds);
        const auto take = [&](std::size_t input, const std::string& stem) {
            return book.take(input, stem, [&](const std::string& tried) {
                return std::vector<std::string>{stem + tried + "_0.png"};
            });
        };
        EXPECT_EQ(take(0, "X.ico"), "");
        EXPECT_EQ(take(1, "x.ico"), folds ? "~2" : "") << folds;
        EXPECT_EQ(take(2, "y.ico"), "");
    }
}

}  // namespace
}  // namespace pictrove::cli
