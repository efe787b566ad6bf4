// The QR image file operation called from several threads at once, each
// with its own output name: every file must decode to its own message. The
// ThreadSanitizer build runs only this test.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "qrfile/qrfile.h"
#include "tests/support/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

constexpr int kThreads = 8;

TEST(ThreadTest, ConcurrentCallsEachWriteTheirOwnSymbol) {
    ScratchDir scratch;
    std::array<std::array<char, 64>, kThreads> names{};
    std::array<std::string, kThreads> messages;
    std::array<int, kThreads> results{};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        messages[i] = i % 4 < 2 ? "THREAD " + std::to_string(i) + std::string(i * 20, '7')
                                : "\xE6\x97\xA5\xE6\x9C\xAC " + std::to_string(i);
        threads.emplace_back([&, i] {
            // Several calls a thread, so the calls overlap in every stage;
            // PNG (the name gets ".png") and BMP, plain and converted text.
            for (int round = 0; round < 3 && results[i] == 0; ++round) {
                std::snprintf(names[i].data(), names[i].size(), "thread-%d-%d%s", i, round,
                              i % 2 == 0 ? "" : ".bmp");
                results[i] = ZEMQRFile(0, names[i].data(), 0, 0, 1 + i % 4, 0, 1 + i % 3, 0, 0,
                                       messages[i].c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(results[i], 0) << i;
        // Japanese text is stored as Shift-JIS.
        const std::string expected =
            i % 4 < 2 ? messages[i] : "\x93\xFA\x96\x7B " + std::to_string(i);
        EXPECT_EQ(DecodeQrFileWithZxing(names[i].data()), expected) << names[i].data();
    }
}

}  // namespace
