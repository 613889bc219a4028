// Whose rights a request may use, from end to end: the launcher is a process of a standard user
// (the test's user with Administrators disabled) that serves the pipe and owns the window, while
// tendril.exe runs elevated. A key that only administrators may change is not the launcher's to
// have changed: it is neither opened up, nor recorded in, nor taken as the records of an
// uninstall. The same grant for an administrator's launcher goes through. (Folders cannot be
// shown this way: Wine makes their access lists up from Unix permissions, and every user may
// change them. The folder rule is tested through its seam.)
#include "common/unique_handle.h"
#include "e2e_support.h"
#include "support/security_traces.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tendril::test {
namespace {

using launch::Handle;
using launch::Request;
using launch::StartMethod;

// Owned by Administrators, as what an elevated installer creates is on Windows (Wine makes the
// creator's primary group the owner, which the standard user's token holds too).
constexpr wchar_t kAdministratorsOnly[] =
    L"O:BAD:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)(A;OICI;GR;;;BU)";

void recordFolder(const std::wstring& regPath, const std::wstring& folder) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (regPath + L"\\Install").c_str(), L"Directory",
                                REG_SZ, folder.c_str(),
                                static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

std::wstring recordedFolder(const std::wstring& regPath) {
    wchar_t text[512] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, (regPath + L"\\Install").c_str(), L"Directory",
                       RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return L"(none)";
    return text;
}

struct LauncherRun {
    int launcherExit = -1;
    std::string report;  // "message wParam lParam" lines
    // The lParam of the result message for command, or -1.
    long resultOf(std::int32_t command) const {
        std::istringstream lines(report);
        long message = 0, wParam = 0, lParam = 0, result = -1;
        while (lines >> message >> wParam >> lParam)
            if (message == static_cast<long>(WM_ASSISTANT_STATUS) && wParam == command)
                result = lParam;
        return result;
    }
};

// Starts the launcher (Administrators disabled for a standard user), hands its window to an
// elevated tendril.exe, and collects what the launcher received.
LauncherRun runThroughLauncher(const TendrilCopy& tendril, const Request& request,
                               bool standardUser) {
    LauncherRun run;
    const std::wstring requestFile = tendril.folder() / L"request.bin";
    const std::wstring report = tendril.folder() / L"report.txt";
    const std::string bytes = request.serialize();
    EXPECT_TRUE(writeFile(requestFile, bytes));
    const Handle launcher = launch::startTendril(
        buildPath(E2E_STANDARD_LAUNCHER_EXE),
        L"\"" + tendril.fileName() + L"\" \"" + requestFile + L"\" \"" + report + L"\"",
        standardUser ? StartMethod::RestrictedToken : StartMethod::CreateProcess);
    EXPECT_TRUE(launcher);
    if (!launcher) return run;

    std::string window;
    for (int waited = 0; window.empty() && waited < 300; ++waited) {
        if (::WaitForSingleObject(launcher.get(), 100) == WAIT_OBJECT_0) break;
        window = readFile(report + L".window");
    }
    EXPECT_FALSE(window.empty()) << "the launcher did not make its window";
    if (!window.empty()) {
        const Handle process = launch::startTendril(
            tendril.path(), std::wstring(window.begin(), window.end()), StartMethod::RunAs);
        EXPECT_TRUE(process);
        if (process) {
            EXPECT_EQ(::WaitForSingleObject(process.get(), 60000),
                      static_cast<DWORD>(WAIT_OBJECT_0));
        }
    }
    if (::WaitForSingleObject(launcher.get(), 10000) != WAIT_OBJECT_0)
        ::TerminateProcess(launcher.get(), 99);
    DWORD code = 0;
    ::GetExitCodeProcess(launcher.get(), &code);
    run.launcherExit = static_cast<int>(code);
    run.report = readFile(report);
    return run;
}

TEST(StandardUsersLauncher, GetsNoKeyChangedThatOnlyAdministratorsMayChange) {
    const struct {
        const char* what;
        std::int32_t command;
        bool standardUser;
        bool recorded;         // the key holds a record of the folder before the run
        std::int32_t error;
        bool keyKept;          // the key's access list, and its record, as they were
    } cases[] = {
        {"a grant opens the key up", GrantUsersAccess, true, false, AccessNotGranted, true},
        {"a registration records in it", RefreshRegistration, true, false, AccessNotGranted, true},
        {"an uninstall takes its records", UninstallClient, true, true, InstallFolderTooShort,
         true},
        {"an administrator's launcher has the grant", GrantUsersAccess, false, false, NoError,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TendrilCopy tendril;
        ScratchFolder folder(L"standard");
        ScratchRegistryKey key;
        ASSERT_TRUE(writeFile(folder / L"client.exe", "keep"));
        if (c.recorded) {
            recordFolder(key.path(), folder.path());
        } else {
            UniqueKey created;
            ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.path().c_str(), 0, nullptr, 0,
                                        KEY_READ, nullptr, created.put(), nullptr),
                      ERROR_SUCCESS);
        }
        ASSERT_TRUE(setKeyDacl(key.path(), kAdministratorsOnly));
        const std::wstring daclBefore = keyDaclText(key.path());
        const std::wstring recordBefore = recordedFolder(key.path());

        Request request;
        request.command = c.command;
        Request::setText(request.record.installFolder, folder.path());
        Request::setText(request.record.regPath, key.path());
        Request::setText(request.record.longName, L"TendrilStandardUser");
        Request::setText(request.record.shortName, L"tsu");
        Request::setText(request.record.exeName, L"client.exe");
        const LauncherRun run = runThroughLauncher(tendril, request, c.standardUser);

        EXPECT_EQ(run.launcherExit, 0) << run.report;
        EXPECT_EQ(run.resultOf(c.command), c.error) << run.report << tendril.log();
        EXPECT_EQ(readFile(folder / L"client.exe"), "keep");
        if (c.keyKept) {
            EXPECT_EQ(keyDaclText(key.path()), daclBefore);
            EXPECT_EQ(recordedFolder(key.path()), recordBefore);
            EXPECT_NE(tendril.log().find("not the launcher's user's to change"), std::string::npos)
                << tendril.log();
        } else {
            EXPECT_NE(keyDaclText(key.path()), daclBefore);
        }
    }
}

}  // namespace
}  // namespace tendril::test
