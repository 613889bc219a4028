// The error store: the code of the last failure a command raised is what the launcher receives.
#pragma once

#include <cstdint>

namespace tendril {

// The code stored last; 0 means no error. Nothing resets it during a run.
extern std::int32_t lastAssistantError;

// Logs "setLastAssistantError: error = <code>, lastError = <GetLastError()>" and stores the code.
// The Windows error is read first, before anything can change it.
void setLastAssistantError(std::int32_t code);

}  // namespace tendril
