// tendril_launcher.dll: the C interface of tendril_launcher.h over the launcher library.
//
// A run is one object that owns one thread; that thread does what runCommand does, with no time
// limit of its own: the caller's tendril_wait decides when to give up, tendril_cancel when to
// stop. Every message is queued for tendril_next_message and handed to the caller's callback on
// the library's window thread. Nothing thrown inside crosses an exported function: each one
// catches everything and answers with its documented failure.
#include <tendril_launcher/tendril_launcher.h>

#include <tendril/protocol.h>
#include <tendril_launcher/launcher.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using tendril::AssistantRequest;
using tendril::RequestEntry;

// The records the caller fills are written to the pipe as they are: they must be the wire records
// field by field, in 32-bit and 64-bit builds alike.
#define TENDRIL_SAME_FIELD(CType, WireType, field)                       \
    static_assert(offsetof(CType, field) == offsetof(WireType, field) && \
                      sizeof(CType::field) == sizeof(WireType::field),   \
                  #CType "." #field " differs from the wire record")
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, reserved);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, installFolder);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, reservedText);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, shortName);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, longName);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, iconName);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, regPath);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, helpLink);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, urlInfoAbout);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, urlUpdateInfo);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, shortcutFolder);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, exeName);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, argument);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, programsShortcuts);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, iconShortcutFlag);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, startMenuShortcuts);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, padding);
TENDRIL_SAME_FIELD(TendrilRequest, AssistantRequest, entryCount);
static_assert(sizeof(TendrilRequest) == sizeof(AssistantRequest) && sizeof(TendrilRequest) == 5148);
TENDRIL_SAME_FIELD(TendrilEntry, RequestEntry, name);
TENDRIL_SAME_FIELD(TendrilEntry, RequestEntry, path);
TENDRIL_SAME_FIELD(TendrilEntry, RequestEntry, create);
TENDRIL_SAME_FIELD(TendrilEntry, RequestEntry, padding);
static_assert(sizeof(TendrilEntry) == sizeof(RequestEntry) && sizeof(TendrilEntry) == 654);
#undef TENDRIL_SAME_FIELD

// The two records of this interface alone, as the header states them (and as a C# declaration
// with sequential layout sees them): no padding anywhere, 32 bytes in both builds.
static_assert(offsetof(TendrilMessage, message) == 0 && offsetof(TendrilMessage, reserved) == 4 &&
              offsetof(TendrilMessage, wParam) == 8 && offsetof(TendrilMessage, lParam) == 16 &&
              offsetof(TendrilMessage, atMs) == 24 && sizeof(TendrilMessage) == 32);
static_assert(offsetof(TendrilOutcome, kind) == 0 && offsetof(TendrilOutcome, hasResult) == 4 &&
              offsetof(TendrilOutcome, resultCommand) == 8 &&
              offsetof(TendrilOutcome, resultCode) == 12 &&
              offsetof(TendrilOutcome, windowsError) == 16 &&
              offsetof(TendrilOutcome, tendrilProcessId) == 20 &&
              offsetof(TendrilOutcome, exited) == 24 && offsetof(TendrilOutcome, exitCode) == 28 &&
              sizeof(TendrilOutcome) == 32);

// The header's numbers are the protocol's.
constexpr bool same(long long a, long long b) { return a == b; }
static_assert(same(TENDRIL_REFRESH_REGISTRATION, tendril::RefreshRegistration) &&
              same(TENDRIL_INSTALL_RUNTIME_UPDATE, tendril::InstallRuntimeUpdate) &&
              same(TENDRIL_UNINSTALL_CLIENT, tendril::UninstallClient) &&
              same(TENDRIL_GRANT_USERS_ACCESS, tendril::GrantUsersAccess) &&
              same(TENDRIL_APPLY_SHORTCUTS, tendril::ApplyShortcuts) &&
              same(TENDRIL_NO_OPERATION, tendril::NoOperation) &&
              same(TENDRIL_TERMINATE_PROCESSES, tendril::TerminateProcesses) &&
              same(TENDRIL_SET_LONG_NAME, tendril::SetLongName) &&
              same(TENDRIL_CANCEL, tendril::Cancel));
