#include "launcher_link/error_store.h"

#include "log/format.h"
#include "log/log.h"

#include <windows.h>

namespace tendril {

std::int32_t lastAssistantError = 0;

void setLastAssistantError(std::int32_t code) {
    const DWORD lastError = ::GetLastError();
    wchar_t line[kLineBufferChars];
    formatTruncated(line, L"setLastAssistantError: error = %d, lastError = %d", code,
                    static_cast<int>(lastError));
    logText(line, true);
    lastAssistantError = code;
}

}  // namespace tendril
