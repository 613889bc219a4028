#include <tendril_launcher/launcher.h>

namespace tendril::launch {

namespace {
constexpr wchar_t kWindowClass[] = L"TendrilLauncherMessages";
// Posted to ourselves: every message sent before it has been handled once it arrives, because a
// thread handles the messages sent to it before its posted ones.
constexpr UINT kDrainMessage = WM_APP + 77;
}  // namespace

HINSTANCE MessageWindow::module() {
    // The module that holds windowProc: the executable, or tendril_launcher.dll when the library
    // is built into it. A class is found by its name and module, so an executable that links this
    // library and also loads the DLL gets two classes, each with its own window procedure, and a
    // DLL loaded again after being unloaded never meets a class whose procedure is gone.
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&MessageWindow::windowProc), &module);
    return module;
}

void MessageWindow::unregisterClass() { ::UnregisterClassW(kWindowClass, module()); }

MessageWindow::MessageWindow() : start_(std::chrono::steady_clock::now()) {
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return ready_; });
}

MessageWindow::~MessageWindow() {
    if (threadId_ != 0) ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    if (window_) ::PostMessageW(window_, WM_CLOSE, 0, 0);
    if (thread_.joinable()) thread_.join();
}

void MessageWindow::run() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = module();
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassW(&windowClass);  // already registered by an earlier window: fine
    HWND window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, this);
    const DWORD error = window ? 0 : ::GetLastError();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        window_ = window;
        error_ = error;
        threadId_ = ::GetCurrentThreadId();
        ready_ = true;
    }
    changed_.notify_all();
    if (!window) return;
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_QUIT) break;
        ::DispatchMessageW(&msg);
    }
    ::DestroyWindow(window);
}

LRESULT CALLBACK MessageWindow::windowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == kDrainMessage) {
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->drained_ = static_cast<std::uint64_t>(wParam);
        }
        self->changed_.notify_all();
        return 0;
    }
    if (self && (message == WM_ASSISTANT_CONNECTED || message == WM_ASSISTANT_STATUS ||
                 message == WM_ASSISTANT_NOT_ELEVATED)) {
        ReceivedMessage received;
        received.message = message;
        // Tendril's values are 32-bit whatever its bitness: a 32-bit sender's wParam is
        // zero-extended and its lParam sign-extended on the way to us.
        received.wParam = static_cast<std::int64_t>(static_cast<std::uint32_t>(wParam));
        received.lParam = static_cast<std::int64_t>(static_cast<std::int32_t>(lParam));
        if (message == WM_ASSISTANT_STATUS)
            received.wParam = static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam));
        received.atMs = std::chrono::duration<double, std::milli>(
                            std::chrono::steady_clock::now() - self->start_)
                            .count();
        std::function<void(const ReceivedMessage&)> listener;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->messages_.push_back(received);
            listener = self->listener_;
        }
        self->changed_.notify_all();
        if (listener) listener(received);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void MessageWindow::setListener(std::function<void(const ReceivedMessage&)> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

std::optional<ReceivedMessage> MessageWindow::waitFor(
    const std::function<bool(const ReceivedMessage&)>& match, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<ReceivedMessage> found;
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const ReceivedMessage& m : messages_)
            if (match(m)) {
                found = m;
                return true;
            }
        return false;
    });
    return found;
}

void MessageWindow::drain() {
    if (!window_) return;
    static std::atomic<std::uint64_t> ticket{0};
    const std::uint64_t mine = ++ticket;
    ::PostMessageW(window_, kDrainMessage, static_cast<WPARAM>(mine), 0);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return drained_ >= mine; });
}

std::vector<ReceivedMessage> MessageWindow::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

}  // namespace tendril::launch
