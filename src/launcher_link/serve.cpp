#include "launcher_link/serve.h"

#include "launcher_link/administrator.h"
#include "launcher_link/arguments.h"
#include "launcher_link/dispatch.h"
#include "launcher_link/launcher_user.h"
#include "launcher_link/pipe_connect.h"
#include "launcher_link/process_state.h"
#include "launcher_link/request_reader.h"
#include "log/log.h"

#include <tendril/protocol.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdint>

namespace tendril {

namespace {

// The executable's path as a 260-character buffer receives it. A path that does not fit comes
// back cut (and, on older systems and under Wine, unterminated): whole is false then.
struct ModulePath {
    std::wstring path;
    bool whole = false;
};

ModulePath modulePath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ModulePath module;
    module.path.assign(path, length < MAX_PATH ? length : MAX_PATH - 1);
    module.whole = length > 0 && length < MAX_PATH;
    return module;
}

void sendToLauncher(UINT message, WPARAM wParam, LPARAM lParam) {
    ::SendNotifyMessageW(launcherWindow, message, wParam, lParam);
}

// Opens (or creates) the log beside the executable and truncates it; without a log the run goes
// on unlogged. A cut module path gives no log at all: "<cut path>.log" would name another file.
void openLog() {
    const ModulePath module = modulePath();
    const std::wstring logPath = module.whole ? module.path + L".log" : std::wstring();
    if (!logPath.empty() && !theLog.IsOpen()) theLog.Open(logPath.c_str());
    theLog.SetAutoFlush(false);
    theLog.SetUtf8Output(true);
    theLog.WriteBanner(L"tendril started", true);
}

}  // namespace

bool serveLauncher() {
    openLog();
    logText(L"OpenPipe '", false);
    // A cut path gives the name of a cut file name, which the launcher did not create: the open
    // fails, and a pipe of that name served by anyone but the launcher window's process is refused.
    pipeName = makePipeName(modulePath().path);
    logText(pipeName.c_str(), false);
    logText(L"' - ", false);

    PipeConnection connection = connectLauncherPipe(pipeName, launcherWindow, realPipeOpenCalls());
    const bool connected = connection.outcome == ConnectOutcome::Connected;
    logText(connected ? L"ok" : L"fail", true);
    if (!connected) {
        const DWORD error = connection.outcome == ConnectOutcome::ServerRefused
                                ? ERROR_ACCESS_DENIED
                                : ::GetLastError();
        sendToLauncher(WM_ASSISTANT_CONNECTED, error, PipeOpenFailed);
        return false;
    }
    pipeHandle = connection.pipe.release();
    // Without it every request is judged as one from a user who may change nothing.
    if (!takeLauncherUser(connection.server.get())) logText(L"Launcher's user unknown", true);
    sendToLauncher(WM_ASSISTANT_CONNECTED, ::GetCurrentProcessId(), 0);

    std::int32_t command = 0;
    if (!readRequest(command)) return false;
    dispatchCommand(command);
    return true;
}

int runTendril() {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) return 0;
    if (argc != 2) {
        ::LocalFree(argv);
        return 0;
    }
    // Handle values are 32 bits wide, sign-extended in a 64-bit process.
    launcherWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(parseDecimalArgument(argv[1])));
    ::LocalFree(argv);

    if (!isAdministrator()) {
        sendToLauncher(WM_ASSISTANT_NOT_ELEVATED, 0, 0);
        return 0;
    }
    serveLauncher();
    return 0;
}

}  // namespace tendril
