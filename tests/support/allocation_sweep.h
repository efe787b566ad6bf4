// Allocation failure injection: runs an operation once with each of its heap
// allocations failing in turn.
#pragma once

#include <dirent.h>

#include <vector>

#include "diag/memory.h"

// Calls `run` (which returns the operation's result code) with the first,
// second, ... allocation from the start of the call failing (and, when
// sticky, every one after it), until a call no longer reaches the failing
// allocation. Returns the result of each failed call, index 0 for the first
// allocation; *allocations gets how many allocations the complete call made
// and *succeeded its result.
template <typename Run>
std::vector<int> SweepAllocations(Run run, long* allocations, int* succeeded, bool sticky = false) {
    std::vector<int> results;
    for (long n = 1;; ++n) {
        const long before = MemAllocCalls();
        MemFailAt(n, sticky);
        const int result = run();
        MemFailAt(0);
        if (MemAllocCalls() - before < n) {
            *allocations = n - 1;
            *succeeded = result;
            return results;
        }
        results.push_back(result);
    }
}

// Open file descriptors of this process.
inline int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}
