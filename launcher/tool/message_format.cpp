#include "message_format.h"

#include "commands.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace tendril::tool {

namespace {

using Json = nlohmann::ordered_json;

// Milliseconds to a tenth, so that lines stay short and exact ("12.5", not "12.500000001").
double tenths(double ms) { return std::round(ms * 10.0) / 10.0; }

Json errorNameOf(std::int64_t code) {
    const char* name = assistantErrorName(static_cast<std::int32_t>(code));
    return name ? Json(name) : Json(nullptr);
}

std::string dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

MessageKind classify(const launch::ReceivedMessage& message, std::int32_t command) {
    switch (message.message) {
        case WM_ASSISTANT_CONNECTED:
            if (message.lParam == 0) return MessageKind::Connected;
            if (message.lParam == PipeOpenFailed) return MessageKind::PipeOpenFailed;
            return MessageKind::Unexpected;
        case WM_ASSISTANT_NOT_ELEVATED:
            return MessageKind::NotElevated;
        case WM_ASSISTANT_STATUS:
            if (message.wParam == command &&
                (command != STATUS_PROGRESS || message.lParam == PipeReadFailed))
                return MessageKind::Result;
            if (message.wParam == STATUS_PROGRESS) return MessageKind::Progress;
            return MessageKind::Unexpected;
        default:
            return MessageKind::Unexpected;
    }
}

const char* kindName(MessageKind kind) {
    switch (kind) {
        case MessageKind::Connected:
            return "connected";
        case MessageKind::PipeOpenFailed:
            return "pipe_open_failed";
        case MessageKind::NotElevated:
            return "not_elevated";
        case MessageKind::Progress:
            return "progress";
        case MessageKind::Result:
            return "result";
        case MessageKind::Unexpected:
            return "unexpected";
    }
    return "unexpected";
}

std::string messageName(unsigned message) {
    switch (message) {
        case WM_ASSISTANT_CONNECTED:
            return "WM_ASSISTANT_CONNECTED";
        case WM_ASSISTANT_STATUS:
            return "WM_ASSISTANT_STATUS";
        case WM_ASSISTANT_NOT_ELEVATED:
            return "WM_ASSISTANT_NOT_ELEVATED";
        default:
            return "message " + std::to_string(message);
    }
}

std::string progressBar(std::int64_t percent) {
    constexpr int kCells = 20;
    const std::int64_t clamped = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    const int filled = static_cast<int>(clamped * kCells / 100);
    std::string text = "[" + std::string(filled, '#') + std::string(kCells - filled, '.') + "] ";
    const std::string number = std::to_string(clamped);
    text += std::string(4 - number.size(), ' ') + number + "%";
    return text;
}

std::string jsonLine(const launch::ReceivedMessage& message, std::int32_t command) {
    const MessageKind kind = classify(message, command);
    Json json;
    json["type"] = "message";
    json["t_ms"] = tenths(message.atMs);
    json["message"] = messageName(message.message);
    json["id"] = message.message;
    json["w_param"] = message.wParam;
    json["l_param"] = message.lParam;
    json["kind"] = kindName(kind);
    switch (kind) {
        case MessageKind::Connected:
            json["pid"] = message.wParam;
            break;
        case MessageKind::PipeOpenFailed:
            json["windows_error"] = message.wParam;
            json["error_code"] = message.lParam;
            json["error"] = errorNameOf(message.lParam);
            break;
        case MessageKind::Progress:
            json["percent"] = message.lParam;
            break;
        case MessageKind::Result:
            json["command"] = message.wParam;
            json["command_name"] = commandName(static_cast<std::int32_t>(message.wParam));
            json["error_code"] = message.lParam;
            json["error"] = errorNameOf(message.lParam);
            break;
        default:
            break;
    }
    return dump(json);
}

std::string jsonFinal(const launch::RunResult& run, const Outcome& outcome, std::int32_t command) {
    Json json;
    json["type"] = "end";
    json["command"] = command;
    json["command_name"] = commandName(command);
    json["result_command"] = outcome.result ? Json(outcome.result->first) : Json(nullptr);
    json["result_code"] = outcome.result ? Json(outcome.result->second) : Json(nullptr);
    json["result_error"] = outcome.result ? errorNameOf(outcome.result->second) : Json(nullptr);
    json["cancelled"] = run.cancelled;
    json["timed_out"] = run.timedOut;
    json["exit_status"] = outcome.exitStatus;
    json["summary"] = outcome.summary;
    json["tendril_pid"] = run.connected ? Json(run.tendrilProcessId) : Json(nullptr);
    json["tendril_exit_code"] = run.exited ? Json(run.exitCode) : Json(nullptr);
    json["schema_version"] = kJsonSchemaVersion;
    return dump(json);
}

}  // namespace tendril::tool