static_assert(same(TENDRIL_NO_ERROR, tendril::NoError) &&
              same(TENDRIL_INSTALL_FOLDER_UNAVAILABLE, tendril::InstallFolderUnavailable) &&
              same(TENDRIL_INSTALL_FOLDER_TOO_SHORT, tendril::InstallFolderTooShort) &&
              same(TENDRIL_ACCESS_NOT_GRANTED, tendril::AccessNotGranted) &&
              same(TENDRIL_UNINSTALL_KEY_NOT_CREATED, tendril::UninstallKeyNotCreated) &&
              same(TENDRIL_NO_FREE_INSTALL_SLOT, tendril::NoFreeInstallSlot) &&
              same(TENDRIL_INSTALL_RECORD_NOT_STORED, tendril::InstallRecordNotStored) &&
              same(TENDRIL_INSTALL_RECORD_NOT_REMOVED, tendril::InstallRecordNotRemoved) &&
              same(TENDRIL_FOLDER_NOT_FOUND, tendril::FolderNotFound) &&
              same(TENDRIL_SECURITY_DESCRIPTOR_FAILED, tendril::SecurityDescriptorFailed) &&
              same(TENDRIL_PIPE_OPEN_FAILED, tendril::PipeOpenFailed) &&
              same(TENDRIL_PIPE_READ_FAILED, tendril::PipeReadFailed) &&
              same(TENDRIL_BAD_COMMAND, tendril::BadCommand) &&
              same(TENDRIL_TERMINATE_FAILED, tendril::TerminateFailed) &&
              same(TENDRIL_UPDATE_LAUNCH_FAILED, tendril::UpdateLaunchFailed) &&
              same(TENDRIL_UPDATE_WAIT_FAILED, tendril::UpdateWaitFailed) &&
              same(TENDRIL_UPDATE_EXIT_CODE_NON_ZERO, tendril::UpdateExitCodeNonZero));
static_assert(same(TENDRIL_WM_CONNECTED, tendril::WM_ASSISTANT_CONNECTED) &&
              same(TENDRIL_WM_STATUS, tendril::WM_ASSISTANT_STATUS) &&
              same(TENDRIL_WM_NOT_ELEVATED, tendril::WM_ASSISTANT_NOT_ELEVATED) &&
              same(TENDRIL_STATUS_PROGRESS, tendril::STATUS_PROGRESS));

namespace launch = tendril::launch;

// Set while this thread runs a caller's callback for that run: tendril_run_close called from
// there must not wait for the thread that is calling it.
thread_local const TendrilRun* callbackOf = nullptr;

}  // namespace

struct TendrilRun {
    launch::Request request;
    std::wstring tendrilPath;
    TendrilMessageCallback onMessage = nullptr;
    void* context = nullptr;

    // Manual-reset events. cancel: the caller's cancel (or the time-out's); abandon: stop waiting
    // for Tendril's end at once; finished: the run's thread has returned.
    launch::Handle cancel, abandon, finished;

    std::mutex mutex;
    std::condition_variable arrived;                // a message was queued, or the run ended
    std::deque<TendrilMessage> queue;               // not yet taken by tendril_next_message
    std::vector<launch::ReceivedMessage> received;  // every message so far, for the outcome
    bool ended = false;
    bool timedOut = false;          // tendril_wait's time ran out and it cancelled the run
    bool releaseWhenEnded = false;  // closed from a callback: the thread releases the run
    launch::RunResult result;       // once ended
    DWORD failure = 0;              // the library's own failure that ended the run early

    std::thread thread;
};

