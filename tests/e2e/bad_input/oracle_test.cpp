// The suite's own reading of a request: if it were wrong, every run would be judged against the
// wrong promise.
#include "oracle.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tendril::test::bad_input {
namespace {

std::string stream(std::int32_t command, std::int32_t entryCount, std::size_t entries) {
    std::string bytes(reinterpret_cast<const char*>(&command), 4);
    AssistantRequest record{};
    record.entryCount = entryCount;
    bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    bytes.append(entries * sizeof(RequestEntry), '\0');
    return bytes;
}

TEST(BadInputOracle, ReadsTheRequestAsTendrilDoes) {
    using End = Expectation::End;
    struct Case {
        const char* what;
        std::string bytes;
        bool closed;
        End end;
        std::int32_t command;
        std::int32_t code;
    };
    const Case cases[] = {
        {"nothing", "", true, End::EarlyEnd, 0, PipeReadFailed},
        {"half a code", std::string("\x07\x00", 2), true, End::EarlyEnd, 7, PipeReadFailed},
        {"half a code, pipe open", std::string("\x07\x00", 2), false, End::WaitsForMore, 7, 0},
        {"code 10", stream(10, 0, 0), false, End::EarlyEnd, 10, BadCommand},
        {"code -1", stream(-1, 0, 0).substr(0, 4), true, End::EarlyEnd, -1, BadCommand},
        {"code 2 alone", stream(2, 0, 0).substr(0, 4), false, End::Result, 2, 0},
        {"a cut record", stream(5, 0, 0).substr(0, 3000), true, End::EarlyEnd, 5, PipeReadFailed},
        {"a cut record, pipe open", stream(5, 0, 0).substr(0, 3000), false, End::WaitsForMore, 5,
         0},
        {"code 6", stream(6, 0, 0), false, End::NoResult, 6, 0},
        {"two of three entries", stream(5, 3, 2), true, End::EarlyEnd, 5, PipeReadFailed},
        {"a negative count", stream(5, -1, 0), false, End::EarlyEnd, 5, PipeReadFailed},
        {"a count above the limit", stream(6, kMaxEntryCount + 1, 0), false, End::EarlyEnd, 6,
         PipeReadFailed},
        {"more entries than counted", stream(4, 1, 2), false, End::Result, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Expectation e = expectationOf(c.bytes, c.closed);
        EXPECT_EQ(e.end, c.end);
        EXPECT_EQ(e.command, c.command);
        if (c.end == End::EarlyEnd) {
            EXPECT_EQ(e.code, c.code);
        }
    }
    EXPECT_EQ(expectationOf(stream(2, 0, 0), false).allowedCodes,
              std::vector<std::int32_t>{UpdateLaunchFailed});
    EXPECT_EQ(expectationOf(stream(5, 0, 0), false).allowedCodes,
              std::vector<std::int32_t>{NoError});
}

}  // namespace
}  // namespace tendril::test::bad_input
