// The throttled progress message and the file-tree counter, observed as the messages that reach
// the launcher window.
#include "launcher_link/progress.h"

#include "link_fixture.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tendril {
namespace {

using test::RecordedMessage;

RecordedMessage progress(std::int64_t percent) {
    return {WM_ASSISTANT_STATUS, STATUS_PROGRESS, percent};
}

// What the launcher window receives: that percentage, or nothing for -1.
std::vector<RecordedMessage> sent(std::int32_t percent) {
    if (percent < 0) return {};
    return {progress(percent)};
}

using ProgressTest = test::LinkStateTest;

// A report goes out when it is the first, when it says 0 or 100, or when more than 55 ms have
// passed since the last one went out; only a report that goes out moves the time of the last.
TEST_F(ProgressTest, ReportsWithin55MsAreDroppedButTheFirstZeroAndHundredNever) {
    constexpr DWORD kNone = ~0u;  // no report has gone out yet
    const struct {
        DWORD age;  // milliseconds since the last report went out
        std::int32_t percent;
        bool sent;
    } cases[] = {
        {kNone, 10, true}, {0, 20, false},   {1, 30, false},     {55, 42, false},
        {56, 42, true},    {1000, 42, true}, {0, 0, true},       {1, 100, true},
        {55, 100, true},   {55, 0, true},    {kNone, 100, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "age " << c.age << ", " << c.percent << "%");
        // The age is exact only when the tick count stays put during the call.
        bool pinned = false;
        DWORD now = 0, last = 0;
        for (int attempt = 0; attempt < 1000 && !pinned; ++attempt) {
            recorder.clear();
            now = ::GetTickCount();
            last = lastProgressTick = c.age == kNone ? 0 : now - c.age;
            notifyProgress(c.percent);
            pinned = ::GetTickCount() == now;
        }
        ASSERT_TRUE(pinned) << "the tick count moved during each of 1000 calls";
        EXPECT_EQ(recorder.messages(), sent(c.sent ? c.percent : -1));
        EXPECT_EQ(lastProgressTick, c.sent ? now : last);
    }
}

TEST_F(ProgressTest, TickComputesThePercentageClampsItAndSendsOnlyChanges) {
    const struct {
        std::int32_t total;
        std::int32_t doneBefore;
        std::int32_t lastPercentBefore;
        std::int32_t lastPercentAfter;  // unclamped
        std::int32_t sent;              // the percentage sent, -1 for none
    } cases[] = {
        {200, 0, 0, 1, 1},       // first unit of 200: q = 0, p = 1
        {200, 199, 0, 99, 99},   // the 200th: q = 100, p = 99
        {200, 99, 0, 50, 50},    // q = 50: 4900 / 100 + 1
        {3, 1, 0, 65, 65},       // q = 66: 6468 / 100 + 1
        {7, 2, 0, 42, 42},       // q = 42: 4116 / 100 + 1
        {200, 0, 1, 1, -1},      // the same percentage again: nothing sent
        {100, 101, 0, 100, 99},  // beyond the total: stored unclamped, sent as 99
        {1, 9, 0, 981, 99},
        {1, 9, 981, 981, -1},
        {0, 5, 7, 7, -1},  // no total: only counted
        {-3, 5, 7, 7, -1},
        // done x 100 beyond 32 bits (more than about 21 million units)
        {30000000, 14999999, 0, 50, 50},
        {30000000, 29999999, 0, 99, 99},
        {2000000000, 0, 0, 1, 1},
        {2000000000, 999999999, 0, 50, 50},
        {2147483647, 2147483646, 0, 99, 99},
        {21474837, 21474836, 0, 99, 99},
        // Where done x 100 fits in 32 bits, the 32-bit truncating divisions: q = done x 100 /
        // total, p = q x 98 / 100 + 1.
        // clang-format off
        {1, 0, 0, 99, 99}, {1, 1, 0, 197, 99},
        {2, 0, 0, 50, 50}, {2, 1, 0, 99, 99}, {2, 2, 0, 148, 99}, {2, 3, 0, 197, 99},
        {3, 0, 0, 33, 33}, {3, 1, 0, 65, 65}, {3, 2, 0, 99, 99}, {3, 3, 0, 131, 99},
        {3, 5, 0, 197, 99},
        {7, 0, 0, 14, 14}, {7, 1, 0, 28, 28}, {7, 2, 0, 42, 42}, {7, 5, 0, 84, 84},
        {7, 6, 0, 99, 99}, {7, 7, 0, 112, 99}, {7, 13, 0, 197, 99},
        {10, 0, 0, 10, 10}, {10, 1, 0, 20, 20}, {10, 2, 0, 30, 30}, {10, 4, 0, 50, 50},
        {10, 8, 0, 89, 89}, {10, 9, 0, 99, 99}, {10, 10, 0, 108, 99}, {10, 19, 0, 197, 99},
        {99, 0, 0, 1, 1}, {99, 1, 0, 2, 2}, {99, 32, 0, 33, 33}, {99, 48, 0, 49, 49},
        {99, 97, 0, 97, 97}, {99, 98, 0, 99, 99}, {99, 99, 0, 99, 99}, {99, 197, 0, 197, 99},
        {100, 0, 0, 1, 1}, {100, 1, 0, 2, 2}, {100, 32, 0, 33, 33}, {100, 49, 0, 50, 50},
        {100, 98, 0, 98, 98}, {100, 99, 0, 99, 99}, {100, 100, 0, 99, 99}, {100, 199, 0, 197, 99},
        {101, 0, 0, 1, 1}, {101, 1, 0, 1, 1}, {101, 32, 0, 32, 32}, {101, 49, 0, 49, 49},
        {101, 99, 0, 98, 98}, {101, 100, 0, 99, 99}, {101, 101, 0, 99, 99}, {101, 201, 0, 197, 99},
        {200, 0, 0, 1, 1}, {200, 1, 0, 1, 1}, {200, 65, 0, 33, 33}, {200, 99, 0, 50, 50},
        {200, 198, 0, 98, 98}, {200, 199, 0, 99, 99}, {200, 200, 0, 99, 99}, {200, 399, 0, 197, 99},
        {999, 0, 0, 1, 1}, {999, 1, 0, 1, 1}, {999, 332, 0, 33, 33}, {999, 498, 0, 49, 49},
        {999, 997, 0, 98, 98}, {999, 998, 0, 99, 99}, {999, 999, 0, 99, 99},
        {999, 1997, 0, 197, 99},
        {4096, 0, 0, 1, 1}, {4096, 1, 0, 1, 1}, {4096, 1364, 0, 33, 33}, {4096, 2047, 0, 50, 50},
        {4096, 4094, 0, 98, 98}, {4096, 4095, 0, 99, 99}, {4096, 4096, 0, 99, 99},
        {4096, 8191, 0, 197, 99},
        {123457, 0, 0, 1, 1}, {123457, 1, 0, 1, 1}, {123457, 41151, 0, 33, 33},
        {123457, 61727, 0, 49, 49}, {123457, 123455, 0, 98, 98}, {123457, 123456, 0, 99, 99},
        {123457, 123457, 0, 99, 99}, {123457, 246913, 0, 197, 99},
        {21474836, 0, 0, 1, 1}, {21474836, 1, 0, 1, 1}, {21474836, 7158277, 0, 33, 33},
        {21474836, 10737417, 0, 50, 50}, {21474836, 21474834, 0, 98, 98},
        {21474836, 21474835, 0, 99, 99},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "total " << c.total << ", done " << c.doneBefore);
        recorder.clear();
        progressTotal = c.total;
        progressDone = c.doneBefore;
        lastProgressPercent = c.lastPercentBefore;
        lastProgressTick = 0;  // not throttled
        tickProgress();
        EXPECT_EQ(progressDone, c.doneBefore + 1);
        EXPECT_EQ(lastProgressPercent, c.lastPercentAfter);
        EXPECT_EQ(recorder.messages(), sent(c.sent));
    }
}

// A walk of 200 units within one 55 ms window: the first percentage goes out, the rest are
// dropped, and a dropped percentage is never sent later.
TEST_F(ProgressTest, FastTicksSendOnlyTheFirstPercentage) {
    progressTotal = 200;
    tickProgress();
    for (int i = 1; i < 200; ++i) {
        lastProgressTick = ::GetTickCount();  // the last report went out just now
        tickProgress();
    }
    EXPECT_EQ(recorder.messages(), sent(1));
    EXPECT_EQ(progressDone, 200);
    EXPECT_EQ(lastProgressPercent, 99);

    lastProgressTick = ::GetTickCount() - 1000;  // the window has long passed
    tickProgress();                              // still 99: unchanged, so nothing is sent
    EXPECT_EQ(recorder.messages().size(), 1u);
    notifyProgress(100);
    EXPECT_EQ(recorder.messages().back(), progress(100));
}

}  // namespace
}  // namespace tendril
