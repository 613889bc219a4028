// Cancel: the launcher writes 9 while a command walks a tree; the walk stops at its next check.
// Command 4 reports no progress, so what shows the stop is the time the command takes.
#include "e2e_support.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

namespace tendril::test {
namespace {

using launch::ReceivedMessage;
using launch::Request;

// A tree big enough that securing it takes seconds under Wine.
void buildTree(const ScratchFolder& root, int folders, int filesPerFolder) {
    for (int f = 0; f < folders; ++f) {
        const std::wstring folder = root / (L"d" + std::to_wstring(f));
        ::CreateDirectoryW(folder.c_str(), nullptr);
        for (int i = 0; i < filesPerFolder; ++i)
            writeFile(folder + L"\\f" + std::to_wstring(i) + L".bin", "x");
    }
}

template <typename Visit>
void forEachThreadOf(DWORD processId, Visit&& visit) {
    launch::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == processId) visit(entry.th32ThreadID);
}

int threadCount(DWORD processId) {
    int count = 0;
    forEachThreadOf(processId, [&](DWORD) { ++count; });
    return count;
}

bool hasResult(const std::vector<ReceivedMessage>& messages) {
    for (const ReceivedMessage& m : messages)
        if (m.message == WM_ASSISTANT_STATUS && m.wParam == GrantUsersAccess) return true;
    return false;
}

struct Timed {
    int threadsBeforeClose = 0;
    int threadsAfterClose = 0;
    bool resultBeforeCount = false;  // the command had ended before the threads were counted
    double commandMs = 0;  // from the request written to the result message
    std::vector<ReceivedMessage> messages;
    DWORD exitWaitMs = 0;
    ULONGLONG tendrilCpuMs = 0;
};

// Runs command 4 on root, then writes the pieces (each after its delay in ms).
Timed grantWithLaterWrites(const TendrilCopy& tendril, const std::wstring& root,
                           const std::vector<std::pair<DWORD, std::string>>& pieces,
                           bool closeAfterPieces) {
    Timed timed;
    launch::MessageWindow window;
    launch::LauncherPipe pipe = launch::LauncherPipe::create(tendril.fileName());
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    if (!process) return timed;
    window.waitFor([](const ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; },
                   30000);
    pipe.waitForClient(10000);
    Request request;
    request.command = GrantUsersAccess;
    Request::setText(request.record.installFolder, root);
    const std::string bytes = request.serialize();
    const ULONGLONG start = ::GetTickCount64();
    pipe.write(bytes.data(), bytes.size());
    for (const auto& [delay, piece] : pieces) {
        ::Sleep(delay);
        pipe.write(piece.data(), piece.size());
    }
    if (closeAfterPieces) {
        ::Sleep(200);
        const DWORD tendrilId = ::GetProcessId(process.get());
        timed.threadsBeforeClose = threadCount(tendrilId);
        pipe.close();
        ::Sleep(300);
        timed.threadsAfterClose = threadCount(tendrilId);
        // Only a count taken while the command still ran shows anything: once the command ends,
        // the closing steps stop the watch thread anyway.
        window.drain();
        timed.resultBeforeCount = hasResult(window.messages());
    }
    const auto result = window.waitFor(
        [](const ReceivedMessage& m) {
            return m.message == WM_ASSISTANT_STATUS && m.wParam == GrantUsersAccess;
        },
        120000);
    if (result) timed.commandMs = static_cast<double>(::GetTickCount64() - start);
    ::WaitForSingleObject(process.get(), 30000);
    FILETIME created, exited, kernel, user;
    if (::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) {
        auto ms = [](const FILETIME& t) {
            return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
        };
        timed.tendrilCpuMs = ms(kernel) + ms(user);
    }
    window.drain();
    timed.messages = window.messages();
    return timed;
}

std::string int32Bytes(std::int32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

class CancelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Grow the tree until securing it takes long enough to tell a stopped walk from a full
        // one, whatever the speed of the machine.
        tree_ = new ScratchFolder(L"cancel");
        for (int round = 0; round < 4 && full_ < 1500; ++round) {
            buildTree(*tree_, 10 << round, 100);
            TendrilCopy tendril;
            full_ = grantWithLaterWrites(tendril, tree_->path(), {}, false).commandMs;
        }
    }
    static void TearDownTestSuite() {
        delete tree_;
        tree_ = nullptr;
    }
    static ScratchFolder* tree_;
    static double full_;
};
ScratchFolder* CancelTest::tree_ = nullptr;
double CancelTest::full_ = 0;

TEST_F(CancelTest, CancelWrittenInTwoPiecesStopsTheWalk) {
    ASSERT_GT(full_, 1500) << "the tree is too small to tell a cancelled walk from a full one";
    const std::string cancel = int32Bytes(Cancel);
    TendrilCopy tendril;
    const Timed run = grantWithLaterWrites(tendril, tree_->path(),
                                           {{150, cancel.substr(0, 2)}, {100, cancel.substr(2)}},
                                           false);
    ASSERT_GT(run.commandMs, 0) << describe(run.messages);
    std::printf("full walk %.0f ms, cancelled walk %.0f ms\n", full_, run.commandMs);
    EXPECT_LT(run.commandMs, full_ / 2) << "the cancel did not stop the walk";
    // A cancelled walk still ends with the result message.
    EXPECT_EQ(run.messages.back().wParam, GrantUsersAccess);
    EXPECT_EQ(run.messages.back().lParam, 0);
}

TEST_F(CancelTest, OtherValuesAreIgnored) {
    TendrilCopy tendril;
    const Timed run = grantWithLaterWrites(
        tendril, tree_->path(), {{150, int32Bytes(5)}, {50, int32Bytes(0x00090000)}}, false);
    ASSERT_GT(run.commandMs, 0) << describe(run.messages);
    std::printf("full walk %.0f ms, walk with other values %.0f ms\n", full_, run.commandMs);
    // Had a value stopped it, the walk would have ended within a few ms of the last write, at
    // 200 ms (a real cancel ends it that fast); a walk of this tree takes well over a second,
    // though the same walk varies by half from one run to the next under Wine.
    EXPECT_GT(run.commandMs, 700) << "a value other than 9 stopped the walk";
}

// The launcher goes away while the command runs: the watch thread sees the broken pipe and ends,
// rather than spinning on failed reads until the process exits. Under Wine a spinning read costs
// mostly wineserver time, so Tendril's own CPU time cannot show it; its thread count can.
TEST_F(CancelTest, ALauncherThatGoesAwayEndsTheWatchWhileTheCommandRuns) {
    TendrilCopy tendril;
    const Timed run = grantWithLaterWrites(tendril, tree_->path(), {}, true);
    ASSERT_GT(run.commandMs, 0) << describe(run.messages);
    std::printf("walk %.0f ms, launcher gone after 200 ms; Tendril's threads %d, then %d; "
                "Tendril's CPU %llu ms\n",
                run.commandMs, run.threadsBeforeClose, run.threadsAfterClose, run.tendrilCpuMs);
    ASSERT_FALSE(run.resultBeforeCount) << "the walk ended before the threads were counted";
    EXPECT_EQ(run.threadsAfterClose, run.threadsBeforeClose - 1)
        << "the watch thread should end once the pipe is broken";
    EXPECT_EQ(run.messages.back().wParam, GrantUsersAccess);
}

}  // namespace
}  // namespace tendril::test
