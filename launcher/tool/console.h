// What tendril-launch does with its console: how it shows output there, the output code page it
// borrows, and the control events (Ctrl-C, Ctrl-Break, a closed console) that cancel a run.
#pragma once

#include <tendril_launcher/launcher.h>

#include <windows.h>

#include <functional>
#include <mutex>

namespace tendril::tool {

// True when the handle is a console screen buffer (GetConsoleMode succeeds on it); false for a
// file, a pipe, the null device or no handle at all.
bool isConsole(HANDLE handle);

// Sets the console's output code page to UTF-8 for the life of the object and puts the previous
// one back when it ends. Without a console nothing is changed.
class ConsoleOutputCodePage {
public:
    ConsoleOutputCodePage();
    ~ConsoleOutputCodePage();
    ConsoleOutputCodePage(const ConsoleOutputCodePage&) = delete;
    ConsoleOutputCodePage& operator=(const ConsoleOutputCodePage&) = delete;

private:
    UINT previous_ = 0;  // 0: nothing to put back
};

// Turns the console's control events into a cancel of the run. Ctrl-C and Ctrl-Break set the
// cancel event and are handled: the process goes on, writes Cancel, waits for Tendril's result
// and shows it. A closed console (and a shut-down) ends the process as soon as the handler
// returns, so the handler sets the event and then holds until runEnded(): the run writes Cancel
// at once, and an uninstall that was running elevated stops instead of going on unseen.
class ConsoleControl {
public:
    ConsoleControl();
    ConsoleControl(const ConsoleControl&) = delete;
    ConsoleControl& operator=(const ConsoleControl&) = delete;

    // The object the installed handler serves. It is never destroyed: Windows calls the handler
    // on a thread of its own at any moment, also while the process exits.
    static ConsoleControl& forProcess();
    // Installs the handler that passes every event to forProcess(); false when it cannot.
    static bool install();

    // Manual-reset; set by the first event that cancels. Owned by this object.
    HANDLE cancelEvent() const { return cancel_.get(); }
    // Called once, with the event's name ("Ctrl-C"), when an event first cancels the run; on the
    // handler's thread, never after runEnded().
    void onCancel(std::function<void(const char* event)> notice);
    // The run is over and its result shown: no notice any more, and a held handler returns.
    void runEnded();

    // What the handler does with one event: TRUE when it is handled here. CTRL_LOGOFF_EVENT
    // reaches only services, for another user's log-off: it is left to the next handler.
    BOOL handle(DWORD type);

private:
    launch::Handle cancel_;
    launch::Handle ended_;
    std::mutex mutex_;
    std::function<void(const char*)> notice_;
    bool noticeGiven_ = false;
    bool runEnded_ = false;
};

// The name of a control event as the notice gives it ("Ctrl-C"), or nullptr for one that does
// not cancel.
const char* cancellingEventName(DWORD type);

}  // namespace tendril::tool
