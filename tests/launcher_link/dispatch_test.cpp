// Dispatch of the commands that need nothing beyond this subsystem, and the closing steps.
#include "launcher_link/dispatch.h"

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

}  // namespace
}  // namespace tendril
