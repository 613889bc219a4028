// The exit status and final line of a run, for every way a run can end.
#include "exit_status.h"

#include <gtest/gtest.h>

namespace tendril::tool {
namespace {

using launch::ReceivedMessage;
using launch::RunResult;

ReceivedMessage msg(UINT message, std::int64_t wParam, std::int64_t lParam) {
    ReceivedMessage m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    return m;
}

// A run that connected (pid 4242), wrote its request and ended with exit code 0, plus messages.
RunResult run(std::int32_t command, std::vector<ReceivedMessage> extra = {}) {
    RunResult r;
    r.pipeCreated = r.started = r.connected = r.requestWritten = r.exited = true;
    r.tendrilProcessId = 4242;
    r.messages.push_back(msg(WM_ASSISTANT_CONNECTED, 4242, 0));
    for (const ReceivedMessage& m : extra) r.messages.push_back(m);
    r.result = launch::resultOf(r.messages, command);
    return r;
}

TEST(Outcome, ExitStatusAndSummaryForEveryEnding) {
    RunResult pipeNotCreated;
    pipeNotCreated.pipeError = 231;
    RunResult notStarted;
    notStarted.pipeCreated = true;
    notStarted.startError = 2;
    RunResult notElevated = run(7, {msg(WM_ASSISTANT_NOT_ELEVATED, 0, 0)});
    notElevated.messages.erase(notElevated.messages.begin());
    notElevated.connected = false;
    RunResult pipeOpenFailed = run(7);
    pipeOpenFailed.messages = {msg(WM_ASSISTANT_CONNECTED, 5, 11)};
    pipeOpenFailed.connected = false;
    pipeOpenFailed.result = launch::resultOf(pipeOpenFailed.messages, 7);
    RunResult silent = run(6);
    silent.messages.clear();
    silent.connected = false;
    silent.exitCode = 0;
    RunResult stillSilent = silent;
    stillSilent.exited = false;
    RunResult notWritten = run(7);
    notWritten.requestWritten = false;
    notWritten.exited = false;
    RunResult hanging = run(7, {msg(WM_ASSISTANT_STATUS, 6, 50)});
    hanging.exited = false;
    RunResult crashedNoop = run(6);
    crashedNoop.exitCode = 0xC0000005;
    RunResult resultThenHang = run(7, {msg(WM_ASSISTANT_STATUS, 7, 14)});
    resultThenHang.exited = false;
    // Cut short: by the caller's cancel (Ctrl-C) or by the time limit, each writing Cancel.
    RunResult cancelled = run(3, {msg(WM_ASSISTANT_STATUS, 6, 40), msg(WM_ASSISTANT_STATUS, 3, 0)});
    cancelled.cancelled = true;
    RunResult cancelledBeforeRequest = run(3);
    cancelledBeforeRequest.requestWritten = false;
    cancelledBeforeRequest.cancelled = true;
    RunResult timedOutRunning = run(3, {msg(WM_ASSISTANT_STATUS, 6, 40)});
    timedOutRunning.timedOut = true;
    timedOutRunning.exited = false;
    RunResult timedOutEnded = run(3, {msg(WM_ASSISTANT_STATUS, 6, 40)});
    timedOutEnded.timedOut = true;

    const struct {
        const char* what;
        RunResult run;
        std::int32_t command;
        int status;  // as a shell sees it: Tendril's own codes, or 100 and above, all below 256
        std::string summary;
    } cases[] = {
        {"terminate succeeded", run(7, {msg(WM_ASSISTANT_STATUS, 7, 0)}), 7, 0,
         "command 7 (TerminateProcesses) -> 0 NoError"},
        {"progress then failure",
         run(4, {msg(WM_ASSISTANT_STATUS, 6, 40), msg(WM_ASSISTANT_STATUS, 4, 9)}), 4, 9,
         "command 4 (GrantUsersAccess) -> 9 FolderNotFound"},
        {"code without a name", run(5, {msg(WM_ASSISTANT_STATUS, 5, 3)}), 5, 3,
         "command 5 (ApplyShortcuts) -> 3 (no name)"},
        {"noop ended normally", run(6), 6, 0,
         "command 6 (NoOperation) -> no result message (none is sent for this command); Tendril "
         "ended normally"},
        {"cancel ended normally", run(9), 9, 0,
         "command 9 (Cancel) -> no result message (none is sent for this command); Tendril "
         "ended normally"},
        {"noop whose record could not be read", run(6, {msg(WM_ASSISTANT_STATUS, 6, 12)}), 6, 12,
         "command 6 (NoOperation) -> 12 PipeReadFailed"},
        {"noop that crashed", crashedNoop, 6, 106,
         "no result message: Tendril ended (exit code 3221225477) without sending one -> exit "
         "status 106"},
        {"terminate without a result", run(7, {msg(WM_ASSISTANT_STATUS, 6, 100)}), 7, 106,
         "no result message: Tendril ended (exit code 0) without sending one -> exit status 106"},
        {"pipe not created", pipeNotCreated, 7, 101,
         "no result message: the pipe could not be created: Windows error 231 -> exit status "
         "101"},
        {"not started", notStarted, 7, 102,
         "no result message: tendril.exe could not be started: Windows error 2 -> exit status "
         "102"},
        {"not elevated", notElevated, 7, 103,
         "no result message: Tendril is not elevated (message 2326) -> exit status 103"},
        {"pipe open failed", pipeOpenFailed, 7, 11,
         "Tendril could not open the pipe: Windows error 5 -> 11 PipeOpenFailed"},
        {"ended without a word", silent, 6, 104,
         "no result message: Tendril ended (exit code 0) without announcing itself -> exit "
         "status 104"},
        {"no word before the time limit", stillSilent, 6, 104,
         "no result message: Tendril did not announce itself within 3000 ms -> exit status 104"},
        {"request not written", notWritten, 7, 105,
         "no result message: the request could not be written into the pipe -> exit status 105"},
        {"still running", hanging, 7, 107,
         "no result message: Tendril was still running after 3000 ms -> exit status 107"},
        {"result, then still running", resultThenHang, 7, 14,
         "command 7 (TerminateProcesses) -> 14 TerminateFailed (Tendril was still running after "
         "3000 ms)"},
        {"cancelled, with the result that came after Cancel", cancelled, 3, 108,
         "cancelled (Ctrl-C, Ctrl-Break or a closed console): Cancel written; command 3 "
         "(UninstallClient) -> 0 NoError -> exit status 108"},
        {"cancelled before the request", cancelledBeforeRequest, 3, 108,
         "cancelled (Ctrl-C, Ctrl-Break or a closed console): before the request was written: "
         "Tendril was asked to do nothing -> exit status 108"},
        {"timed out, still running after the grace period", timedOutRunning, 3, 107,
         "timed out after 3000 ms: Cancel written; Tendril was still running at the end of the "
         "grace period, with no result -> exit status 107"},
        {"timed out, ended without a result", timedOutEnded, 3, 107,
         "timed out after 3000 ms: Cancel written; Tendril ended (exit code 0) without a result "
         "-> exit status 107"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = outcomeOf(c.run, c.command, 3000);
        EXPECT_EQ(outcome.exitStatus, c.status) << c.what;
        EXPECT_EQ(outcome.summary, c.summary) << c.what;
    }
}

TEST(Outcome, WindowsErrorsCarryTheirTextWhenOneIsGiven) {
    RunResult notStarted;
    notStarted.pipeCreated = true;
    notStarted.startError = 5;
    const ErrorText text = [](DWORD code) {
        return code == 5 ? std::string("Access denied.") : std::string();
    };
    EXPECT_EQ(outcomeOf(notStarted, 1, 1000, text).summary,
              "no result message: tendril.exe could not be started: Windows error 5 (Access "
              "denied.) -> exit status 102");
    notStarted.startError = 6;
    EXPECT_EQ(outcomeOf(notStarted, 1, 1000, text).summary,
              "no result message: tendril.exe could not be started: Windows error 6 -> exit "
              "status 102");
}

TEST(Outcome, ExitStatusHelpNamesEveryStatus) {
    const std::string help = exitStatusHelp();
    for (int status : {kExitUsage, kExitPipeNotCreated, kExitNotStarted, kExitNotElevated,
                       kExitNoAnswer, kExitRequestNotWritten, kExitNoResult, kExitTimedOut,
                       kExitCancelled})
        EXPECT_NE(help.find("  " + std::to_string(status) + "   "), std::string::npos) << status;
}

}  // namespace
}  // namespace tendril::tool
