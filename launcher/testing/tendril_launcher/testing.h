// What only the tests use of the launcher library: a run that plays a misbehaving launcher. Not
// installed: a launcher has no use for any of it.
#pragma once

#include <tendril_launcher/launcher.h>

#include <optional>
#include <string>

namespace tendril::launch {

struct TestRunOptions : RunOptions {
    // When set, Tendril is started with these parameters instead of the window handle.
    std::optional<std::wstring> parameters;
    // These bytes are written instead of the request.
    std::optional<std::string> rawRequest;
    // Close our end right after the request, as a launcher that goes away does.
    bool closeAfterRequest = false;
};

// runCommand with the knobs above.
RunResult runCommand(const TestRunOptions& options, const Request& request);

}  // namespace tendril::launch
