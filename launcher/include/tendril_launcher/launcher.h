// The launcher side of Tendril: what a launcher does to have one command carried out.
//
// A launcher creates the pipe named after Tendril's executable, keeps a window that receives
// Tendril's messages, starts Tendril elevated with that window's handle, writes the command, the
// request record and its entries once Tendril has announced itself, may write Cancel while the
// command runs, and collects every message until Tendril exits.
#pragma once

#include <tendril/protocol.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tendril::launch {

// Owners of the handles the launcher side keeps.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { reset(); }
    Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = o.h_;
            o.h_ = nullptr;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset() {
        if (h_) ::CloseHandle(h_);
        h_ = nullptr;
    }

private:
    HANDLE h_ = nullptr;
};

// One message received from Tendril, with the time it arrived (ms since the window was created).
struct ReceivedMessage {
    UINT message = 0;
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;
    double atMs = 0;
};

// A message-only window on a thread of its own that records every message Tendril sends.
class MessageWindow {
public:
    MessageWindow();
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND handle() const { return window_; }
    bool valid() const { return window_ != nullptr; }
    // Why the window could not be created (0 when it was).
    DWORD error() const { return error_; }

    // The window class belongs to the module this library is linked into. A DLL that holds the
    // library unregisters it when it is unloaded, once no window of it is left.
    static void unregisterClass();

    // Called on the window's thread for each message as it arrives.
    void setListener(std::function<void(const ReceivedMessage&)> listener);

    // Waits until a recorded message satisfies the predicate; the message, or nothing on timeout.
    std::optional<ReceivedMessage> waitFor(const std::function<bool(const ReceivedMessage&)>& match,
                                           DWORD timeoutMs);
    // Returns once every message sent to the window before this call has been recorded.
    void drain();
    std::vector<ReceivedMessage> messages() const;

private:
    void run();
    static HINSTANCE module();
    static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);

    std::thread thread_;
    HWND window_ = nullptr;
    DWORD error_ = 0;
    DWORD threadId_ = 0;
    std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ReceivedMessage> messages_;
    std::function<void(const ReceivedMessage&)> listener_;
    std::uint64_t drained_ = 0;
    bool ready_ = false;
};

// The server end of "\\.\pipe\launcher_<file name>": the first and only instance, byte mode,
// remote clients rejected, and open to the current user, Administrators and SYSTEM only.
class LauncherPipe {
public:
    LauncherPipe() = default;
    ~LauncherPipe() { close(); }
    // Move only before a client is awaited: a pending connect refers to this object.
    LauncherPipe(LauncherPipe&&) = default;
    LauncherPipe& operator=(LauncherPipe&&) = default;
    // Creates the pipe for an executable file name (for example L"tendril.exe"). On failure the
    // object is empty and error() tells why.
    static LauncherPipe create(const std::wstring& exeFileName);
    static std::wstring nameFor(const std::wstring& exeFileName);

    bool valid() const { return static_cast<bool>(pipe_); }
    DWORD error() const { return error_; }
    HANDLE handle() const { return pipe_.get(); }
    const std::wstring& name() const { return name_; }

    // Waits for the client's open; true when a client is connected.
    bool waitForClient(DWORD timeoutMs);
    // Writes all bytes (waiting while the pipe is full, at most timeoutMs in all). A stop event,
    // when given and set, ends the wait too: false, and error() is ERROR_OPERATION_ABORTED.
    bool write(const void* data, std::size_t size, DWORD timeoutMs = 30000, HANDLE stop = nullptr);
    // Drops the connected client so that the instance can be waited for again.
    void disconnectClient();
    // Closes our end; Tendril can still read what was written and then sees the pipe broken.
    void close();

private:
    Handle pipe_;
    Handle connectEvent_;
    OVERLAPPED connect_{};
    bool connectPending_ = false;
    bool connected_ = false;
    DWORD error_ = 0;
    std::wstring name_;
};

// How Tendril is started. A launcher uses RunAs, the only start tendril_launcher.dll offers; the
// other two serve the tests and tendril-launch's --start, to watch Tendril started unelevated.
enum class StartMethod {
    RunAs,            // ShellExecuteExW with the "runas" verb, as a launcher does on Windows
    CreateProcess,    // a plain CreateProcessW (tests)
    RestrictedToken,  // CreateProcessAsUserW with Administrators disabled (tests: not elevated)
};

