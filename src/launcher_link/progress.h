// Progress reports to the launcher window: the throttled percentage message and the file-tree
// counter that turns work units into percentages.
#pragma once

#include <cstdint>

namespace tendril {

// Time (GetTickCount) of the last progress message sent; 0 while none has been sent.
extern std::uint32_t lastProgressTick;
// Work units the file-tree counter expects; the uninstall sets it before its walks.
extern std::int32_t progressTotal;
// Work units counted so far; never reset.
extern std::int32_t progressDone;
// The last percentage tickProgress computed, before clamping.
extern std::int32_t lastProgressPercent;

// Sends WM_ASSISTANT_STATUS(STATUS_PROGRESS, percent) unless a progress message went out 55 ms or
// less ago. 0 and 100 are never dropped.
void notifyProgress(std::int32_t percent);

// Counts one unit of work and reports the new percentage (1..99) when it changed.
void tickProgress();

// Sends WM_ASSISTANT_STATUS(wParam, lParam) to the launcher window.
void sendStatus(std::int32_t wParam, std::int32_t lParam);

}  // namespace tendril
