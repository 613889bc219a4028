// Cancel: the launcher writes 9 while a command walks a tree; the walk stops at its next check.
// Command 4 reports no progress; what shows the stop is how much of the tree it secured. Times
// are printed but judge nothing: under Wine the same walk takes from a fifth to twice its usual
// time on a busy machine.
#include "e2e_support.h"
#include "support/security_traces.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

namespace tendril::test {
namespace {

using launch::ReceivedMessage;
using launch::Request;

int threadCount(DWORD processId) {
    launch::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == processId) ++count;
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
    // The command had ended by the time the thread count dropped (or the wait for it ran out).
    bool resultBeforeDrop = false;
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
        const DWORD tendrilId = ::GetProcessId(process.get());
        // Tendril starts its watch thread once it has read the request.
        for (int i = 0; i < 400 && timed.threadsBeforeClose < 2; ++i) {
            timed.threadsBeforeClose = threadCount(tendrilId);
            if (timed.threadsBeforeClose < 2) ::Sleep(5);
        }
        pipe.close();
        for (int i = 0; i < 200; ++i) {
            timed.threadsAfterClose = threadCount(tendrilId);
            if (timed.threadsAfterClose < timed.threadsBeforeClose) break;
            ::Sleep(5);
        }
        // Only a drop seen while the command still ran shows anything: once the command ends,
        // the closing steps stop the watch thread anyway.
        window.drain();
        timed.resultBeforeDrop = hasResult(window.messages());
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
    std::printf("walk %.0f ms, launcher gone once the watch ran; Tendril's threads %d, then %d\n",
                run.commandMs, run.threadsBeforeClose, run.threadsAfterClose);
    EXPECT_FALSE(run.resultBeforeDrop)
        << "the watch thread lived until the walk ended (or the walk was too short to tell)";
    EXPECT_EQ(run.threadsAfterClose, run.threadsBeforeClose - 1)
        << "the watch thread should end once the pipe is broken";
    EXPECT_EQ(run.messages.back().wParam, GrantUsersAccess);
    EXPECT_EQ(securedEntries(), entries_->size()) << "the walk went on to the end";
}

}  // namespace
}  // namespace tendril::test
