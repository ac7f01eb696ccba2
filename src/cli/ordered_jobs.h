// Work spread over the cores with output in a stable order: job(i) runs on
// any of a few threads, and its result is handed to deliver(i, result) on the
// calling thread, in index order, as soon as it and every job before it are
// done. So output streams out while the work goes on, and never depends on
// which thread ran what. A job that throws stops the jobs not yet started,
// and the exception reaches the calling thread once every thread is done.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
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
    std::vector<std::exception_ptr> failed(count);
    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                Result result = job(i);
                const std::lock_guard lock(mutex);
                done[i] = std::move(result);
            } catch (...) {
                next = count;
                const std::lock_guard lock(mutex);
                failed[i] = std::current_exception();
            }
            ready.notify_one();
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < workerCount(count); ++t) pool.emplace_back(work);
    std::exception_ptr thrown;
    for (std::size_t i = 0; i < count && !thrown; ++i) {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return done[i].has_value() || failed[i]; });
        if (failed[i]) {
            thrown = failed[i];
            break;
        }
        Result result = std::move(*done[i]);
        done[i].reset();
        lock.unlock();
        try {
            deliver(i, result);
        } catch (...) {
            next = count;
            thrown = std::current_exception();
        }
    }
    next = count;
    for (std::thread& thread : pool) thread.join();
    if (thrown) std::rethrow_exception(thrown);
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
    std::mutex mutex;
    std::exception_ptr thrown;  // the first, under the mutex
    const auto stop = [&] {
        next = count;
        const std::lock_guard lock(mutex);
        if (!thrown) thrown = std::current_exception();
    };
    const auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                results[i] = job(i);
            } catch (...) {
                stop();
            }
        }
    };
    std::vector<std::thread> helpers;
    if (parallel) {
        for (std::size_t t = 1; t < workerCount(count); ++t) helpers.emplace_back(work);
    }
    try {
        if (first) first();
    } catch (...) {
        stop();
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    if (thrown) std::rethrow_exception(thrown);
    return results;
}

}  // namespace pictrove::cli
