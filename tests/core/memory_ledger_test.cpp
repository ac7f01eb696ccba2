// The ledger of what the jobs of a run hold together: a job waits while the
// budget is spent, and the job whose result is due next never waits, so a
// run in input order always moves on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "cli/memory_ledger.h"
#include "engine/ordered_stream.h"

namespace pictrove::cli {
namespace {

void untilWaiting(const MemoryLedger& ledger, std::size_t count) {
    while (ledger.waiting() != count) std::this_thread::yield();
}

TEST(MemoryLedger, AJobWaitsWhileTheBudgetIsSpentAndTheEarliestGoesOnPastIt) {
    MemoryLedger ledger(100);
    std::optional<MemoryLedger::Turn> first(ledger.take());
    std::optional<MemoryLedger::Turn> second(ledger.take());
    std::optional<MemoryLedger::Turn> third(ledger.take());
    second->hold(80);
    std::atomic<std::uint64_t> heldWhenAdmitted{0};
    std::thread waiter([&] {
        third->hold(50);
        heldWhenAdmitted = ledger.held();
    });
    untilWaiting(ledger, 1);
    EXPECT_EQ(ledger.held(), 80u);  // a job that waits holds nothing
    first->hold(500);               // the earliest, past the budget
    EXPECT_EQ(ledger.held(), 580u);
    second.reset();  // the third still does not fit beside the first
    first.reset();   // and now it is the earliest
    waiter.join();
    EXPECT_EQ(heldWhenAdmitted, 50u);
    EXPECT_EQ(ledger.held(), 50u);
    third.reset();
    EXPECT_EQ(ledger.held(), 0u);

    // Room let go lets a waiting job in before its turn is the earliest.
    std::optional<MemoryLedger::Turn> open(ledger.take());
    std::optional<MemoryLedger::Turn> holding(ledger.take());
    std::optional<MemoryLedger::Turn> later(ledger.take());
    holding->hold(80);
    std::thread fits([&] { later->hold(50); });
    untilWaiting(ledger, 1);
    holding.reset();
    fits.join();
    EXPECT_EQ(ledger.held(), 50u);
}

// Jobs in input order on many threads, most of them wanting more than is
// left: every one is run, and what they hold together never passes the
// budget by more than one job's share.
TEST(MemoryLedger, JobsInOrderNeverStallAndStayWithinTheBudget) {
    constexpr std::uint64_t kBudget = 100;
    constexpr std::size_t kJobs = 300;
    MemoryLedger ledger(kBudget);
    struct Job {
        std::size_t index;
        MemoryLedger::Turn turn;
    };
    std::size_t taken = 0;
    std::size_t delivered = 0;
    std::atomic<std::uint64_t> most{0};
    runStreamInOrder<Job, std::size_t>(
        [&]() -> std::optional<Job> {
            if (taken == kJobs) return std::nullopt;
            return Job{taken++, ledger.take()};
        },
        [&](Job& job) {
            job.turn.hold(job.index % 7 * 30);
            const std::uint64_t now = ledger.held();
            std::uint64_t seen = most;
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            return job.index;
        },
        [&](std::size_t& index) { EXPECT_EQ(index, delivered++); }, 8);
    EXPECT_EQ(delivered, kJobs);
    EXPECT_LE(most, kBudget + 6 * 30);
    EXPECT_EQ(ledger.held(), 0u);
}

}  // namespace
}  // namespace pictrove::cli
