// What the protocol promises for a run, worked out from the bytes the launcher wrote, and the
// check of what a run showed against it.
#pragma once

#include "bad_case.h"

#include <tendril_launcher/launcher.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tendril::test::bad_input {

struct Expectation {
    enum class End {
        ConnectFailed,  // 2324 with lParam 11 and nothing else
        EarlyEnd,       // one 2325 (command as read, code), nothing more
        NoResult,       // commands 6 and 9: no 2325 at all
        Result,         // progress, then one result (command, one of the allowed codes)
        WaitsForMore,   // the request is not complete: Tendril would wait for the rest
    };
    End end = End::Result;
    std::int32_t command = 0;  // as Tendril reads it
    std::int32_t code = 0;     // EarlyEnd: the code; ConnectFailed: the error in wParam
    std::vector<std::int32_t> allowedCodes;  // Result
};

// The reading of the request as Tendril does it: the command code, the record unless the command
// is 2, then entryCount entries. closedAfter: the launcher's end goes away after these bytes.
Expectation expectationOf(const std::string& request, bool closedAfter);

// What a run showed.
struct Observation {
    bool started = false;
    DWORD processId = 0;
    bool exited = false;
    DWORD exitCode = 0;
    double elapsedMs = 0;
    std::vector<launch::ReceivedMessage> messages;
    std::string log;
};

// Every way the run broke the promise, one line each; empty when it kept it.
std::vector<std::string> checkRun(const Case& c, const Expectation& expected,
                                  const Observation& seen);

}  // namespace tendril::test::bad_input
