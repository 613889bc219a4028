// Shows a run as it happens. Tendril's messages arrive on the message window's thread, a cancel
// notice on the console handler's, while the main thread writes its own lines: every write goes
// through one lock.
#pragma once

#include "exit_status.h"

#include <tendril_launcher/launcher.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace tendril::tool {

enum class OutputStyle {
    ProgressBar,  // a console: the progress bar is redrawn in place
    Lines,        // a file or a pipe: one line per progress message, nothing redrawn
    Json,         // --json: one JSON object per line
};

// The style for standard output: JSON when asked for, the bar only on a console.
OutputStyle outputStyleFor(bool json, HANDLE standardOutput);

// Where the text goes; each call receives whole lines (or a bar to redraw) and flushes them.
using Sink = std::function<void(std::string_view)>;

class Reporter {
public:
    // out receives the run as it happens and its result; err what went wrong (a refused or
    // failed run, a pipe Tendril could not open, a missing elevation) and the cancel notice.
    Reporter(Sink out, Sink err, OutputStyle style, std::int32_t command,
             ErrorText errorText = {});

    // A line of our own (text styles only); ends a progress bar first.
    void line(const std::string& text);
    // A notice for standard error (every style); ends a progress bar first.
    void notice(const std::string& text);
    // One message from Tendril, as it arrives.
    void message(const launch::ReceivedMessage& message);
    // The final line, or the final JSON object. A run whose exit status is not 0 has its final
    // line on standard error (with --json: the object on standard output, the line on error).
    void finish(const launch::RunResult& run, const Outcome& outcome);

private:
    void endBar();
    void writeLine(const std::string& text);
    void writeError(const std::string& text);

    std::mutex mutex_;
    Sink out_;
    Sink err_;
    OutputStyle style_;
    std::int32_t command_;
    ErrorText errorText_;
    bool barShown_ = false;
};

}  // namespace tendril::tool
