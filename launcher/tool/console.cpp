#include "console.h"

namespace tendril::tool {

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

ConsoleOutputCodePage::ConsoleOutputCodePage() {
    // 0: the process has no console, and there is no code page to change.
    const UINT current = ::GetConsoleOutputCP();
    if (current != 0 && current != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) previous_ = current;
}

ConsoleOutputCodePage::~ConsoleOutputCodePage() {
    if (previous_ != 0) ::SetConsoleOutputCP(previous_);
}

const char* cancellingEventName(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
            return "Ctrl-C";
        case CTRL_BREAK_EVENT:
            return "Ctrl-Break";
        case CTRL_CLOSE_EVENT:
            return "the console was closed";
        case CTRL_SHUTDOWN_EVENT:
            return "the system shuts down";
        default:
            return nullptr;
    }
}

ConsoleControl::ConsoleControl()
    : cancel_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      ended_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

ConsoleControl& ConsoleControl::forProcess() {
    static ConsoleControl* const control = new ConsoleControl;
    return *control;
}

namespace {

BOOL WINAPI processHandler(DWORD type) { return ConsoleControl::forProcess().handle(type); }

}  // namespace

bool ConsoleControl::install() {
    ConsoleControl& control = forProcess();
    return control.cancel_ && control.ended_ && ::SetConsoleCtrlHandler(processHandler, TRUE);
}

void ConsoleControl::onCancel(std::function<void(const char*)> notice) {
    std::lock_guard<std::mutex> lock(mutex_);
    notice_ = std::move(notice);
}

void ConsoleControl::runEnded() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        runEnded_ = true;
        notice_ = nullptr;
    }
    if (ended_) ::SetEvent(ended_.get());
}

BOOL ConsoleControl::handle(DWORD type) {
    const char* name = cancellingEventName(type);
    if (!name) return FALSE;
    if (cancel_) ::SetEvent(cancel_.get());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!noticeGiven_ && !runEnded_ && notice_) {
            noticeGiven_ = true;
            notice_(name);
        }
    }
    // Windows ends the process once the handler of these returns (at the latest after its own
    // time limit): hold until Cancel is written and the run is over.
    if ((type == CTRL_CLOSE_EVENT || type == CTRL_SHUTDOWN_EVENT) && ended_)
        ::WaitForSingleObject(ended_.get(), INFINITE);
    return TRUE;
}

}  // namespace tendril::tool
