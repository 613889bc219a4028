#include <tendril_launcher/launcher.h>
#include <tendril_launcher/testing.h>

#include <algorithm>

namespace tendril::launch {

std::optional<std::pair<std::int32_t, std::int32_t>> resultOf(
    const std::vector<ReceivedMessage>& messages, std::int32_t command) {
    std::optional<std::pair<std::int32_t, std::int32_t>> result;
    for (const ReceivedMessage& m : messages) {
        if (m.message == WM_ASSISTANT_NOT_ELEVATED) {
            result = std::pair<std::int32_t, std::int32_t>(0, WM_ASSISTANT_NOT_ELEVATED);
        } else if (m.message == WM_ASSISTANT_CONNECTED && m.lParam == PipeOpenFailed) {
            result = std::pair<std::int32_t, std::int32_t>(0, PipeOpenFailed);
        } else if (m.message == WM_ASSISTANT_STATUS && m.wParam == command &&
                   (command != STATUS_PROGRESS || m.lParam == PipeReadFailed)) {
            result = std::pair<std::int32_t, std::int32_t>(static_cast<std::int32_t>(m.wParam),
                                                           static_cast<std::int32_t>(m.lParam));
        }
    }
    return result;
}

namespace {

// One run from start to exit; test holds the knobs of TestRunOptions, or is null.
RunResult run(const RunOptions& options, const Request& request, const TestRunOptions* test) {
    RunResult result;
    MessageWindow window;
    if (!window.valid()) {
        // Without a window Tendril could be started with nowhere to report to.
        result.startError = window.error();
        return result;
    }
    if (options.onMessage) window.setListener(options.onMessage);

    LauncherPipe pipe = LauncherPipe::create(fileNameOf(options.tendrilPath));
    result.pipeCreated = pipe.valid();
    result.pipeError = pipe.error();
    if (!pipe.valid()) return result;

    const std::wstring parameters =
        test && test->parameters ? *test->parameters : windowArgument(window.handle());
    Handle process = startTendril(options.tendrilPath, parameters, options.method);
    result.started = static_cast<bool>(process);
    if (!process) {
        result.startError = ::GetLastError();
        return result;
    }
    const ULONGLONG deadline = ::GetTickCount64() + options.timeoutMs;
    auto remaining = [&]() -> DWORD {
        const ULONGLONG now = ::GetTickCount64();
        return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    };

    auto cancelSet = [&]() {
        return options.cancelEvent &&
               ::WaitForSingleObject(options.cancelEvent, 0) == WAIT_OBJECT_0;
    };
    auto writeCancel = [&]() {
        const std::int32_t cancel = Cancel;
        pipe.write(&cancel, sizeof cancel, 1000);
    };

    // Wait for Tendril to announce itself (or to give up, or to exit without a word).
    std::optional<ReceivedMessage> hello;
    while (!hello && remaining() > 0) {
        hello = window.waitFor(
            [](const ReceivedMessage& m) {
                return m.message == WM_ASSISTANT_CONNECTED || m.message == WM_ASSISTANT_NOT_ELEVATED;
            },
            50);
        if (!hello && ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) break;
        if (!hello && cancelSet()) {
            // Nothing was asked yet: closing the pipe makes Tendril give up without acting.
            result.cancelled = true;
            pipe.close();
            break;
        }
    }
    if (hello && hello->message == WM_ASSISTANT_CONNECTED && hello->lParam == 0) {
        result.connected = true;
        result.tendrilProcessId = static_cast<DWORD>(hello->wParam);
        // Tendril opens the pipe before it announces itself, so the client is normally there
        // already; the cancel is still watched while it is waited for.
        bool client = false;
        while (!cancelSet() && !(client = pipe.waitForClient(std::min<DWORD>(remaining(), 50))) &&
               pipe.error() == 0 && remaining() > 0 &&
               ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
        }
        if (!client && cancelSet()) {
            result.cancelled = true;
            pipe.close();
        } else if (client) {
            const std::string bytes =
                test && test->rawRequest ? *test->rawRequest : request.serialize();
            // A Tendril that stops reading must not hold the caller's cancel up.
            result.requestWritten =
                pipe.write(bytes.data(), bytes.size(), remaining(), options.cancelEvent);
            if (!result.requestWritten && cancelSet()) {
                // Part of the request went: Tendril fails its read and gives up without acting.
                result.cancelled = true;
                pipe.close();
            }
            if (test && test->closeAfterRequest) pipe.close();
        }
    }
    if (result.requestWritten) {
        // While Tendril works: the caller's cancel, the scheduled cancel and the time limit.
        const ULONGLONG cancelAt = options.cancelAfterMs >= 0
                                       ? ::GetTickCount64() + options.cancelAfterMs
                                       : ~0ull;
        bool cancelWritten = false;
        HANDLE waits[2] = {process.get(), options.cancelEvent};
        const DWORD count = options.cancelEvent ? 2 : 1;
        for (;;) {
            DWORD wait = remaining();
            if (!cancelWritten && cancelAt != ~0ull) {
                const ULONGLONG now = ::GetTickCount64();
                wait = std::min<DWORD>(wait, now >= cancelAt ? 0 : static_cast<DWORD>(cancelAt - now));
            }
            const DWORD woke = ::WaitForMultipleObjects(count, waits, FALSE, wait);
            if (woke == WAIT_OBJECT_0) break;
            if (woke == WAIT_OBJECT_0 + 1 || remaining() == 0) {
                (woke == WAIT_OBJECT_0 + 1 ? result.cancelled : result.timedOut) = true;
                if (!cancelWritten) writeCancel();
                break;
            }
            if (woke != WAIT_TIMEOUT) break;  // a handle we cannot wait on: stop waiting on it
            if (!cancelWritten && ::GetTickCount64() >= cancelAt) {
                writeCancel();
                cancelWritten = true;
            }
        }
    }

    const DWORD lastWait = result.cancelled || result.timedOut ? options.graceMs : remaining();
    const HANDLE ends[2] = {process.get(), options.abandonEvent};
    result.exited = ::WaitForMultipleObjects(options.abandonEvent ? 2 : 1, ends, FALSE, lastWait) ==
                    WAIT_OBJECT_0;
    if (result.exited) ::GetExitCodeProcess(process.get(), &result.exitCode);
    window.drain();
    pipe.close();
    result.messages = window.messages();
    result.result = resultOf(result.messages, request.command);
    return result;
}

}  // namespace

RunResult runCommand(const RunOptions& options, const Request& request) {
    return run(options, request, nullptr);
}

RunResult runCommand(const TestRunOptions& options, const Request& request) {
    return run(options, request, &options);
}

}  // namespace tendril::launch
