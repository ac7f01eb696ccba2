// Work spread over the cores with output in a stable order: job(i) runs on
// any of a few threads, and its result is handed to deliver(i, result) on the
// calling thread, in index order, as soon as it and every job before it are
// done. So output streams out while the work goes on, and never depends on
// which thread ran what.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace pictrove::cli {

// At most 8: beyond that the disk, not the cores, sets the pace.
inline std::size_t workerCount(std::size_t jobs) {
    return std::min<std::size_t>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u), jobs);
}

// `parallel` false runs every job on the calling thread, for work already
// spread at an outer level.
template <class Result>
void runInOrder(std::size_t count, const std::function<Result(std::size_t)>& job,
                const std::function<void(std::size_t, Result&)>& deliver, bool parallel = true) {
    if (!parallel || workerCount(count) <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            Result result = job(i);
            deliver(i, result);
        }
        return;
    }
    std::vector<std::optional<Result>> done(count);
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            Result result = job(i);
            const std::lock_guard lock(mutex);
            done[i] = std::move(result);
            ready.notify_one();
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < workerCount(count); ++t) pool.emplace_back(work);
    for (std::size_t i = 0; i < count; ++i) {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return done[i].has_value(); });
        Result result = std::move(*done[i]);
        done[i].reset();
        lock.unlock();
        deliver(i, result);
    }
    for (std::thread& thread : pool) thread.join();
}

// Runs job(i) for every i on a few threads, the calling one among them, and
// returns the results in index order once all are done. For work whose
// results are wanted together it spares handing each one over: the threads
// never wait for one another, only for the next index. `first` runs on the
// calling thread before it takes any job, while the other threads, if any,
// start on them.
template <class Result>
std::vector<Result> runAll(std::size_t count, const std::function<Result(std::size_t)>& job,
                           bool parallel = true, const std::function<void()>& first = {}) {
    std::vector<Result> results(count);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) results[i] = job(i);
    };
    std::vector<std::thread> helpers;
    if (parallel) {
        for (std::size_t t = 1; t < workerCount(count); ++t) helpers.emplace_back(work);
    }
    if (first) first();
    work();
    for (std::thread& helper : helpers) helper.join();
    return results;
}

}  // namespace pictrove::cli
