#include "launcher_link/progress.h"

#include "launcher_link/process_state.h"

#include <tendril/protocol.h>

#include <windows.h>

#include <cstdint>

namespace tendril {

std::uint32_t lastProgressTick = 0;
std::int32_t progressTotal = 1;
std::int32_t progressDone = 0;
std::int32_t lastProgressPercent = 0;

namespace {
constexpr std::uint32_t kProgressIntervalMs = 55;
}

void sendStatus(std::int32_t wParam, std::int32_t lParam) {
    ::SendNotifyMessageW(launcherWindow, WM_ASSISTANT_STATUS, static_cast<WPARAM>(wParam),
                         static_cast<LPARAM>(lParam));
}

void notifyProgress(std::int32_t percent) {
    const std::uint32_t now = ::GetTickCount();
    if (percent == 0 || percent == 100 || lastProgressTick == 0 ||
        now - lastProgressTick > kProgressIntervalMs) {
        lastProgressTick = now;
        sendStatus(STATUS_PROGRESS, percent);
    }
}

void tickProgress() {
    if (progressDone < INT32_MAX) progressDone = progressDone + 1;
    if (progressTotal <= 0) return;
    // 64-bit intermediates: done x 100 would overflow 32 bits beyond about 21 million units. For
    // smaller totals the truncating divisions give exactly the 32-bit results.
    const std::int64_t q = static_cast<std::int64_t>(progressDone) * 100 / progressTotal;
    const std::int64_t p64 = q * 98 / 100 + 1;
    const std::int32_t p = p64 > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(p64);
    if (p == lastProgressPercent) return;
    lastProgressPercent = p;
    notifyProgress(p < 1 ? 1 : (p > 99 ? 99 : p));
}

}  // namespace tendril
