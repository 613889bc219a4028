// What a run of tendril-launch ends with: its exit status and the summary of the final line.
//
// When Tendril sends a result, the exit status is its error code (0 to 17; 11 when Tendril could
// not open the pipe). When no result message arrives, or the run was cut short by a cancel or the
// time limit, a status of 100 or more tells why.
#pragma once

#include <tendril_launcher/launcher.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace tendril::tool {

enum ExitStatus : int {
    kExitUsage = 100,              // the command line was refused
    kExitPipeNotCreated = 101,     // our end of the pipe could not be created
    kExitNotStarted = 102,         // tendril.exe could not be started
    kExitNotElevated = 103,        // Tendril does not run as an administrator (message 2326)
    kExitNoAnswer = 104,           // Tendril ended, or the time ran out, before it announced itself
    kExitRequestNotWritten = 105,  // connected, but the request could not be written
    kExitNoResult = 106,           // Tendril ended without a result message
    kExitTimedOut = 107,           // the time ran out: Cancel was written, the grace period waited
    kExitCancelled = 108,          // Ctrl-C, Ctrl-Break or a closed console cancelled the run
};

// The exit statuses, for the footer of --help.
std::string exitStatusHelp();

struct Outcome {
    int exitStatus = 0;
    // The result message (command code, error code), when one arrived.
    std::optional<std::pair<std::int32_t, std::int32_t>> result;
    // The text after "result: " on the final line.
    std::string summary;
};

// Text that explains a Windows error code ("Access is denied."), or empty.
using ErrorText = std::function<std::string(DWORD)>;

// The outcome of a run of command; errorText, when given, adds the text of Windows errors.
Outcome outcomeOf(const launch::RunResult& run, std::int32_t command, DWORD timeoutMs,
                  const ErrorText& errorText = {});

// "0 NoError", "3 (no name)".
std::string errorCodeText(std::int32_t code);

}  // namespace tendril::tool
