// The log beside the executable when it is not plainly ours: the run goes on without a log, the
// launcher sees the protocol it always sees, and no other file is written.
#include "e2e_support.h"

#include "common/unique_handle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace tendril::test {
namespace {

using launch::Request;
using launch::RunOptions;
using launch::RunResult;

const std::string kOtherBytes = "somebody else's file\r\n";

std::vector<std::wstring> namesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &data));
    if (!find) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(find.get(), &data));
    return names;
}

// Users gave a file of another's a second name where the log goes: it is neither truncated nor
// written, and the command still runs and ends as usual.
TEST(LogSafety, ALogNameThatIsASecondNameOfAnotherFileIsLeftAlone) {
    TendrilCopy tendril;
    ScratchFolder outside(L"e2eoutside");
    const std::wstring other = outside / L"system.dat";
    ASSERT_TRUE(writeFile(other, kOtherBytes));
    ASSERT_TRUE(::CreateHardLinkW(tendril.logPath().c_str(), other.c_str(), nullptr))
        << ::GetLastError();

    Request request;
    request.command = NoOperation;
    RunOptions options;
    options.tendrilPath = tendril.path();
    options.timeoutMs = 60000;
    const RunResult run = launch::runCommand(options, request);
    ASSERT_TRUE(run.connected) << describe(run.messages);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.messages.size(), 1u) << describe(run.messages);
    EXPECT_EQ(run.messages[0].message, WM_ASSISTANT_CONNECTED);
    EXPECT_EQ(run.messages[0].lParam, 0);
    EXPECT_EQ(readFile(other), kOtherBytes);
    EXPECT_EQ(tendril.log(), kOtherBytes);
}

// An executable whose path does not fit the 260-character buffer: the buffer holds a cut path,
// and "<cut path>.log" would be another file (here "tendril..log" beside it). No log is written
// anywhere, and the pipe name made from the cut path is not the launcher's, so the connection
// fails as it does for any missing pipe.
TEST(LogSafety, AModulePathTooLongForItsBufferGivesNoLog) {
    // Wine's CreateProcessW cannot start a program at such a path (error 2); its loader, started
    // as a native program, can.
    if (sizeof(void*) == 4)
        GTEST_SKIP() << "a 32-bit test build cannot start it so under Wine 8.0: the native loader, "
                        "started from a 32-bit process, reports the program's file not found";
    const std::wstring loader = L"Z:\\usr\\lib\\wine\\wine64";
    if (!exists(loader)) GTEST_SKIP() << "no Wine loader at /usr/lib/wine/wine64 to start it with";

    ScratchFolder base(L"e2elong");
    // A folder of exactly 250 characters makes "<folder>\tendril.exe" 262 long: the cut path is
    // "<folder>\tendril." (259 characters and the terminator).
    std::wstring folder = base.path();
    while (folder.size() < 250) {
        const std::size_t room = 250 - folder.size() - 1;
        folder += L"\\" + std::wstring(room < 100 ? room : 100, L'd');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << ::GetLastError();
    }
    ASSERT_EQ(folder.size(), 250u);
    const std::wstring exe = L"\\\\?\\" + folder + L"\\tendril.exe";
    ASSERT_TRUE(::CopyFileW(buildPath(TENDRIL_EXE).c_str(), exe.c_str(), FALSE))
        << ::GetLastError();

    launch::MessageWindow window;
    launch::LauncherPipe pipe = launch::LauncherPipe::create(L"tendril.exe");
    ASSERT_TRUE(pipe.valid()) << pipe.error();
    // Through a shell: started directly from here, the loader cannot find its own files.
    runUnix("/bin/sh", {"-c", "exec /usr/lib/wine/wine64 $0 $1", narrow(folder + L"\\tendril.exe"),
                        narrow(launch::windowArgument(window.handle()))});
    const auto hello = window.waitFor(
        [](const launch::ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; },
        30000);
    ASSERT_TRUE(hello.has_value()) << "tendril.exe at a 262-character path did not answer";
    EXPECT_EQ(hello->wParam, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(hello->lParam, PipeOpenFailed);
    // The log is opened before the pipe, so a log would be there by now.
    EXPECT_EQ(namesIn(folder), std::vector<std::wstring>{L"tendril.exe"});

    // The process is not ours to wait for: its file can be removed once it has gone.
    for (int i = 0; i < 500 && !::DeleteFileW(exe.c_str()); ++i) ::Sleep(20);
    window.drain();
    EXPECT_EQ(window.messages().size(), 1u) << describe(window.messages());
}

}  // namespace
}  // namespace tendril::test
