// Connecting to the launcher's pipe: the name, the open with its retry rule, and the check that
// the pipe is served by the process that owns the launcher window.
#pragma once

#include "common/unique_handle.h"

#include <tendril/protocol.h>

#include <windows.h>

#include <string>

namespace tendril {

// "\\.\pipe\launcher_<file name>", the file name being everything after the last backslash of
// the module path when that backslash stands at index 1 or later, else nothing.
std::wstring makePipeName(const std::wstring& modulePath);

// The two platform calls of the retry rule, replaceable so that the rule itself can be tested.
struct PipeOpenCalls {
    HANDLE (*open)(const wchar_t* name);
    BOOL (*wait)(const wchar_t* name, DWORD timeoutMs);
};

// The real calls: CreateFileW for reading and writing, share mode 0, OPEN_EXISTING, and
// SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION so that the pipe's server can identify us but
// never impersonate the elevated process; WaitNamedPipeW.
const PipeOpenCalls& realPipeOpenCalls();
constexpr DWORD kPipeOpenFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
constexpr DWORD kPipeBusyWaitMs = 10000;
constexpr int kPipeOpenAttempts = 5;

// Opens the pipe: a busy pipe is waited for (10000 ms) and tried again, five open attempts at
// most; the fifth busy result ends the loop even when its wait succeeded. Any other failure, or a
// failed wait, ends it at once. On failure the thread's last error is that of the failed call.
UniqueFile openPipeWithRetry(const wchar_t* name, const PipeOpenCalls& calls);

enum class ConnectOutcome { Connected, OpenFailed, ServerRefused };

struct PipeConnection {
    ConnectOutcome outcome = ConnectOutcome::OpenFailed;
    UniqueFile pipe;
    // The launcher's process (PROCESS_QUERY_LIMITED_INFORMATION), once connected: whose rights
    // the request may use.
    UniqueHandle server;
};

// Opens the pipe for the launcher window: the window's owning process is looked up (and held, so
// its id cannot be reused) before the open, and must be the pipe's server afterwards. A window
// that belongs to no process, or a pipe served by another process, is refused (the pipe is closed
// again).
PipeConnection connectLauncherPipe(const std::wstring& name, HWND window,
                                   const PipeOpenCalls& calls);

}  // namespace tendril
