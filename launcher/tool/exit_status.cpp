#include "exit_status.h"

#include "commands.h"

namespace tendril::tool {

namespace {

std::string windowsError(DWORD code, const ErrorText& errorText) {
    std::string text = "Windows error " + std::to_string(code);
    const std::string meaning = errorText ? errorText(code) : std::string();
    if (!meaning.empty()) text += " (" + meaning + ")";
    return text;
}

std::string commandText(std::int32_t command) {
    return "command " + std::to_string(command) + " (" + commandName(command) + ")";
}

Outcome noResult(int status, std::string why) {
    Outcome outcome;
    outcome.exitStatus = status;
    outcome.summary = "no result message: " + why + " -> exit status " + std::to_string(status);
    return outcome;
}

bool received(const launch::RunResult& run, UINT message) {
    for (const launch::ReceivedMessage& m : run.messages)
        if (m.message == message) return true;
    return false;
}

std::string exitText(const launch::RunResult& run) {
    return "exit code " + std::to_string(run.exitCode);
}

// A run cut short by the caller's cancel or by the time limit: what became of it after Cancel.
Outcome interrupted(int status, const std::string& why, const launch::RunResult& run,
                    std::int32_t command) {
    Outcome outcome;
    outcome.exitStatus = status;
    std::string what;
    if (!run.requestWritten) {
        what = "before the request was written: Tendril was asked to do nothing";
    } else if (run.result && run.result->first == command) {
        outcome.result = run.result;
        what = "Cancel written; " + commandText(command) + " -> " +
               errorCodeText(run.result->second);
    } else if (run.exited) {
        what = "Cancel written; Tendril ended (" + exitText(run) + ") without a result";
    } else {
        what = "Cancel written; Tendril was still running at the end of the grace period, with "
               "no result";
    }
    outcome.summary = why + ": " + what + " -> exit status " + std::to_string(status);
    return outcome;
}

}  // namespace

std::string exitStatusHelp() {
    return "Exit status:\n"
           "  0-17  the error code of Tendril's result message (0 NoError; 11 PipeOpenFailed: "
           "Tendril could not open the pipe);\n"
           "        0 as well for noop and cancel, which get no result, when Tendril exits "
           "normally\n"
           "  100   the command line was refused (unknown option, text too long for its field, "
           "bad NAME=PATH, a rename value with a double quote)\n"
           "  101   the launcher pipe could not be created (is another launcher of this "
           "tendril.exe running?)\n"
           "  102   tendril.exe could not be started\n"
           "  103   Tendril does not run as an administrator (message 2326)\n"
           "  104   Tendril ended, or the time ran out, before it announced itself\n"
           "  105   Tendril connected, but the request could not be written into the pipe\n"
           "  106   Tendril ended without a result message\n"
           "  107   --timeout ran out: Cancel was written and Tendril given --grace more to "
           "stop; its result, if one\n"
           "        came, is shown (a run cut short: whatever it had done stays done)\n"
           "  108   cancelled by Ctrl-C, Ctrl-Break or a closed console: as for 107 (before "
           "the request was\n"
           "        written: nothing was asked, and Tendril gives up without acting)\n";
}

std::string errorCodeText(std::int32_t code) {
    const char* name = assistantErrorName(code);
    return std::to_string(code) + " " + (name ? name : "(no name)");
}

Outcome outcomeOf(const launch::RunResult& run, std::int32_t command, DWORD timeoutMs,
                  const ErrorText& errorText) {
    if (!run.pipeCreated)
        return noResult(kExitPipeNotCreated,
                        "the pipe could not be created: " + windowsError(run.pipeError, errorText));
    if (!run.started)
        return noResult(kExitNotStarted, "tendril.exe could not be started: " +
                                             windowsError(run.startError, errorText));
    if (received(run, WM_ASSISTANT_NOT_ELEVATED))
        return noResult(kExitNotElevated, "Tendril is not elevated (message 2326)");

    for (const launch::ReceivedMessage& m : run.messages) {
        if (m.message == WM_ASSISTANT_CONNECTED && m.lParam == PipeOpenFailed) {
            Outcome outcome;
            outcome.exitStatus = PipeOpenFailed;
            outcome.result = std::pair<std::int32_t, std::int32_t>(0, PipeOpenFailed);
            outcome.summary = "Tendril could not open the pipe: " +
                              windowsError(static_cast<DWORD>(m.wParam), errorText) + " -> " +
                              errorCodeText(PipeOpenFailed);
            return outcome;
        }
    }

    if (run.cancelled)
        return interrupted(kExitCancelled, "cancelled (Ctrl-C, Ctrl-Break or a closed console)",
                           run, command);
    if (run.timedOut)
        return interrupted(kExitTimedOut,
                           "timed out after " + std::to_string(timeoutMs) + " ms", run, command);

    if (run.result && run.result->first == command) {
        Outcome outcome;
        outcome.result = run.result;
        outcome.exitStatus = run.result->second;
        outcome.summary = commandText(command) + " -> " + errorCodeText(run.result->second);
        if (!run.exited)
            outcome.summary +=
                " (Tendril was still running after " + std::to_string(timeoutMs) + " ms)";
        return outcome;
    }

    if (!run.connected)
        return noResult(kExitNoAnswer, run.exited ? "Tendril ended (" + exitText(run) +
                                                        ") without announcing itself"
                                                  : "Tendril did not announce itself within " +
                                                        std::to_string(timeoutMs) + " ms");
    if (!run.requestWritten)
        return noResult(kExitRequestNotWritten, "the request could not be written into the pipe");
    if (!run.exited)
        return noResult(kExitTimedOut,
                        "Tendril was still running after " + std::to_string(timeoutMs) + " ms");

    const CommandInfo* info = commandByCode(command);
    if (info && !info->sendsResult && run.exitCode == 0) {
        Outcome outcome;
        outcome.exitStatus = 0;
        outcome.summary = commandText(command) +
                          " -> no result message (none is sent for this command); Tendril ended "
                          "normally";
        return outcome;
    }
    return noResult(kExitNoResult, "Tendril ended (" + exitText(run) + ") without sending one");
}

}  // namespace tendril::tool
