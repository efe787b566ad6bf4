#include "diag/memory.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<long> allocCalls{0};
std::atomic<long> failAtCall{0};  // absolute call number that fails; 0 = never
std::atomic<bool> failSticky{false};
}  // namespace

void* MemAlloc(std::size_t size) {
    const long call = ++allocCalls;
    const long failAt = failAtCall.load();
    if (failAt > 0 && (call == failAt || (failSticky.load() && call > failAt))) {
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void MemFree(void* block) {
    std::free(block);
}

void* MemShrink(void* block, std::size_t size) {
    void* smaller = std::realloc(block, size == 0 ? 1 : size);
    return smaller != nullptr ? smaller : block;
}

void MemFailAt(long n, bool sticky) {
    failSticky = sticky;
    failAtCall = n > 0 ? allocCalls.load() + n : 0;
}

long MemAllocCalls() {
    return allocCalls.load();
}
