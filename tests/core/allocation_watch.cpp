#include "allocation_watch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace pictrove::test {
namespace {

std::atomic<std::size_t> largest{0};

void* allocate(std::size_t size) {
    std::size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

}  // namespace

std::size_t largestAllocation() {
    return largest.load();
}
void resetLargestAllocation() {
    largest.store(0);
}

}  // namespace pictrove::test

// Replaces the global allocation functions of the test program, the
// non-throwing ones too, so that every plain delete meets memory from here.
// The aligned forms are left to the library, which pairs them with its own.
void* operator new(std::size_t size) {
    return pictrove::test::allocate(size);
}
void* operator new[](std::size_t size) {
    return pictrove::test::allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return pictrove::test::allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
