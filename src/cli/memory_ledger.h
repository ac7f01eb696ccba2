// The memory the jobs of one run may hold together. Each job takes a turn in
// input order and, before it reads what a file needs, holds its estimate of
// those bytes; when they would pass the budget it waits until others let go.
// The earliest turn still open never waits, so the job whose result is due
// next always goes on, even past the budget, and a run can never stall: it
// holds at most the budget plus what that one job needs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <utility>

namespace pictrove::cli {

class MemoryLedger {
public:
    explicit MemoryLedger(std::uint64_t budget) : budget_(budget) {}
    MemoryLedger(const MemoryLedger&) = delete;
    MemoryLedger& operator=(const MemoryLedger&) = delete;

    class Turn;
    // The next turn in input order; turns are to be taken in that order.
    Turn take();

    std::uint64_t held() const {
        const std::lock_guard lock(mutex_);
        return held_;
    }
    // How many turns wait for room (for tests).
    std::size_t waiting() const {
        const std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    void hold(std::size_t turn, std::uint64_t bytes) {
        std::unique_lock lock(mutex_);
        const auto admitted = [&] {
            return (held_ <= budget_ && bytes <= budget_ - held_) || turn == *open_.begin();
        };
        if (!admitted()) {
            ++waiting_;
            changed_.wait(lock, admitted);
            --waiting_;
        }
        held_ += bytes;
    }
    void end(std::size_t turn, std::uint64_t bytes) {
        {
            const std::lock_guard lock(mutex_);
            held_ -= bytes;
            open_.erase(turn);
            if (waiting_ == 0) return;
        }
        changed_.notify_all();
    }

    const std::uint64_t budget_;
    mutable std::mutex mutex_;  // guards the members below
    std::condition_variable changed_;
    std::uint64_t held_ = 0;
    std::size_t waiting_ = 0;
    std::size_t taken_ = 0;
    std::set<std::size_t> open_;  // the turns taken and not ended, earliest first
};

// A job's place in input order and the bytes it holds, all let go when the
// turn ends (on destruction).
class MemoryLedger::Turn {
public:
    Turn(Turn&& other) noexcept
        : ledger_(std::exchange(other.ledger_, nullptr)), number_(other.number_), held_(other.held_) {}
    Turn& operator=(Turn&&) = delete;
    ~Turn() {
        if (ledger_) ledger_->end(number_, held_);
    }

    // Holds `bytes` more until the turn ends, first waiting, unless this is
    // the earliest open turn, until they fit in the budget.
    void hold(std::uint64_t bytes) {
        ledger_->hold(number_, bytes);
        held_ += bytes;
    }

private:
    friend class MemoryLedger;
    Turn(MemoryLedger& ledger, std::size_t number) : ledger_(&ledger), number_(number) {}
    MemoryLedger* ledger_;
    std::size_t number_;
    std::uint64_t held_ = 0;
};

inline MemoryLedger::Turn MemoryLedger::take() {
    const std::lock_guard lock(mutex_);
    open_.insert(taken_);
    return Turn(*this, taken_++);
}

}  // namespace pictrove::cli
