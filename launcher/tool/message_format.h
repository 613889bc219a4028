// How Tendril's messages are shown: a progress bar and lines for people, one JSON object per line
// for scripts.
#pragma once

#include "exit_status.h"

#include <tendril_launcher/launcher.h>

#include <cstdint>
#include <string>

namespace tendril::tool {

enum class MessageKind {
    Connected,       // 2324 with lParam 0: wParam is Tendril's process id
    PipeOpenFailed,  // 2324 with lParam 11: wParam is the Windows error
    NotElevated,     // 2326
    Progress,        // 2325 with wParam 6: lParam is a percentage
    Result,          // 2325 with the command's code: lParam is the error code
    Unexpected,      // anything else
};

// What a message means in a run of command (2325 with wParam 6 is the result of a failed read
// for command 6, progress otherwise).
MessageKind classify(const launch::ReceivedMessage& message, std::int32_t command);
const char* kindName(MessageKind kind);
// "WM_ASSISTANT_STATUS", or "message <number>".
std::string messageName(unsigned message);

// "[##########..........]  50%": 20 cells, each one 5 percent; the percentage is clamped to 0..100.
std::string progressBar(std::int64_t percent);

// The JSON lines share one style: snake_case keys, numbers as numbers (null where there is none),
// and a "type" on every object: "message" for each of Tendril's messages, "end" for the final
// object, which alone carries "schema_version".
constexpr int kJsonSchemaVersion = 1;

// One message as a JSON object without a line end, e.g.
// {"type":"message","t_ms":12.5,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":6,
//  "l_param":50,"kind":"progress","percent":50}
std::string jsonLine(const launch::ReceivedMessage& message, std::int32_t command);
// The final object: {"type":"end","command":...,"result_code":... or null,...,"schema_version":1}
std::string jsonFinal(const launch::RunResult& run, const Outcome& outcome, std::int32_t command);

}  // namespace tendril::tool
