#include <tendril_launcher/launcher.h>

#include <sddl.h>

namespace tendril::launch {

namespace {

// "S-1-5-21-..." of the user this process runs as; empty on failure.
std::wstring currentUserSid() {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return {};
    Handle token(rawToken);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 ||
        !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return {};
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    std::wstring sid = text;
    ::LocalFree(text);
    return sid;
}

}  // namespace

std::wstring LauncherPipe::nameFor(const std::wstring& exeFileName) {
    return std::wstring(kPipeNamePrefix) + exeFileName;
}

LauncherPipe LauncherPipe::create(const std::wstring& exeFileName) {
    LauncherPipe pipe;
    pipe.name_ = nameFor(exeFileName);
    // Only the current user (who runs the launcher and, elevated, Tendril), Administrators and
    // SYSTEM may open the pipe; the "P" keeps inherited entries out.
    const std::wstring user = currentUserSid();
    std::wstring sddl = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";
    if (!user.empty()) sddl += L"(A;;GA;;;" + user + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        pipe.error_ = ::GetLastError();
        return pipe;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE handle = ::CreateNamedPipeW(
        pipe.name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 65536,
        65536, 0, &attributes);
    pipe.error_ = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    ::LocalFree(descriptor);
    if (handle == INVALID_HANDLE_VALUE) return pipe;
    pipe.pipe_ = Handle(handle);
    pipe.connectEvent_ = Handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return pipe;
}

bool LauncherPipe::waitForClient(DWORD timeoutMs) {
    if (!pipe_) return false;
    if (connected_) return true;
    if (!connectPending_) {
        connect_ = OVERLAPPED{};
        connect_.hEvent = connectEvent_.get();
        ::ResetEvent(connectEvent_.get());
        if (::ConnectNamedPipe(pipe_.get(), &connect_)) {
            connected_ = true;
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            connected_ = true;
            return true;
        }
        if (error != ERROR_IO_PENDING) {
            error_ = error;
            return false;
        }
        connectPending_ = true;
    }
    if (::WaitForSingleObject(connectEvent_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD ignored = 0;
    connectPending_ = false;
    connected_ = ::GetOverlappedResult(pipe_.get(), &connect_, &ignored, FALSE) != FALSE;
    if (!connected_) error_ = ::GetLastError();
    return connected_;
}

bool LauncherPipe::write(const void* data, std::size_t size, DWORD timeoutMs, HANDLE stop) {
    if (!pipe_) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    std::size_t done = 0;
    Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    while (done < size) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(size - done < 65536 ? size - done : 65536);
        if (!::WriteFile(pipe_.get(), bytes + done, chunk, &written, &overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING) {
                error_ = ::GetLastError();
                return false;
            }
            const ULONGLONG now = ::GetTickCount64();
            const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
            const HANDLE waits[2] = {event.get(), stop};
            const DWORD woke = ::WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, wait);
            if (woke != WAIT_OBJECT_0) {
                ::CancelIoEx(pipe_.get(), &overlapped);
                ::GetOverlappedResult(pipe_.get(), &overlapped, &written, TRUE);
                error_ = woke == WAIT_OBJECT_0 + 1 ? ERROR_OPERATION_ABORTED : WAIT_TIMEOUT;
                return false;
            }
            if (!::GetOverlappedResult(pipe_.get(), &overlapped, &written, FALSE)) {
                error_ = ::GetLastError();
                return false;
            }
        }
        done += written;
    }
    return true;
}

void LauncherPipe::disconnectClient() {
    if (!pipe_ || connectPending_) return;
    ::DisconnectNamedPipe(pipe_.get());
    connected_ = false;
}

void LauncherPipe::close() {
    if (!pipe_) return;
    if (connectPending_) {
        ::CancelIoEx(pipe_.get(), &connect_);
        DWORD ignored = 0;
        ::GetOverlappedResult(pipe_.get(), &connect_, &ignored, TRUE);
        connectPending_ = false;
    }
    // No DisconnectNamedPipe: it would throw away what Tendril has not read yet. Closing our end
    // lets it read the rest and then see the pipe broken.
    pipe_.reset();
    connected_ = false;
}

}  // namespace tendril::launch
