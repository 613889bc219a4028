// Shows a run as it happens. Tendril's messages arrive on the message window's thread while the
// main thread writes its own lines, so every write goes through one lock.
#pragma once

#include "exit_status.h"

#include <tendril_launcher/launcher.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace tendril::tool {

class Reporter {
public:
    // sink receives the text to show (and flushes it); json selects one JSON object per line.
    Reporter(std::function<void(std::string_view)> sink, bool json, std::int32_t command,
             ErrorText errorText = {});

    // A line of our own (text mode only); ends a progress bar first.
    void line(const std::string& text);
    // One message from Tendril, as it arrives.
    void message(const launch::ReceivedMessage& message);
    // The final line, or the final JSON object.
    void finish(const launch::RunResult& run, const Outcome& outcome);

private:
    void writeLine(const std::string& text);

    std::mutex mutex_;
    std::function<void(std::string_view)> sink_;
    bool json_;
    std::int32_t command_;
    ErrorText errorText_;
    bool barShown_ = false;
};

}  // namespace tendril::tool
