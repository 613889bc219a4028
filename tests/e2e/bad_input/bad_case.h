// One bad-input case: the bytes a launcher writes, how it writes them, when it goes away, and
// what it writes while the command runs. A case is made from a seed and its number alone, so a
// failing one can be run again by itself.
#pragma once

#include "world.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tendril::test::bad_input {

// When the launcher closes its end of the pipe.
enum class Closing {
    BeforeStart,       // there is no pipe at all
    AfterConnect,      // before writing anything
    AfterRequest,      // right after the request bytes
    AfterLaterWrites,  // after the writes made while the command runs
    Never,             // it keeps its end until Tendril has exited
};

struct LaterWrite {
    DWORD delayMs = 0;
    std::string bytes;
};

struct Case {
    std::uint64_t seed = 0;
    std::uint64_t index = 0;
    bool longMode = false;  // which mode's numbering index follows
    std::string what;       // what the case does, for failure output
    std::string request;
    // The request is written in pieces of these sizes, pieceDelayMs apart; empty: in one write.
    std::vector<std::size_t> pieces;
    DWORD pieceDelayMs = 0;
    Closing closing = Closing::Never;
    std::vector<LaterWrite> later;
    // A second install record of the work key (slot 1), for requests that must find theirs.
    std::wstring extraRecord;
    // The client's "applist.dat", which its users may write after a grant: these bytes, then
    // (when larger) zeros up to appListSize. Nothing: no such file.
    std::optional<std::string> appList;
    std::uint64_t appListSize = 0;
    // A folder outside the work folder that holds the client's shortcut (World::resetWork):
    // empty, the work folder's links folder.
    std::wstring shortcutFolder;
    // The one result code this case must end with, when the case decides it.
    std::optional<std::int32_t> expectedCode;
};

struct Mode {
    std::uint64_t seed = 13;
    bool thorough = false;  // every protected location in every field, every bool byte value
};

// The number of cases that enumerate the fields, stages and values; cases from this number on
// are drawn at random.
std::uint64_t systematicCaseCount(const World& world, const Mode& mode);
Case makeCase(const World& world, const Mode& mode, std::uint64_t index);

std::string describe(const Case& c);

}  // namespace tendril::test::bad_input
