#include "launcher_link/pipe_watch.h"

#include "common/unique_handle.h"
#include "launcher_link/cancel.h"

#include <tendril/protocol.h>

#include <atomic>
#include <cstdint>

namespace tendril {

namespace {

UniqueHandle watchThread;
std::atomic<bool> watchStopping{false};

// Errors after which the pipe will never deliver again: reading on would only spin.
bool isPipeGone(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
           error == ERROR_INVALID_HANDLE || error == ERROR_OPERATION_ABORTED;
}

}  // namespace

DWORD WINAPI pipeWatchThread(void* pipe) {
    std::int32_t value = 0;
    if (cancelRequested.load()) return 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&value);
    for (;;) {
        if (watchStopping.load() || pipe == INVALID_HANDLE_VALUE || pipe == nullptr) return 0;
        DWORD done = 0;
        bool gone = false;
        bool failed = false;
        while (done < sizeof value) {
            DWORD got = 0;
            if (!::ReadFile(pipe, bytes + done, sizeof value - done, &got, nullptr)) {
                failed = true;
                gone = isPipeGone(::GetLastError());
                break;
            }
            done += got;
        }
        if (value == Cancel) {
            cancelRequested.store(true);
            return 0;
        }
        if (gone || cancelRequested.load()) return 0;
        if (failed) ::Sleep(10);  // an unexpected error: try again, but never spin
    }
}

bool startPipeWatch(HANDLE pipe) {
    watchStopping.store(false);
    watchThread.reset(::CreateThread(nullptr, 0, pipeWatchThread, pipe, 0, nullptr));
    return watchThread.valid();
}

HANDLE pipeWatchThreadHandle() { return watchThread.get(); }

bool stopPipeWatch() {
    if (!watchThread) return true;
    watchStopping.store(true);
    // A read may start just after a cancel, so keep cancelling until the thread has gone; give
    // up after about two seconds rather than hang the end of the run.
    for (int i = 0; i < 100; ++i) {
        ::CancelSynchronousIo(watchThread.get());
        if (::WaitForSingleObject(watchThread.get(), 20) == WAIT_OBJECT_0) {
            watchThread.reset();
            watchStopping.store(false);
            return true;
        }
    }
    return false;
}

}  // namespace tendril
