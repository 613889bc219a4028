// The retry rule against a real pipe that stays busy: every wait Tendril makes is satisfied by
// the instance becoming free, and taken again by another client before Tendril's next open. To
// make that deterministic, Tendril's threads are suspended while the instance changes hands.
#include "e2e_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

namespace tendril::test {
namespace {

using launch::ReceivedMessage;

void setProcessSuspended(DWORD processId, bool suspend) {
    launch::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != processId) continue;
        launch::Handle thread(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        if (!thread) continue;
        if (suspend)
            ::SuspendThread(thread.get());
        else
            ::ResumeThread(thread.get());
    }
}

class BusyPipe {
public:
    explicit BusyPipe(const TendrilCopy& tendril)
        : pipe_(launch::LauncherPipe::create(tendril.fileName())) {
        takeInstance();
    }
    launch::LauncherPipe& pipe() { return pipe_; }

    // Frees the instance (which satisfies one pending wait of Tendril's) and, unless it is the
    // last round, takes it again before Tendril can open it.
    void cycle(DWORD tendrilId, bool takeAgain) {
        setProcessSuspended(tendrilId, true);
        decoy_.reset();
        pipe_.disconnectClient();
        // Listening satisfies Tendril's wait; the decoy then takes the instance.
        pipe_.waitForClient(0);
        if (takeAgain) takeInstance();
        setProcessSuspended(tendrilId, false);
    }

private:
    void takeInstance() {
        for (int i = 0; i < 100 && !decoy_; ++i) {
            decoy_ = launch::Handle(::CreateFileW(pipe_.name().c_str(),
                                                  GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
            if (!decoy_) ::Sleep(10);
        }
        pipe_.waitForClient(1000);
    }

    launch::LauncherPipe pipe_;
    launch::Handle decoy_;
};

// Waits until Tendril has written the start of its pipe line, that is, is about to open the pipe.
bool waitUntilOpening(const TendrilCopy& tendril) {
    for (int i = 0; i < 300; ++i) {
        if (tendril.log().find("OpenPipe '") != std::string::npos) return true;
        ::Sleep(20);
    }
    return false;
}

TEST(BusyPipe, FiveBusyOpensFailWithoutASixth) {
    TendrilCopy tendril;
    BusyPipe busy(tendril);
    launch::MessageWindow window;
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    ASSERT_TRUE(process);
    const DWORD id = ::GetProcessId(process.get());
    ASSERT_TRUE(waitUntilOpening(tendril));
    for (int round = 1; round <= 4; ++round) {
        ::Sleep(700);  // Tendril has met the busy instance and is waiting
        busy.cycle(id, true);
    }
    ::Sleep(700);
    EXPECT_TRUE(window.messages().empty()) << "gave up before the fifth open: "
                                           << describe(window.messages());
    const ULONGLONG before = ::GetTickCount64();
    busy.cycle(id, true);
    const auto failure = window.waitFor(
        [](const ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; }, 15000);
    ASSERT_TRUE(failure.has_value());
    EXPECT_LT(::GetTickCount64() - before, 5000u) << "the fifth successful wait ends the loop";
    EXPECT_EQ(failure->wParam, ERROR_PIPE_BUSY);
    EXPECT_EQ(failure->lParam, PipeOpenFailed);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    EXPECT_NE(tendril.log().find("' - fail\r\n"), std::string::npos);
}

TEST(BusyPipe, FourBusyOpensThenTheFifthConnects) {
    TendrilCopy tendril;
    BusyPipe busy(tendril);
    launch::MessageWindow window;
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    ASSERT_TRUE(process);
    const DWORD id = ::GetProcessId(process.get());
    ASSERT_TRUE(waitUntilOpening(tendril));
    for (int round = 1; round <= 4; ++round) {
        ::Sleep(700);
        busy.cycle(id, round < 4);
    }
    const auto hello = window.waitFor(
        [](const ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; }, 15000);
    ASSERT_TRUE(hello.has_value());
    EXPECT_EQ(hello->lParam, 0);
    EXPECT_EQ(hello->wParam, static_cast<std::int64_t>(id));
    launch::Request request;
    request.command = NoOperation;
    const std::string bytes = request.serialize();
    ASSERT_TRUE(busy.pipe().waitForClient(5000));
    ASSERT_TRUE(busy.pipe().write(bytes.data(), bytes.size()));
    ASSERT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    EXPECT_NE(tendril.log().find("' - ok\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tendril::test
