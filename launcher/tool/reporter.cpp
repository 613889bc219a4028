#include "reporter.h"

#include "message_format.h"

namespace tendril::tool {

Reporter::Reporter(std::function<void(std::string_view)> sink, bool json, std::int32_t command,
                   ErrorText errorText)
    : sink_(std::move(sink)), json_(json), command_(command), errorText_(std::move(errorText)) {}

void Reporter::writeLine(const std::string& text) {
    if (barShown_) {
        sink_("\n");
        barShown_ = false;
    }
    sink_(text + "\n");
}

void Reporter::line(const std::string& text) {
    if (json_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    writeLine(text);
}

void Reporter::message(const launch::ReceivedMessage& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (json_) {
        sink_(jsonLine(message, command_) + "\n");
        return;
    }
    switch (classify(message, command_)) {
        case MessageKind::Connected:
            writeLine("connected: Tendril pid " + std::to_string(message.wParam));
            break;
        case MessageKind::PipeOpenFailed: {
            std::string text =
                "Tendril could not open the pipe: Windows error " + std::to_string(message.wParam);
            const std::string meaning =
                errorText_ ? errorText_(static_cast<DWORD>(message.wParam)) : std::string();
            if (!meaning.empty()) text += " (" + meaning + ")";
            writeLine(text);
            break;
        }
        case MessageKind::NotElevated:
            writeLine("Tendril is not elevated (message 2326)");
            break;
        case MessageKind::Progress:
            // Redrawn in place: back to the start of the line, then the whole bar.
            sink_("\r" + progressBar(message.lParam));
            barShown_ = true;
            break;
        case MessageKind::Result:
            // The final line names it once Tendril has ended.
            break;
        case MessageKind::Unexpected:
            writeLine("unexpected " + messageName(message.message) + ": wParam " +
                      std::to_string(message.wParam) + ", lParam " +
                      std::to_string(message.lParam));
            break;
    }
}

void Reporter::finish(const launch::RunResult& run, const Outcome& outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (json_) {
        sink_(jsonFinal(run, outcome, command_) + "\n");
        return;
    }
    writeLine("result: " + outcome.summary);
}

}  // namespace tendril::tool
