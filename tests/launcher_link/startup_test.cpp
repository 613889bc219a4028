// Start-up: the window-handle argument, the pipe name and the pipe open with its retry rule.
#include "launcher_link/arguments.h"
#include "launcher_link/pipe_connect.h"

#include "link_fixture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace tendril {
namespace {

TEST(ParseDecimalArgument, BehavesLikeAtoiAndSaturates) {
    struct Case {
        const wchar_t* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {L"  -12abc", -12},
        {L"", 0},
        {L"+7", 7},
        {L"abc", 0},
        {L"131090", 131090},
        {L"0012", 12},
        {L"12 34", 12},
        {L"\t\n\v\f\r 42", 42},
        {L"\t-5", -5},
        {L"-0", 0},
        {L"   ", 0},
        {L"+-3", 0},
        {L"- 3", 0},
        {L"+", 0},
        {L"2147483647", INT32_MAX},
        {L"-2147483648", INT32_MIN},
        {L"2147483648", INT32_MAX},
        {L"-2147483649", INT32_MIN},
        {L"4294967296", INT32_MAX},
        {L"99999999999999999999999999", INT32_MAX},
        {L"-99999999999999999999999999", INT32_MIN},
        {L"\u00a012", 0},      // no-break space is not white space to atoi
        {L"\uff11\uff12", 0},  // full-width digits are not digits
        {L"7\u00e9", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "\"" << std::wstring(c.text) << "\"");
        EXPECT_EQ(parseDecimalArgument(c.text), c.value);
    }
    EXPECT_EQ(parseDecimalArgument(nullptr), 0);
}

TEST(MakePipeName, UsesTheFileNameAfterTheLastBackslashFromIndexOne) {
    struct Case {
        const wchar_t* modulePath;
        const wchar_t* pipeName;
    };
    const Case cases[] = {
        {L"C:\\Tools\\tendril.exe", L"\\\\.\\pipe\\launcher_tendril.exe"},
        {L"C:\\a\\b\\helper name.EXE", L"\\\\.\\pipe\\launcher_helper name.EXE"},
        {L"C:\\Tools\\tendril", L"\\\\.\\pipe\\launcher_tendril"},
        {L"a\\b", L"\\\\.\\pipe\\launcher_b"},          // a backslash at index 1 counts
        {L"\\tendril.exe", L"\\\\.\\pipe\\launcher_"},  // at index 0 it does not
        {L"tendril.exe", L"\\\\.\\pipe\\launcher_"},
        {L"C:\\Tools\\", L"\\\\.\\pipe\\launcher_"},
        {L"", L"\\\\.\\pipe\\launcher_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::wstring(c.modulePath));
        EXPECT_EQ(makePipeName(c.modulePath), c.pipeName);
    }
}

TEST(PipeOpen, RealOpenAsksForIdentificationOnly) {
    // The launcher's pipe server may identify us but never impersonate an elevated process.
    EXPECT_EQ(kPipeOpenFlags, static_cast<DWORD>(SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION));
    EXPECT_EQ(kPipeOpenFlags & 0x000F0000u, static_cast<DWORD>(SECURITY_IDENTIFICATION));
    EXPECT_EQ(kPipeBusyWaitMs, 10000u);
}

// Scripted stand-ins for CreateFileW and WaitNamedPipeW.
struct FakePipeScript {
    std::vector<DWORD> openErrors;  // per open attempt; 0 = success, missing = busy
    int failingWait = 0;            // 1-based number of the wait that fails (121); 0 = none
    int opens = 0;
    int waits = 0;
    std::vector<std::wstring> names;
    std::vector<DWORD> timeouts;
};
FakePipeScript* script = nullptr;

HANDLE fakeOpen(const wchar_t* name) {
    const std::size_t attempt = static_cast<std::size_t>(script->opens++);
    script->names.push_back(name);
    const DWORD error =
        attempt < script->openErrors.size() ? script->openErrors[attempt] : ERROR_PIPE_BUSY;
    if (error == 0) return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);  // something to close
    ::SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

BOOL fakeWait(const wchar_t* name, DWORD timeoutMs) {
    const int wait = ++script->waits;
    script->names.push_back(name);
    script->timeouts.push_back(timeoutMs);
    if (wait == script->failingWait) {
        ::SetLastError(ERROR_SEM_TIMEOUT);
        return FALSE;
    }
    ::SetLastError(0);  // a successful wait may well clear the busy error
    return TRUE;
}

TEST(PipeOpen, RetriesABusyPipeAtMostFiveTimes) {
    struct Case {
        const char* what;
        std::vector<DWORD> openErrors;
        int failingWait;
        bool connected;
        int opens;
        int waits;
        DWORD lastError;  // when not connected
    };
    const DWORD busy = ERROR_PIPE_BUSY;
    const Case cases[] = {
        {"opens at once", {0}, 0, true, 1, 0, 0},
        {"busy four times, then open", {busy, busy, busy, busy, 0}, 0, true, 5, 4, 0},
        {"busy five times", {busy, busy, busy, busy, busy, 0}, 0, false, 5, 5, ERROR_PIPE_BUSY},
        {"busy, the wait times out", {busy}, 1, false, 1, 1, ERROR_SEM_TIMEOUT},
        {"busy twice, the second wait fails", {busy, busy}, 2, false, 2, 2, ERROR_SEM_TIMEOUT},
        {"no such pipe", {ERROR_FILE_NOT_FOUND}, 0, false, 1, 0, ERROR_FILE_NOT_FOUND},
        {"busy twice, then access denied",
         {busy, busy, ERROR_ACCESS_DENIED},
         0,
         false,
         3,
         2,
         ERROR_ACCESS_DENIED},
    };
    const PipeOpenCalls calls{fakeOpen, fakeWait};
    const wchar_t* name = L"\\\\.\\pipe\\launcher_tendril.exe";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePipeScript run;
        run.openErrors = c.openErrors;
        run.failingWait = c.failingWait;
        script = &run;
        UniqueFile pipe = openPipeWithRetry(name, calls);
        const DWORD error = ::GetLastError();
        script = nullptr;
        EXPECT_EQ(pipe.valid(), c.connected);
        EXPECT_EQ(run.opens, c.opens);
        EXPECT_EQ(run.waits, c.waits);
        if (!c.connected) {
            EXPECT_EQ(error, c.lastError);
        }
        for (const std::wstring& used : run.names) EXPECT_EQ(used, name);
        for (const DWORD timeout : run.timeouts) EXPECT_EQ(timeout, 10000u);
    }
}

// The real calls against a pipe served in this process, whose window is a window of ours.
TEST(PipeOpen, ConnectsToAPipeServedByTheWindowOwner) {
    test::MessageRecorder recorder;
    const std::wstring name = L"\\\\.\\pipe\\" + test::uniqueName(L"launcher_tendril");
    UniqueFile server(::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096,
                                         4096, 0, nullptr));
    ASSERT_TRUE(server.valid());

