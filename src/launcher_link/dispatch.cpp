#include "launcher_link/dispatch.h"

#include "commands/process_termination.h"
#include "commands/rename.h"
#include "commands/runtime_update.h"
#include "commands/uninstall.h"
#include "filetree/access_grant.h"
#include "install/refresh_command.h"
#include "launcher_link/error_store.h"
#include "launcher_link/pipe_watch.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"
#include "launcher_link/walk_context.h"
#include "log/log.h"
#include "shell/shortcut_command.h"

#include <tendril/protocol.h>

#include <windows.h>

namespace tendril {

namespace {

void runTerminateProcesses() {
    if (!terminateProcessesByPath(fieldText(assistantRequest.argument)))
        setLastAssistantError(TerminateFailed);
}

void runGrantUsersAccess() {
    grantInstallAccess(fieldText(assistantRequest.installFolder),
                       fieldText(assistantRequest.regPath), false, commandWalkContext());
}

// One row per command code. A handler of nullptr runs nothing (the command does nothing by
// design). Handlers report through the error store; their results are not looked at.
struct CommandRow {
    std::int32_t code;
    std::int32_t progressBefore;  // -1: none
    void (*handler)();
    std::int32_t progressAfter;  // -1: none
    bool sendsResult;            // the dispatcher sends WM_ASSISTANT_STATUS(code, lastError)
};

constexpr CommandRow kCommands[] = {
    {RefreshRegistration, -1, refreshRegistration, -1, false},  // the handler sends its result
    {InstallRuntimeUpdate, 0, [] { installRuntimeUpdate(); }, 100, true},  // result: error store
    {UninstallClient, -1, [] { uninstallClient(); }, -1, true},
    {GrantUsersAccess, -1, runGrantUsersAccess, -1, true},
    {ApplyShortcuts, 50, [] { applyShortcuts(); }, 100, true},
    {NoOperation, -1, nullptr, -1, false},
    {TerminateProcesses, -1, runTerminateProcesses, -1, true},
    {SetLongName, -1, [] { commands::SetLongName(); }, -1, true},
    {Cancel, -1, nullptr, -1, false},
};

const CommandRow* findRow(std::int32_t command) {
    for (const CommandRow& row : kCommands)
        if (row.code == command) return &row;
    return nullptr;
}

}  // namespace

void dispatchCommand(std::int32_t command) {
    startPipeWatch(pipeHandle);
    exeNameCopy = fieldText(assistantRequest.exeName);
    if (const CommandRow* row = findRow(command)) {
        if (row->progressBefore >= 0) notifyProgress(row->progressBefore);
        if (row->handler) row->handler();
        if (row->progressAfter >= 0) notifyProgress(row->progressAfter);
        if (row->sendsResult) sendStatus(command, lastAssistantError);
    }
    closeSession();
}

void closeSession() {
    pipeName.clear();
    if (!stopPipeWatch()) {
        // The watch thread is still in its read: on Windows the flush, the disconnect and the
        // close would each wait behind it and hang us here. Process exit closes the pipe.
        logText(L"Pipe watch not stopped: pipe left to process exit", true);
    } else if (pipeHandle != INVALID_HANDLE_VALUE) {
        ::FlushFileBuffers(pipeHandle);
        ::DisconnectNamedPipe(pipeHandle);
        ::CloseHandle(pipeHandle);
        pipeHandle = INVALID_HANDLE_VALUE;
    }
    logText(L"Pipe closed", true);
    if (theLog.IsOpen()) theLog.Close();
}

}  // namespace tendril