namespace {

TendrilMessage toMessage(const launch::ReceivedMessage& m) {
    TendrilMessage message{};
    message.message = m.message;
    message.wParam = m.wParam;
    message.lParam = m.lParam;
    message.atMs = m.atMs;
    return message;
}

// On the window's thread, for each message in order.
void deliver(TendrilRun* run, const launch::ReceivedMessage& received) noexcept {
    const TendrilMessage message = toMessage(received);
    try {
        std::lock_guard<std::mutex> lock(run->mutex);
        run->queue.push_back(message);
        run->received.push_back(received);
    } catch (...) {
        // Out of memory: the message still reaches the callback and the run's outcome.
    }
    run->arrived.notify_all();
    if (!run->onMessage) return;
    callbackOf = run;
    try {
        run->onMessage(run->context, &message);
    } catch (...) {
        // A callback must not throw; should one, it stops here and not in the window procedure.
    }
    callbackOf = nullptr;
}

void serve(TendrilRun* run) noexcept {
    launch::RunResult result;
    DWORD failure = 0;
    try {
        launch::RunOptions options;
        options.tendrilPath = run->tendrilPath;
        options.method = launch::StartMethod::RunAs;
        options.cancelEvent = run->cancel.get();
        options.abandonEvent = run->abandon.get();
        // No limit here: tendril_wait sets cancel when its time runs out and waits the grace
        // itself; only tendril_run_close, through abandon, stops the wait for the end.
        options.timeoutMs = INFINITE;
        options.graceMs = INFINITE;
        options.onMessage = [run](const launch::ReceivedMessage& m) { deliver(run, m); };
        result = launch::runCommand(options, run->request);
    } catch (const std::bad_alloc&) {
        failure = ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::system_error& e) {
        failure =
            e.code().value() != 0 ? static_cast<DWORD>(e.code().value()) : ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        failure = ERROR_INTERNAL_ERROR;
    }
    bool release = false;
    {
        std::lock_guard<std::mutex> lock(run->mutex);
        run->result = std::move(result);
        run->failure = failure;
        run->ended = true;
        release = run->releaseWhenEnded;
    }
    run->arrived.notify_all();
    ::SetEvent(run->finished.get());
    if (release) {
        run->thread.detach();
        delete run;
    }
}

// The outcome as it stands; the caller holds run->mutex.
TendrilOutcome outcomeOf(const TendrilRun& run) {
    TendrilOutcome outcome{};
    const std::vector<launch::ReceivedMessage>& messages =
        run.ended ? run.result.messages : run.received;
    bool notElevated = false;
    for (const launch::ReceivedMessage& m : messages) {
        if (m.message == tendril::WM_ASSISTANT_NOT_ELEVATED) notElevated = true;
        if (m.message == tendril::WM_ASSISTANT_CONNECTED && m.lParam == 0 &&
            outcome.tendrilProcessId == 0)
            outcome.tendrilProcessId = static_cast<std::uint32_t>(m.wParam);
    }
    // resultOf counts the not-elevated message as (0, 2326); that is no result message.
    const auto result = launch::resultOf(messages, run.request.command);
    if (result &&
        !(result->first == 0 &&
          result->second == static_cast<std::int32_t>(tendril::WM_ASSISTANT_NOT_ELEVATED))) {
        outcome.hasResult = 1;
        outcome.resultCommand = result->first;
        outcome.resultCode = result->second;
    }
    if (!run.ended) {
        outcome.kind = TENDRIL_OUTCOME_RUNNING;
        return outcome;
    }
    outcome.exited = run.result.exited ? 1 : 0;
    outcome.exitCode = run.result.exited ? run.result.exitCode : 0;
    if (run.failure != 0) {
        outcome.kind = TENDRIL_OUTCOME_FAILED_TO_START;
        outcome.windowsError = run.failure;
    } else if (!run.result.started) {
        outcome.kind = TENDRIL_OUTCOME_FAILED_TO_START;
        outcome.windowsError =
            run.result.pipeError != 0 ? run.result.pipeError : run.result.startError;
    } else if (run.result.cancelled) {
        outcome.kind = run.timedOut ? TENDRIL_OUTCOME_TIMED_OUT : TENDRIL_OUTCOME_CANCELLED;
    } else if (notElevated) {
        outcome.kind = TENDRIL_OUTCOME_NOT_ELEVATED;
    } else {
        outcome.kind = outcome.hasResult ? TENDRIL_OUTCOME_RESULT : TENDRIL_OUTCOME_NO_RESULT;
    }
    return outcome;
}

int32_t kindOf(TendrilRun* run) {
    std::lock_guard<std::mutex> lock(run->mutex);
    return outcomeOf(*run).kind;
}

bool finished(const TendrilRun* run, DWORD timeoutMs) {
    return ::WaitForSingleObject(run->finished.get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace

extern "C" {

const char* TENDRIL_CALL tendril_version(void) { return TENDRIL_VERSION; }

const char* TENDRIL_CALL tendril_error_name(int32_t code) {
    return tendril::assistantErrorName(code);
}

const char* TENDRIL_CALL tendril_outcome_name(int32_t kind) {
    switch (kind) {
        case TENDRIL_OUTCOME_RUNNING:
            return "running";
        case TENDRIL_OUTCOME_RESULT:
            return "result";
        case TENDRIL_OUTCOME_NO_RESULT:
            return "no result";
        case TENDRIL_OUTCOME_NOT_ELEVATED:
            return "not elevated";
        case TENDRIL_OUTCOME_CANCELLED:
            return "cancelled";
        case TENDRIL_OUTCOME_TIMED_OUT:
            return "timed out";
        case TENDRIL_OUTCOME_FAILED_TO_START:
            return "failed to start";
    }
    return nullptr;
}

int32_t TENDRIL_CALL tendril_set_text(wchar_t* field, uint32_t fieldLength, const wchar_t* text) {
    if (field == nullptr || fieldLength == 0) return 0;
    // Measured before the field is touched: text may lie inside it.
    const std::size_t length = text != nullptr ? ::wcsnlen(text, fieldLength) : fieldLength;
    if (length >= fieldLength) {
        std::memset(field, 0, fieldLength * sizeof(wchar_t));
        return 0;
    }
    std::memmove(field, text, length * sizeof(wchar_t));
    std::memset(field + length, 0, (fieldLength - length) * sizeof(wchar_t));
    return 1;
}

TendrilRun* TENDRIL_CALL tendril_run_start(const wchar_t* tendrilPath, int32_t command,
                                           const TendrilRequest* request,
                                           const TendrilEntry* entries, int32_t entryCount,
                                           TendrilMessageCallback onMessage, void* context) {
    const bool codeAlone = command == TENDRIL_INSTALL_RUNTIME_UPDATE;
    if (tendrilPath == nullptr || *tendrilPath == L'\0' || entryCount < 0 ||
        (entryCount > 0 && entries == nullptr) || (request == nullptr && !codeAlone))
        return nullptr;
    // A list larger than the address space cannot be the caller's array.
    if (static_cast<std::uint64_t>(entryCount) * sizeof(TendrilEntry) > SIZE_MAX) return nullptr;
    try {
        auto* run = new TendrilRun;
        std::unique_ptr<TendrilRun> owner(run);
        run->tendrilPath = tendrilPath;
        run->onMessage = onMessage;
        run->context = context;
        run->request.command = command;
        if (!codeAlone) {
            std::memcpy(&run->request.record, request, sizeof(AssistantRequest));
            run->request.entries.resize(static_cast<std::size_t>(entryCount));
            if (entryCount > 0)
                std::memcpy(run->request.entries.data(), entries,
                            static_cast<std::size_t>(entryCount) * sizeof(RequestEntry));
        }
        for (launch::Handle* event : {&run->cancel, &run->abandon, &run->finished}) {
            *event = launch::Handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!*event) return nullptr;
        }
        run->thread = std::thread(serve, run);
        return owner.release();
    } catch (...) {
        return nullptr;
    }
}

int32_t TENDRIL_CALL tendril_next_message(TendrilRun* run, TendrilMessage* message,
                                          uint32_t timeoutMs) {
    if (run == nullptr || message == nullptr) return -1;
    try {
        std::unique_lock<std::mutex> lock(run->mutex);
        auto ready = [run] { return !run->queue.empty() || run->ended; };
        if (timeoutMs == TENDRIL_INFINITE)
            run->arrived.wait(lock, ready);
        else
            run->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        if (!run->queue.empty()) {
            *message = run->queue.front();
            run->queue.pop_front();
            return 1;
        }
        return run->ended ? -1 : 0;
    } catch (...) {
        return 0;
    }
}

void TENDRIL_CALL tendril_cancel(TendrilRun* run) {
    if (run != nullptr) ::SetEvent(run->cancel.get());
}

int32_t TENDRIL_CALL tendril_wait(TendrilRun* run, uint32_t timeoutMs, uint32_t graceMs) {
    if (run == nullptr) return TENDRIL_OUTCOME_FAILED_TO_START;
    try {
        const DWORD grace = graceMs != 0 ? graceMs : TENDRIL_DEFAULT_GRACE_MS;
        const HANDLE waits[2] = {run->finished.get(), run->cancel.get()};
        const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
        if (woke == WAIT_TIMEOUT) {
            {
                std::lock_guard<std::mutex> lock(run->mutex);
                if (!run->ended && ::WaitForSingleObject(run->cancel.get(), 0) != WAIT_OBJECT_0)
                    run->timedOut = true;
            }
            ::SetEvent(run->cancel.get());
        }
        if (woke != WAIT_OBJECT_0) finished(run, grace);
        return kindOf(run);
    } catch (...) {
        return TENDRIL_OUTCOME_RUNNING;
    }
}

void TENDRIL_CALL tendril_get_outcome(TendrilRun* run, TendrilOutcome* outcome) {
    if (run == nullptr || outcome == nullptr) return;
    try {
        std::lock_guard<std::mutex> lock(run->mutex);
        *outcome = outcomeOf(*run);
    } catch (...) {
        *outcome = TendrilOutcome{};
    }
}

void TENDRIL_CALL tendril_run_close(TendrilRun* run) {
    if (run == nullptr) return;
    try {
        if (callbackOf == run) {
            // From the run's own callback the thread cannot be waited for: it waits for us.
            // Cancel, and let the thread release the run when it ends.
            ::SetEvent(run->cancel.get());
            std::lock_guard<std::mutex> lock(run->mutex);
            run->releaseWhenEnded = true;
            return;
        }
        if (!finished(run, 0)) {
            ::SetEvent(run->cancel.get());
            finished(run, TENDRIL_DEFAULT_GRACE_MS);
        }
        ::SetEvent(run->abandon.get());
        if (run->thread.joinable()) run->thread.join();
        delete run;
    } catch (...) {
        // join cannot fail here (another thread, joinable); nothing else throws.
    }
}

}  // extern "C"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // Unloaded by FreeLibrary (not at process exit): no window of ours is left once every run
    // was closed, and a class whose window procedure is gone must not stay registered.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        launch::MessageWindow::unregisterClass();
    return TRUE;
}
