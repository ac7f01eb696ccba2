// Work on a stream of items of unknown length, spread over threads, with the
// results handed to deliver() on the calling thread in input order as soon as
// their turn comes. Workers never run more than a small window ahead of the
// oldest undelivered item, so memory stays flat however long the stream is.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace pictrove {

// `next` is called on one thread at a time and returns nothing at the end of
// the stream; `job` runs on any of `threads` threads.
template <class Item, class Result>
void runStreamInOrder(const std::function<std::optional<Item>()>& next,
                      const std::function<Result(Item&)>& job, const std::function<void(Result&)>& deliver,
                      std::size_t threads) {
    if (threads <= 1) {
        while (auto item = next()) {
            Result result = job(*item);
            deliver(result);
        }
        return;
    }
    // Wide enough that one large file does not hold up the others for long,
    // small enough that only a few records wait in memory.
    const std::size_t window = threads * 16;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::size_t, Result> done;  // finished, waiting for their turn
    std::size_t taken = 0;               // items handed to workers so far
    std::size_t delivered = 0;           // items handed to deliver() so far
    bool ended = false;                  // `next` said the stream is over
    // `next` may wait for its input (a program sending names one at a time
    // and waiting for each record), so it is called holding only a lock of
    // its own: the calling thread goes on delivering meanwhile.
    std::mutex input;
    const auto work = [&] {
        for (;;) {
            std::unique_lock reading(input);
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return ended || taken - delivered < window; });
            if (ended) return;
            lock.unlock();
            std::optional<Item> item = next();
            lock.lock();
            if (!item) {
                ended = true;
                changed.notify_all();
                return;
            }
            const std::size_t sequence = taken++;
            lock.unlock();
            reading.unlock();
            Result result = job(*item);
            lock.lock();
            done.emplace(sequence, std::move(result));
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
    for (;;) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return done.count(delivered) != 0 || (ended && delivered == taken); });
        const auto found = done.find(delivered);
        if (found == done.end()) break;  // the stream ended and everything went out
        Result result = std::move(found->second);
        done.erase(found);
        lock.unlock();
        deliver(result);
        lock.lock();
        ++delivered;
        changed.notify_all();
    }
    for (std::thread& thread : pool) thread.join();
}

}  // namespace pictrove
