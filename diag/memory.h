// The core's one heap allocator. Every allocation of the core goes through
// MemAlloc/MemFree so that tests can make the N-th allocation fail and walk
// every failure path.
#pragma once

#include <cstddef>

// Returns a block of at least `size` bytes (a zero size is taken as 1), or
// nullptr when memory cannot be had or an injected failure is due.
void* MemAlloc(std::size_t size);

// Releases a block from MemAlloc; nullptr is accepted and ignored.
void MemFree(void* block);

// Gives back the end of a block from MemAlloc, keeping its first `size`
// bytes. Returns the block, which may have moved, or the block as it was if
// it cannot be shrunk. Not an allocation: injected failures do not apply.
void* MemShrink(void* block, std::size_t size);

// Test hook: the `n`-th MemAlloc call from now on (1 = the next one) fails,
// and so does every later one while `sticky` is set. n <= 0 turns injection off.
void MemFailAt(long n, bool sticky = false);

// Number of MemAlloc calls since the process started (successful or not).
long MemAllocCalls();
