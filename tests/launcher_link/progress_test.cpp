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

using ProgressTest = test::LinkStateTest;

TEST_F(ProgressTest, MessagesLessThan56MsApartAreDroppedButZeroAndHundredNever) {
    const DWORD start = ::GetTickCount();
    notifyProgress(10);  // the first report always goes out
    notifyProgress(20);
    notifyProgress(0);
    notifyProgress(30);
    notifyProgress(100);
    notifyProgress(40);
    notifyProgress(100);
    if (::GetTickCount() - start > 40) GTEST_SKIP() << "the calls were not close enough together";
    EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{progress(10), progress(0),
                                                                 progress(100), progress(100)}));

    // Once more than 55 ms have passed since the last report, the next one goes out again.
    while (::GetTickCount() - lastProgressTick <= 60) ::Sleep(10);
    recorder.clear();
    const DWORD later = ::GetTickCount();
    notifyProgress(50);
    notifyProgress(60);
    if (::GetTickCount() - later > 40) GTEST_SKIP() << "the calls were not close enough together";
    EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{progress(50)}));
}

TEST_F(ProgressTest, ThrottleBoundaryIs55MsDroppedAnd56MsSent) {
    struct Case {
        DWORD age;  // milliseconds since the last report
        bool sent;
    };
    for (const Case c : {Case{55, false}, Case{56, true}, Case{1, false}, Case{1000, true}}) {
        SCOPED_TRACE(c.age);
        bool decided = false;
        // Only an attempt during which the tick count did not move tells the boundary exactly.
        for (int attempt = 0; attempt < 50 && !decided; ++attempt) {
            recorder.clear();
            const DWORD now = ::GetTickCount();
            lastProgressTick = now - c.age;
            notifyProgress(42);
            if (::GetTickCount() != now) continue;
            decided = true;
            if (c.sent) {
                EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{progress(42)}));
                EXPECT_EQ(lastProgressTick, now);
            } else {
                EXPECT_TRUE(recorder.messages().empty());
                EXPECT_EQ(lastProgressTick, now - c.age);  // a dropped report moves nothing
            }
        }
        if (!decided) GTEST_SKIP() << "the tick count moved during every attempt";
    }
}

struct TickCase {
    std::int32_t total;
    std::int32_t doneBefore;
    std::int32_t lastPercentBefore;
    std::int32_t lastPercentAfter;  // unclamped
    std::int32_t sent;              // the percentage sent, -1 for none
};

TEST_F(ProgressTest, TickComputesThePercentageClampsItAndSendsOnlyChanges) {
    const TickCase cases[] = {
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
    };
    for (const TickCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "total " << c.total << ", done " << c.doneBefore);
        recorder.clear();
        progressTotal = c.total;
        progressDone = c.doneBefore;
        lastProgressPercent = c.lastPercentBefore;
        lastProgressTick = 0;  // not throttled
        tickProgress();
        EXPECT_EQ(progressDone, c.doneBefore + 1);
        EXPECT_EQ(lastProgressPercent, c.lastPercentAfter);
        if (c.sent < 0)
            EXPECT_TRUE(recorder.messages().empty());
        else
            EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{progress(c.sent)}));
    }
}

// Where done x 100 fits in 32 bits the counter computes exactly the 32-bit truncating formula.
TEST_F(ProgressTest, TickMatchesThe32BitFormulaForSmallerTotals) {
    for (const std::int32_t total :
         {1, 2, 3, 7, 10, 99, 100, 101, 200, 999, 4096, 123457, 21474836}) {
        for (const std::int32_t done :
             {1, 2, total / 3, total / 2, total - 1, total, total + 1, 2 * total}) {
            if (done < 1 || done > 21474836) continue;
            const std::int32_t q = (done * 100) / total;
            const std::int32_t p = (q * 98) / 100 + 1;
            SCOPED_TRACE(testing::Message() << "total " << total << ", done " << done);
            recorder.clear();
            progressTotal = total;
            progressDone = done - 1;
            lastProgressPercent = 0;
            lastProgressTick = 0;
            tickProgress();
            EXPECT_EQ(lastProgressPercent, p);
            const std::int32_t clamped = p < 1 ? 1 : (p > 99 ? 99 : p);
            EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{progress(clamped)}));
        }
    }
}

// A walk of 200 units done quickly: the first percentage goes out, the rest fall inside the 55 ms
// window and are dropped, and a dropped percentage is never sent later.
TEST_F(ProgressTest, FastTicksSendOnlyTheFirstPercentage) {
    progressTotal = 200;
    const DWORD start = ::GetTickCount();
    for (int i = 0; i < 200; ++i) tickProgress();
    if (::GetTickCount() - start > 40) GTEST_SKIP() << "the ticks were not close enough together";
    EXPECT_EQ(recorder.messages(), (std::vector<RecordedMessage>{progress(1)}));
    EXPECT_EQ(progressDone, 200);
    EXPECT_EQ(lastProgressPercent, 99);

    while (::GetTickCount() - lastProgressTick <= 60) ::Sleep(10);
    tickProgress();  // still 99: unchanged, so nothing is sent
    EXPECT_EQ(recorder.messages().size(), 1u);
    notifyProgress(100);
    EXPECT_EQ(recorder.messages().back(), progress(100));
}

}  // namespace
}  // namespace tendril
