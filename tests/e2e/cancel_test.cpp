// Cancel: the launcher writes 9 while a command walks a tree; the walk stops at its next check.
// Command 4 reports no progress; what shows the stop is how much of the tree it secured. Times
// are printed but judge nothing: under Wine the same walk takes from a fifth to twice its usual
// time on a busy machine.
#include "e2e_support.h"
#include "support/security_traces.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tendril::test {
namespace {

using launch::ReceivedMessage;
using launch::Request;

// A thread of the process that is not in known; 0 if there is none yet.
DWORD newThreadOf(DWORD processId, const std::vector<DWORD>& known) {
    for (DWORD id : threadsOf(processId))
        if (!contains(known, id)) return id;
    return 0;
}

bool hasResult(const std::vector<ReceivedMessage>& messages) {
    for (const ReceivedMessage& m : messages)
        if (m.message == WM_ASSISTANT_STATUS && m.wParam == GrantUsersAccess) return true;
    return false;
}

struct Timed {
    // With closeAfterPieces:
    bool watchSeen = false;         // the watch thread was seen running
    bool resultBeforeHold = false;  // the command had ended before it could be held
    bool endedWhileHeld = false;    // the watch ended while the command's thread was held
    bool watchEnded = false;        // the watch ended within 1.5 s of the launcher going
    bool resultBeforeEnd = false;   // the command's result came before the watch was seen gone
    double endMs = 0;               // from the launcher gone to the watch seen gone
    double commandMs = 0;  // from the request written to the result message
    std::vector<ReceivedMessage> messages;
};

// Runs command 4 on root and writes the pieces (each after its delay in ms). With
// closeAfterPieces the launcher then goes away, and the threads are counted until one ends.
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
    const DWORD tendrilId = ::GetProcessId(process.get());
    // Before the request Tendril runs its main thread alone; the watch thread comes after it.
    const std::vector<DWORD> threadsBeforeRequest = threadsOf(tendrilId);
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
        DWORD watch = 0;
        for (int i = 0; i < 400 && watch == 0; ++i) {
            watch = newThreadOf(tendrilId, threadsBeforeRequest);
            if (watch == 0) ::Sleep(5);
        }
        timed.watchSeen = watch != 0;
        // The command's thread is held while the launcher goes away, so that the watch thread is
        // seen to end while the command still runs, however fast this machine walks the tree.
        // Should the held thread hold a lock the ending thread needs, it is let go after 500 ms
        // and the watch is followed while both run.
        launch::Handle walker;
        if (threadsBeforeRequest.size() == 1)
            walker = launch::Handle(
                ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadsBeforeRequest.front()));
        const bool held = walker && ::SuspendThread(walker.get()) != static_cast<DWORD>(-1);
        window.drain();
        timed.resultBeforeHold = hasResult(window.messages());
        pipe.close();
        const ULONGLONG closed = ::GetTickCount64();
        auto watchRuns = [&] { return contains(threadsOf(tendrilId), watch); };
        const ULONGLONG holdUntil = closed + (held ? 500 : 0);
        while (watchRuns() && ::GetTickCount64() < holdUntil) ::Sleep(1);
        timed.endedWhileHeld = held && !watchRuns();
        if (held) ::ResumeThread(walker.get());
        while (watchRuns() && ::GetTickCount64() < closed + 1500) ::Sleep(1);
        timed.watchEnded = !watchRuns();
        timed.endMs = static_cast<double>(::GetTickCount64() - closed);
        // An end seen after the command's result shows nothing: the closing steps stop the
        // watch thread anyway. While the command was held, no result could come.
        if (!timed.endedWhileHeld) {
            window.drain();
            timed.resultBeforeEnd = hasResult(window.messages());
        }
    }
    const auto result = window.waitFor(
        [](const ReceivedMessage& m) {
            return m.message == WM_ASSISTANT_STATUS && m.wParam == GrantUsersAccess;
        },
        120000);
    if (result) timed.commandMs = static_cast<double>(::GetTickCount64() - start);
    ::WaitForSingleObject(process.get(), 30000);
    window.drain();
    timed.messages = window.messages();
    return timed;
}

