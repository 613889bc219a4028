// Dispatch of the commands that need nothing beyond this subsystem, and the closing steps.
#include "launcher_link/dispatch.h"
#include "launcher_link/pipe_watch.h"

#include "link_fixture.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace tendril {
namespace {

using test::InProcessPipe;
using test::RecordedMessage;
using test::ScratchTheLog;

class DispatchTest : public test::LinkStateTest {
protected:
    void SetUp() override {
        test::LinkStateTest::SetUp();
        ASSERT_TRUE(pipe.ok());
        pipeHandle = pipe.releaseClient();  // the closing steps close it
        pipeName = L"\\\\.\\pipe\\launcher_tendril.exe";
        std::memcpy(assistantRequest.exeName, L"client.exe", sizeof L"client.exe");
    }
    void TearDown() override {
        UniqueFile leftover(std::exchange(pipeHandle, INVALID_HANDLE_VALUE));
        test::LinkStateTest::TearDown();
    }
    // The launcher's end sees ours closed.
    bool clientClosed() {
        std::uint8_t byte = 0;
        DWORD got = 0;
        return !::ReadFile(pipe.server(), &byte, 1, &got, nullptr) &&
               ::GetLastError() == ERROR_BROKEN_PIPE;
    }

    InProcessPipe pipe;
};

TEST_F(DispatchTest, NoOperationAndCancelSendNothingAndCloseTheRun) {
    for (const std::int32_t command : {NoOperation, Cancel}) {
        SCOPED_TRACE(command);
        if (command == Cancel) {
            pipe = InProcessPipe();  // a fresh run
            ASSERT_TRUE(pipe.ok());
            pipeHandle = pipe.releaseClient();
            pipeName = L"\\\\.\\pipe\\launcher_tendril.exe";
        }
        ScratchTheLog log;
        ASSERT_TRUE(log.opened());
        const DWORD start = ::GetTickCount();
        dispatchCommand(command);  // the launcher keeps its end open and writes nothing
        EXPECT_LT(::GetTickCount() - start, 2000u);

        EXPECT_TRUE(recorder.messages().empty());
        EXPECT_EQ(exeNameCopy, L"client.exe");
        EXPECT_EQ(pipeHandle, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(pipeName.empty());
        EXPECT_FALSE(theLog.IsOpen());
        EXPECT_EQ(log.bytes(), "Pipe closed\r\n");
        EXPECT_TRUE(clientClosed());
        EXPECT_FALSE(cancelRequested.load());
    }
}

// A path that matches no running process is a success: the result carries whatever code was
// stored last before (nothing, or an earlier failure).
TEST_F(DispatchTest, TerminateProcessesMatchingNothingSendsTheStoredCode) {
    for (const std::int32_t stored : {0, int{InstallRecordNotStored}}) {
        SCOPED_TRACE(stored);
        if (stored != 0) {
            pipe = InProcessPipe();
            ASSERT_TRUE(pipe.ok());
            pipeHandle = pipe.releaseClient();
        }
        recorder.clear();
        lastAssistantError = stored;
        ScratchTheLog log;
        ASSERT_TRUE(log.opened());
        std::memcpy(assistantRequest.argument, L"C:\\nowhere\\no-such-program.exe",
                    sizeof L"C:\\nowhere\\no-such-program.exe");
        dispatchCommand(TerminateProcesses);
        EXPECT_EQ(
            recorder.messages(),
            (std::vector<RecordedMessage>{{WM_ASSISTANT_STATUS, TerminateProcesses, stored}}));
        EXPECT_EQ(log.bytes(), "Pipe closed\r\n");
    }
}

TEST_F(DispatchTest, ClosingWithoutALogOrAPipe) {
    UniqueFile(std::exchange(pipeHandle, INVALID_HANDLE_VALUE)).reset();
    ASSERT_FALSE(theLog.IsOpen());
    closeSession();
    EXPECT_EQ(pipeHandle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(pipeName.empty());
    EXPECT_FALSE(theLog.IsOpen());
}

// A watch thread that cannot be stopped (held suspended here, so that cancelling its read does not
// end it) is still reading when the run ends. On Windows the flush, the disconnect and the close
// would each wait behind that read, so the pipe is left to process exit: the handle stays set and
// open, the launcher's end still connected, and the log says so before its usual last line.
TEST_F(DispatchTest, AWatchThatCannotBeStoppedLeavesThePipeToProcessExit) {
    const HANDLE ours = pipeHandle;
    ScratchTheLog log;
    ASSERT_TRUE(log.opened());
    ASSERT_TRUE(startPipeWatch(ours));
    ::Sleep(100);  // the thread is in its read
    const HANDLE thread = pipeWatchThreadHandle();
    ASSERT_NE(thread, nullptr);
    ASSERT_NE(::SuspendThread(thread), static_cast<DWORD>(-1));

    closeSession();
    EXPECT_EQ(pipeHandle, ours);
    EXPECT_TRUE(pipeName.empty());
    EXPECT_FALSE(theLog.IsOpen());
    EXPECT_EQ(log.bytes(), "Pipe watch not stopped: pipe left to process exit\r\nPipe closed\r\n");
    EXPECT_TRUE(recorder.messages().empty());
    // Neither closed nor disconnected: what the launcher writes still reaches our handle.
    ASSERT_TRUE(pipe.writeValue(std::int32_t{5}));
    DWORD available = 0;
    EXPECT_TRUE(::PeekNamedPipe(ours, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(available, 4u);

    ::ResumeThread(thread);
    EXPECT_TRUE(stopPipeWatch());
    EXPECT_FALSE(cancelRequested.load());
}

}  // namespace
}  // namespace tendril
