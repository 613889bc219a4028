#include "launcher_link/dispatch.h"

#include "commands/process_termination.h"
#include "filetree/access_grant.h"
#include "launcher_link/error_store.h"
#include "launcher_link/pipe_watch.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"
#include "launcher_link/walk_context.h"
#include "log/log.h"

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

// One row per command code. A handler of nullptr runs nothing (its command is built later, or
// the command does nothing by design).
struct CommandRow {
    std::int32_t code;
    std::int32_t progressBefore;  // -1: none
    void (*handler)();
    std::int32_t progressAfter;  // -1: none
    bool sendsResult;            // the dispatcher sends WM_ASSISTANT_STATUS(code, lastError)
};

constexpr CommandRow kCommands[] = {
    {RefreshRegistration, -1, nullptr, -1, true},
    {InstallRuntimeUpdate, 0, nullptr, 100, true},
    {UninstallClient, -1, nullptr, -1, true},
    {GrantUsersAccess, -1, runGrantUsersAccess, -1, true},
    {ApplyShortcuts, 50, nullptr, 100, true},
    {NoOperation, -1, nullptr, -1, false},
    {TerminateProcesses, -1, runTerminateProcesses, -1, true},
    {SetLongName, -1, nullptr, -1, true},
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
    stopPipeWatch();
    if (pipeHandle != INVALID_HANDLE_VALUE) {
        ::FlushFileBuffers(pipeHandle);
        ::DisconnectNamedPipe(pipeHandle);
        ::CloseHandle(pipeHandle);
        pipeHandle = INVALID_HANDLE_VALUE;
    }
    logText(L"Pipe closed", true);
    if (theLog.IsOpen()) theLog.Close();
}

}  // namespace tendril
