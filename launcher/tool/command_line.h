// The command line of tendril-launch: one sub-command per command code, an option per request
// field, NAME=PATH entries and the options of the run itself.
#pragma once

#include <tendril_launcher/launcher.h>

#include <string>
#include <vector>

namespace tendril::tool {

constexpr DWORD kDefaultTimeoutMs = 120000;
constexpr DWORD kDefaultGraceMs = 10000;

// What to run, as the command line asks.
struct ToolOptions {
    launch::Request request;   // command code, record and entries, ready to send
    std::wstring tendrilPath;  // as given; empty: tendril.exe beside tendril-launch.exe
    launch::StartMethod method = launch::StartMethod::RunAs;
    int cancelAfterMs = -1;  // write Cancel this long after the request; negative: never
    DWORD timeoutMs = kDefaultTimeoutMs;
    DWORD graceMs = kDefaultGraceMs;  // after a cancel or the time limit: how long Tendril gets
    bool json = false;
};

struct ParsedCommandLine {
    bool run = false;    // options hold a command to run
    int exitStatus = 0;  // when there is nothing to run: the status to exit with (0 after --help)
    std::string out;     // text for standard output (help, version)
    std::string err;     // text for standard error (why the command line was refused)
    ToolOptions options;
};

// Parses the arguments (UTF-8, without the program name). Never throws.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

}  // namespace tendril::tool