// Starts Tendril with the given command-line parameters (normally the window handle in decimal).
// The process handle, or an empty Handle with the thread's last error set.
Handle startTendril(const std::wstring& tendrilPath, const std::wstring& parameters,
                    StartMethod method);

// The decimal text of a window handle, as Tendril parses it back (32 bits, sign-extended).
std::wstring windowArgument(HWND window);

// A request as a launcher writes it. The record is zero-filled; text fields are set with setText.
struct Request {
    std::int32_t command = NoOperation;
    AssistantRequest record{};
    std::vector<RequestEntry> entries;

    // Copies text into a field and zero-fills the rest. Text that does not fit with its
    // terminating NUL is refused: the field is left empty and false comes back. A path cut to
    // fit could name another folder, which Tendril would then change as administrator.
    template <std::size_t N>
    static bool setText(wchar_t (&field)[N], const std::wstring& text) {
        for (wchar_t& unit : field) unit = L'\0';
        if (text.size() > N - 1) return false;
        text.copy(field, text.size());
        return true;
    }
    // An entry; a name or path too long for its field is left empty (see setText).
    static RequestEntry entry(const std::wstring& name, const std::wstring& path, bool create);

    // The bytes a launcher writes: the code, then for every command but 2 the record (with
    // entryCount set to the number of entries) and the entries.
    std::string serialize() const;
};

// What a run needs. Tests that play a misbehaving launcher use TestRunOptions
// (tendril_launcher/testing.h), which adds the knobs for that.
struct RunOptions {
    std::wstring tendrilPath;
    StartMethod method = StartMethod::RunAs;
    // Write Cancel this many ms after the request (negative: never).
    int cancelAfterMs = -1;
    // The caller's cancel: an event (owned by the caller) that, once set, has Cancel written as
    // soon as the request is (or the start abandoned before it), then waits graceMs for the end.
    HANDLE cancelEvent = nullptr;
    // The limit for the run. When it runs out Cancel is written and Tendril gets graceMs more to
    // send its result and end: an elevated Tendril cannot be ended from here.
    DWORD timeoutMs = 120000;
    DWORD graceMs = 10000;
    // Called on the window's thread for each message as it arrives.
    std::function<void(const ReceivedMessage&)> onMessage;
    // For a caller that goes away: an event (owned by the caller) that, once set, ends the last
    // wait for Tendril's end at once, grace period or not. The run then returns with exited false.
    // Set it after cancelEvent: it does not write Cancel itself.
    HANDLE abandonEvent = nullptr;
};

struct RunResult {
    bool started = false;        // the process was created
    DWORD startError = 0;        // why not (also why the window, made before, could not be)
    bool pipeCreated = false;    // the pipe existed before the start
    DWORD pipeError = 0;
    bool connected = false;      // WM_ASSISTANT_CONNECTED with lParam 0 arrived
    DWORD tendrilProcessId = 0;  // its wParam
    bool requestWritten = false;
    bool cancelled = false;      // the caller's cancelEvent was set and Cancel written (or the
                                 // start abandoned before the request)
    bool timedOut = false;       // timeoutMs ran out: Cancel was written, graceMs waited
    bool exited = false;         // the process ended within the time limit
    DWORD exitCode = 0;
    std::vector<ReceivedMessage> messages;  // every message, in order
    // The result message (command code, error code), when one arrived.
    std::optional<std::pair<std::int32_t, std::int32_t>> result;
};

// Runs one command from start to exit as a launcher does.
RunResult runCommand(const RunOptions& options, const Request& request);

// The final result of a message list: the last WM_ASSISTANT_STATUS whose wParam is not 6 (or
// whose wParam is 6 with lParam 12, a failed read of command 6), a WM_ASSISTANT_CONNECTED failure
// as (0, 11), or WM_ASSISTANT_NOT_ELEVATED as (0, 2326).
std::optional<std::pair<std::int32_t, std::int32_t>> resultOf(
    const std::vector<ReceivedMessage>& messages, std::int32_t command);

// The file name part of a path.
std::wstring fileNameOf(const std::wstring& path);

}  // namespace tendril::launch
