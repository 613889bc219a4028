#include "commands/process_termination.h"

#include "common/unique_handle.h"
#include "filetree/protected_locations.h"

#include <psapi.h>
#include <windows.h>

#include <cwchar>

namespace tendril {

namespace {
constexpr DWORD kMaxProcessIds = 1024;
constexpr DWORD kOpenAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;
constexpr DWORD kRefusalWaitMs = 1000;
}  // namespace

bool terminateProcessesByPath(const std::wstring& path) {
    if (refuseProtectedExecutable(path)) return false;
    DWORD ids[kMaxProcessIds] = {};
    DWORD bytesReturned = 0;
    if (!::K32EnumProcesses(ids, sizeof ids, &bytesReturned)) return false;

    const DWORD ownId = ::GetCurrentProcessId();
    const DWORD count = bytesReturned / sizeof(DWORD);
    for (DWORD i = 0; i < count && i < kMaxProcessIds; ++i) {
        wchar_t modulePath[MAX_PATH] = L"<unknown>";
        UniqueHandle process(::OpenProcess(kOpenAccess, FALSE, ids[i]));
        if (!process) continue;
        HMODULE module = nullptr;
        DWORD needed = 0;
        if (!::K32EnumProcessModules(process.get(), &module, sizeof module, &needed)) continue;
        ::K32GetModuleFileNameExW(process.get(), module, modulePath, MAX_PATH);
        modulePath[MAX_PATH - 1] = L'\0';
        if (_wcsicmp(path.c_str(), modulePath) != 0 || ids[i] == 0 || ids[i] == ownId) continue;
        if (!::TerminateProcess(process.get(), 0)) {
            ::WaitForSingleObject(process.get(), kRefusalWaitMs);
            return false;
        }
    }
    return true;
}

}  // namespace tendril
