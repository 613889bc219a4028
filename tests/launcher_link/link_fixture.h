// What the launcher-link tests share: an in-process pipe standing in for the launcher's, theLog on
// a scratch file, and a fixture that resets the process-wide state of a run.
#pragma once

#include "common/unique_handle.h"
#include "launcher_link/cancel.h"
#include "launcher_link/error_store.h"
#include "launcher_link/launcher_user.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"
#include "log/log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <ostream>
#include <string>

namespace tendril::test {

// A byte-mode pipe with both ends in this process: the server end plays the launcher and writes,
// the client end is what Tendril reads (it would have opened it itself).
class InProcessPipe {
public:
    explicit InProcessPipe(DWORD clientAccess = GENERIC_READ | GENERIC_WRITE) {
        const std::wstring name = L"\\\\.\\pipe\\" + uniqueName(L"tendril-test");
        server_.reset(::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536,
                                         65536, 0, nullptr));
        client_.reset(
            ::CreateFileW(name.c_str(), clientAccess, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    bool ok() const { return server_.valid() && client_.valid(); }
    HANDLE server() const { return server_.get(); }
    HANDLE client() const { return client_.get(); }

    // Writes all bytes from the launcher's side.
    bool write(const void* data, std::size_t size) {
        DWORD written = 0;
        return ::WriteFile(server_.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
               written == size;
    }
    template <typename T>
    bool writeValue(const T& value) {
        return write(&value, sizeof value);
    }
    // Bytes written by the launcher and not read yet.
    DWORD pending() const {
        DWORD available = 0;
        if (!::PeekNamedPipe(client_.get(), nullptr, 0, nullptr, &available, nullptr)) return ~0u;
        return available;
    }
    // The launcher goes away: what it wrote stays readable, then reads fail.
    void closeServer() { server_.reset(); }
    // The launcher disconnects its end but keeps the handle: what it wrote is discarded.
    bool disconnectServer() { return ::DisconnectNamedPipe(server_.get()) != FALSE; }
    // For code that closes the client end itself.
    HANDLE releaseClient() { return client_.release(); }

private:
    UniqueFile server_;
    UniqueFile client_;
};

// theLog on "<scratch>\tendril.exe.log", UTF-8, flushed after every line, closed at the end.
class ScratchTheLog {
public:
    ScratchTheLog() {
        theLog.Close();
        theLog.SetSuspended(false);
        opened_ = theLog.Open(path_.c_str());
        theLog.SetUtf8Output(true);
        theLog.SetAutoFlush(true);
    }
    ~ScratchTheLog() { theLog.Close(); }
    ScratchTheLog(const ScratchTheLog&) = delete;
    ScratchTheLog& operator=(const ScratchTheLog&) = delete;

    bool opened() const { return opened_; }
    std::string bytes() const { return readFile(path_); }

private:
    ScratchFolder folder_{L"link"};
    std::wstring path_ = folder_ / L"tendril.exe.log";
    bool opened_ = false;
};

// Resets everything a run keeps process-wide, and points launcherWindow at a recorder.
class LinkStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(recorder.window(), nullptr);
        // The launcher's user is the test process itself, an administrator.
        ASSERT_TRUE(takeLauncherUser(::GetCurrentProcess()));
        cancelRequested.store(false);
        progressDone = 0;
        progressTotal = 1;
        lastProgressPercent = 0;
        lastProgressTick = 0;
        lastAssistantError = 0;
        launcherWindow = recorder.window();
        pipeHandle = INVALID_HANDLE_VALUE;
        assistantRequest = AssistantRequest{};
        entryList.clear();
        exeNameCopy.clear();
    }
    void TearDown() override {
        launcherWindow = nullptr;
        pipeHandle = INVALID_HANDLE_VALUE;
        cancelRequested.store(false);
    }

    MessageRecorder recorder;
};

inline bool operator==(const RecordedMessage& a, const RecordedMessage& b) {
    return a.message == b.message && a.wParam == b.wParam && a.lParam == b.lParam;
}
inline void PrintTo(const RecordedMessage& m, std::ostream* os) {
    *os << "{" << m.message << ", " << m.wParam << ", " << m.lParam << "}";
}

}  // namespace tendril::test
