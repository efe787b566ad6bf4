#include "diag/memory.h"

#include <gtest/gtest.h>

TEST(MemoryTest, InjectedFailureHitsOnlyTheChosenCall) {
    MemFailAt(2);
    void* first = MemAlloc(16);
    void* second = MemAlloc(16);
    void* third = MemAlloc(16);
    MemFailAt(0);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    MemFree(first);
    MemFree(third);
}

TEST(MemoryTest, StickyFailureKeepsFailing) {
    MemFailAt(1, true);
    EXPECT_EQ(MemAlloc(1), nullptr);
    EXPECT_EQ(MemAlloc(1), nullptr);
    MemFailAt(0);
    void* block = MemAlloc(0);
    EXPECT_NE(block, nullptr);
    MemFree(block);
}