    PipeConnection connection = connectLauncherPipe(name, recorder.window(), realPipeOpenCalls());
    ASSERT_EQ(connection.outcome, ConnectOutcome::Connected);
    ASSERT_TRUE(connection.pipe.valid());
    const std::uint32_t code = 7;
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(server.get(), &code, sizeof code, &written, nullptr));
    std::uint32_t read = 0;
    DWORD got = 0;
    ASSERT_TRUE(::ReadFile(connection.pipe.get(), &read, sizeof read, &got, nullptr));
    EXPECT_EQ(read, 7u);

    // The one instance is taken, and a window of no process is refused before any open.
    FakePipeScript run;
    script = &run;
    PipeConnection refused = connectLauncherPipe(name, nullptr, PipeOpenCalls{fakeOpen, fakeWait});
    script = nullptr;
    EXPECT_EQ(refused.outcome, ConnectOutcome::ServerRefused);
    EXPECT_FALSE(refused.pipe.valid());
    EXPECT_EQ(run.opens, 0);

    // No such pipe: the open fails at once.
    PipeConnection missing =
        connectLauncherPipe(name + L"-missing", recorder.window(), realPipeOpenCalls());
    const DWORD error = ::GetLastError();
    EXPECT_EQ(missing.outcome, ConnectOutcome::OpenFailed);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace tendril
