// What one file's stored images gave when decoded, so that an image many
// groups name is decoded once, and the budget of pixels one file may have
// decoded. A few kilobytes of executable can name one large image, or one
// that fails only after all its pixels were inflated, tens of thousands of
// times over.
#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>

#include "image/image.h"

namespace pictrove {

// A stored image by where its bytes lie in the file, and the side it is
// wanted at: 0 for its own size.
struct ImageKey {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint32_t side = 0;
    friend auto operator<=>(const ImageKey&, const ImageKey&) = default;
};

// What was made of each key, made the first time the key is asked for; a
// failure is remembered as well. Safe from several threads at once.
template <class T, class Key = ImageKey>
class MadeOnce {
public:
    using Make = std::function<std::optional<T>()>;

    // At most `keptBytes` of results are kept, however many keys ask.
    explicit MadeOnce(std::uint64_t keptBytes = UINT64_MAX) : room_(keptBytes) {}

    // What `make` gives for `key`, or nothing when it failed. With `keep`
    // (the bytes the result will hold; 0 not to keep it) the result is kept
    // for every later caller while there is room (for what several callers
    // ask for), and callers on other threads asking for a key being made
    // wait for it rather than make it twice; else it is handed over and
    // made again should it be asked for again.
    std::shared_ptr<const T> get(const Key& key, std::uint64_t keep, const Make& make) {
        const auto made = [&]() -> std::shared_ptr<const T> {
            auto value = make();
            return value ? std::make_shared<const T>(std::move(*value)) : nullptr;
        };
        if (keep) {
            std::shared_ptr<Kept> entry;
            {
                const std::lock_guard lock(mutex_);
                if (const auto found = kept_.find(key); found != kept_.end()) {
                    entry = found->second;
                } else if (keep <= room_) {
                    room_ -= keep;
                    entry = kept_.emplace(key, std::make_shared<Kept>()).first->second;
                }
            }
            if (entry) {
                std::call_once(entry->made, [&] { entry->value = made(); });
                return entry->value;
            }
        }
        {
            const std::lock_guard lock(mutex_);
            if (failed_.contains(key)) return nullptr;
        }
        auto value = made();
        if (!value) {
            const std::lock_guard lock(mutex_);
            failed_.insert(key);
        }
        return value;
    }

private:
    struct Kept {
        std::once_flag made;
        std::shared_ptr<const T> value;
    };
    std::mutex mutex_;  // guards the members below
    std::uint64_t room_;
    std::map<Key, std::shared_ptr<Kept>> kept_;
    std::set<Key> failed_;  // of the values not kept
};

// The pixels one file may still have decoded.
class PixelBudget {
public:
    explicit PixelBudget(std::uint64_t pixels) : limit_(pixels) {}
    // Takes `pixels`: false, for good, once they would pass the budget.
    bool take(std::uint64_t pixels);
    bool passed() const { return passed_.load(std::memory_order_relaxed); }

private:
    std::uint64_t limit_;
    std::atomic<std::uint64_t> used_{0};
    std::atomic<bool> passed_{false};
};

// One request's budget of pixels (a call of the Python package, which may
// keep a file open for hours and ask of it again and again): while one is
// open on a thread, what that thread decodes is taken from it rather than
// from the file's budget, and passing it throws DecodeBudgetPassed instead
// of leaving the image out, so the caller learns why there is no picture.
// A failure of that kind is not remembered: the next request has a budget
// of its own.
class DecodeRequest {
public:
    explicit DecodeRequest(std::uint64_t pixels);
    ~DecodeRequest();
    DecodeRequest(const DecodeRequest&) = delete;
    DecodeRequest& operator=(const DecodeRequest&) = delete;
    // The request open on this thread, if any.
    static PixelBudget* current();

private:
    PixelBudget budget_;
    PixelBudget* outer_;
};

class DecodeBudgetPassed : public std::runtime_error {
public:
    DecodeBudgetPassed()
        : std::runtime_error(
              "the picture was not made: it would decode more pixels than one request may (16 million, "
              "or 16 for each byte of its file)") {}
};

}  // namespace pictrove
