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

TEST(MemoryTest, ShrinkKeepsTheFirstBytesAndIsNoAllocation) {
    auto* block = static_cast<unsigned char*>(MemAlloc(1 << 20));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) {
        block[i] = static_cast<unsigned char>(i * 7);
    }
    const long calls = MemAllocCalls();
    MemFailAt(1, true);
    auto* smaller = static_cast<unsigned char*>(MemShrink(block, 4096));
    MemFailAt(0);
    ASSERT_NE(smaller, nullptr);
    EXPECT_EQ(MemAllocCalls(), calls);
    for (int i = 0; i < 4096; ++i) {
        ASSERT_EQ(smaller[i], static_cast<unsigned char>(i * 7)) << i;
    }
    MemFree(smaller);
}
