#include "launcher_link/pipe_connect.h"

namespace tendril {

std::wstring makePipeName(const std::wstring& modulePath) {
    std::wstring fileName;
    const std::size_t slash = modulePath.rfind(L'\\');
    if (slash != std::wstring::npos && slash >= 1) fileName = modulePath.substr(slash + 1);
    return std::wstring(kPipeNamePrefix) + fileName;
}

namespace {

HANDLE openPipe(const wchar_t* name) {
    return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         kPipeOpenFlags, nullptr);
}

BOOL waitPipe(const wchar_t* name, DWORD timeoutMs) { return ::WaitNamedPipeW(name, timeoutMs); }

}  // namespace

const PipeOpenCalls& realPipeOpenCalls() {
    static const PipeOpenCalls calls{openPipe, waitPipe};
    return calls;
}

UniqueFile openPipeWithRetry(const wchar_t* name, const PipeOpenCalls& calls) {
    for (int attempt = 0; attempt < kPipeOpenAttempts; ++attempt) {
        UniqueFile pipe(calls.open(name));
        if (pipe) return pipe;
        if (::GetLastError() != ERROR_PIPE_BUSY) break;
        if (!calls.wait(name, kPipeBusyWaitMs)) break;
        if (attempt + 1 == kPipeOpenAttempts) ::SetLastError(ERROR_PIPE_BUSY);
    }
    return UniqueFile();
}

PipeConnection connectLauncherPipe(const std::wstring& name, HWND window,
                                   const PipeOpenCalls& calls) {
    PipeConnection result;
    DWORD ownerId = 0;
    ::GetWindowThreadProcessId(window, &ownerId);
    // Holding the owner open keeps its process id from being given to another process while we
    // compare it with the pipe server's.
    UniqueHandle owner(ownerId != 0
                           ? ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ownerId)
                           : nullptr);
    if (ownerId == 0) {
        result.outcome = ConnectOutcome::ServerRefused;
        return result;
    }
    UniqueFile pipe = openPipeWithRetry(name.c_str(), calls);
    if (!pipe) return result;
    ULONG serverId = 0;
    if (!::GetNamedPipeServerProcessId(pipe.get(), &serverId) || serverId != ownerId) {
        result.outcome = ConnectOutcome::ServerRefused;
        return result;  // the pipe is closed by its owner here
    }
    result.outcome = ConnectOutcome::Connected;
    result.pipe = std::move(pipe);
    result.server = std::move(owner);
    return result;
}

}  // namespace tendril