std::string int32Bytes(std::int32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// One tree of 10 folders of 100 files for the suite. Before each walk every entry loses
// Everyone's read access, so that each walk does the same work and what it secured shows.
class CancelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tree_ = new ScratchFolder(L"cancel");
        entries_ = new std::vector<std::wstring>;
        for (int f = 0; f < 10; ++f) {
            const std::wstring folder = *tree_ / (L"d" + std::to_wstring(f));
            if (!::CreateDirectoryW(folder.c_str(), nullptr)) continue;
            entries_->push_back(folder);
            for (int i = 0; i < 100; ++i) {
                const std::wstring file = folder + L"\\f" + std::to_wstring(i) + L".bin";
                if (writeFile(file, "x")) entries_->push_back(file);
            }
        }
    }
    static void TearDownTestSuite() {
        delete tree_;
        tree_ = nullptr;
        delete entries_;
        entries_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(entries_->size(), 1010u) << "the tree could not be made";
        for (const std::wstring& entry : *entries_) ASSERT_TRUE(denyOthersOn(entry));
    }
    static std::size_t securedEntries() {
        std::size_t secured = 0;
        for (const std::wstring& entry : *entries_)
            if (everyoneCanRead(entry)) ++secured;
        return secured;
    }
    static ScratchFolder* tree_;
    static std::vector<std::wstring>* entries_;
};
ScratchFolder* CancelTest::tree_ = nullptr;
std::vector<std::wstring>* CancelTest::entries_ = nullptr;

TEST_F(CancelTest, AWalkLeftAloneSecuresTheWholeTree) {
    TendrilCopy tendril;
    const Timed run = grantWithLaterWrites(tendril, tree_->path(), {}, false);
    ASSERT_GT(run.commandMs, 0) << describe(run.messages);
    std::printf("full walk %.0f ms\n", run.commandMs);
    EXPECT_EQ(securedEntries(), entries_->size());
}

// The pieces go out at once and 20 ms after the request: the fastest walk of this tree seen on a
// loaded machine took 120 ms.
TEST_F(CancelTest, CancelWrittenInTwoPiecesStopsTheWalk) {
    const std::string cancel = int32Bytes(Cancel);
    TendrilCopy tendril;
    const Timed run = grantWithLaterWrites(
        tendril, tree_->path(), {{0, cancel.substr(0, 2)}, {20, cancel.substr(2)}}, false);
    ASSERT_GT(run.commandMs, 0) << describe(run.messages);
    const std::size_t secured = securedEntries();
    std::printf("cancelled walk %.0f ms, secured %zu of %zu entries\n", run.commandMs, secured,
                entries_->size());
    EXPECT_LT(secured, entries_->size()) << "the cancel did not stop the walk";
    // A cancelled walk still ends with the result message.
    EXPECT_EQ(run.messages.back().wParam, GrantUsersAccess);
    EXPECT_EQ(run.messages.back().lParam, 0);
}

TEST_F(CancelTest, OtherValuesAreIgnored) {
    TendrilCopy tendril;
    const Timed run = grantWithLaterWrites(
        tendril, tree_->path(), {{0, int32Bytes(5)}, {20, int32Bytes(0x00090000)}}, false);
    ASSERT_GT(run.commandMs, 0) << describe(run.messages);
    const std::size_t secured = securedEntries();
    std::printf("walk with other values %.0f ms, secured %zu of %zu entries\n", run.commandMs,
                secured, entries_->size());
    EXPECT_EQ(secured, entries_->size()) << "a value other than 9 stopped the walk";
    EXPECT_EQ(run.messages.back().wParam, GrantUsersAccess);
    EXPECT_EQ(run.messages.back().lParam, 0);
}

// The launcher goes away while the command runs: the watch thread sees the broken pipe and ends,
// rather than spinning on failed reads until the process exits. Under Wine a spinning read costs
// mostly wineserver time, so Tendril's own CPU time cannot show it; its thread count can.
TEST_F(CancelTest, ALauncherThatGoesAwayEndsTheWatchWhileTheCommandRuns) {
    TendrilCopy tendril;
    const Timed run = grantWithLaterWrites(tendril, tree_->path(), {}, true);
    ASSERT_GT(run.commandMs, 0) << describe(run.messages);
    std::printf("walk %.0f ms; the watch thread ended %.0f ms after the launcher went%s\n",
                run.commandMs, run.endMs,
                run.endedWhileHeld ? ", while the command was held" : "");
    ASSERT_TRUE(run.watchSeen) << "no watch thread appeared";
    ASSERT_FALSE(run.resultBeforeHold) << "the walk ended before it could be held";
    EXPECT_TRUE(run.watchEnded) << "the watch thread should end once the pipe is broken";
    EXPECT_FALSE(run.resultBeforeEnd) << "the watch thread lived until the walk ended";
    EXPECT_EQ(run.messages.back().wParam, GrantUsersAccess);
    EXPECT_EQ(securedEntries(), entries_->size()) << "the walk went on to the end";
}

}  // namespace
}  // namespace tendril::test
