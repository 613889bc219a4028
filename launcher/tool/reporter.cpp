#include "reporter.h"

#include "console.h"
#include "message_format.h"

namespace tendril::tool {

OutputStyle outputStyleFor(bool json, HANDLE standardOutput) {
    if (json) return OutputStyle::Json;
    return isConsole(standardOutput) ? OutputStyle::ProgressBar : OutputStyle::Lines;
}

Reporter::Reporter(Sink out, Sink err, OutputStyle style, std::int32_t command,
                   ErrorText errorText)
    : out_(std::move(out)),
      err_(std::move(err)),
      style_(style),
      command_(command),
      errorText_(std::move(errorText)) {}

void Reporter::endBar() {
    if (barShown_) {
        out_("\n");
        barShown_ = false;
    }
}

void Reporter::writeLine(const std::string& text) {
    endBar();
    out_(text + "\n");
}

void Reporter::writeError(const std::string& text) {
    endBar();
    err_(text + "\n");
}

void Reporter::line(const std::string& text) {
    if (style_ == OutputStyle::Json) return;
    std::lock_guard<std::mutex> lock(mutex_);
    writeLine(text);
}

void Reporter::notice(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeError(text);
}

void Reporter::message(const launch::ReceivedMessage& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (style_ == OutputStyle::Json) {
        out_(jsonLine(message, command_) + "\n");
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
            writeError(text);
            break;
        }
        case MessageKind::NotElevated:
            writeError("Tendril is not elevated (message 2326)");
            break;
        case MessageKind::Progress:
            if (style_ == OutputStyle::ProgressBar) {
                // Redrawn in place: back to the start of the line, then the whole bar.
                out_("\r" + progressBar(message.lParam));
                barShown_ = true;
            } else {
                writeLine("progress: " + std::to_string(message.lParam) + "%");
            }
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
    const std::string text = "result: " + outcome.summary;
    if (style_ == OutputStyle::Json) {
        out_(jsonFinal(run, outcome, command_) + "\n");
        if (outcome.exitStatus != 0) err_(text + "\n");
        return;
    }
    if (outcome.exitStatus == 0)
        writeLine(text);
    else
        writeError(text);
}

}  // namespace tendril::tool
