#include "session.h"

#include <tendril_launcher/launcher.h>

namespace tendril::test::bad_input {

namespace {

bool exitedWithin(const launch::Handle& process, DWORD ms) {
    return ::WaitForSingleObject(process.get(), ms) == WAIT_OBJECT_0;
}

}  // namespace

Observation playCase(const World& world, const Case& c) {
    Observation seen;
    launch::MessageWindow window;
    launch::LauncherPipe pipe;
    if (c.closing != Closing::BeforeStart) {
        pipe = launch::LauncherPipe::create(world.tendril().fileName());
        if (!pipe.valid()) return seen;
    }
    const ULONGLONG start = ::GetTickCount64();
    launch::Handle process =
        launch::startTendril(world.tendril().path(), launch::windowArgument(window.handle()),
                             launch::StartMethod::RunAs);
    seen.started = static_cast<bool>(process);
    if (!process) return seen;
    seen.processId = ::GetProcessId(process.get());
    const ULONGLONG deadline = start + kRunTimeoutMs;
    auto remaining = [&]() -> DWORD {
        const ULONGLONG now = ::GetTickCount64();
        return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    };

    std::optional<launch::ReceivedMessage> hello;
    while (!hello && remaining() > 0 && !exitedWithin(process, 0))
        hello = window.waitFor(
            [](const launch::ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; },
            20);
    if (hello && hello->lParam == 0 && pipe.waitForClient(remaining())) {
        if (c.closing == Closing::AfterConnect) pipe.close();
        std::size_t at = 0;
        const std::vector<std::size_t> pieces =
            c.pieces.empty() ? std::vector<std::size_t>{c.request.size()} : c.pieces;
        for (std::size_t piece : pieces) {
            if (at > 0 && c.pieceDelayMs > 0) ::Sleep(c.pieceDelayMs);
            if (piece > 0) pipe.write(c.request.data() + at, piece, 5000);
            at += piece;
        }
        if (c.closing == Closing::AfterRequest) pipe.close();
        for (const LaterWrite& w : c.later) {
            if (exitedWithin(process, w.delayMs)) break;
            pipe.write(w.bytes.data(), w.bytes.size(), 1000);
        }
        if (c.closing == Closing::AfterLaterWrites) pipe.close();
    }
    seen.exited = exitedWithin(process, remaining());
    seen.elapsedMs = static_cast<double>(::GetTickCount64() - start);
    if (!seen.exited) {
        // A hang: end it, so that the next case has the pipe name to itself.
        ::TerminateProcess(process.get(), 99);
        exitedWithin(process, 5000);
    } else {
        ::GetExitCodeProcess(process.get(), &seen.exitCode);
    }
    window.drain();
    pipe.close();
    seen.messages = window.messages();
    seen.log = world.tendril().log();
    return seen;
}

}  // namespace tendril::test::bad_input
