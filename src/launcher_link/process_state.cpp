#include "launcher_link/process_state.h"

#include "launcher_link/cancel.h"

namespace tendril {

HWND launcherWindow = nullptr;
HANDLE pipeHandle = INVALID_HANDLE_VALUE;
std::wstring pipeName;
AssistantRequest assistantRequest{};
std::vector<RequestEntry> entryList;
std::wstring exeNameCopy;
const std::wstring applistFileName = L"applist.dat";
std::atomic<bool> cancelRequested{false};

}  // namespace tendril
