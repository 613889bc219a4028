// Requests that name the system's own folders, keys or programs are refused before anything is
// touched.
#include "e2e_support.h"
#include "support/security_traces.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace tendril::test {
namespace {

using launch::Request;
using launch::RunOptions;
using launch::RunResult;

std::wstring folderOf(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    return buffer;
}

std::wstring windowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return buffer;
}

RunResult run(const TendrilCopy& tendril, std::int32_t command, const std::wstring& folder,
              const std::wstring& regPath, const std::wstring& argument = L"") {
    Request request;
    request.command = command;
    Request::setText(request.record.installFolder, folder);
    Request::setText(request.record.regPath, regPath);
    Request::setText(request.record.argument, argument);
    RunOptions options;
    options.tendrilPath = tendril.path();
    options.timeoutMs = 60000;
    return launch::runCommand(options, request);
}

TEST(ProtectedLocations, TheGrantRefusesSystemFoldersAndKeys) {
    TendrilCopy tendril;
    ScratchFolder install(L"client");
    const std::wstring profile = folderOf(CSIDL_PROFILE);
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    struct Case {
        std::wstring folder;
        std::wstring regPath;  // empty: a fresh scratch key, which a grant would create
        std::wstring refused;  // what the log names
    };
    const Case cases[] = {
        {windowsFolder(), L"", windowsFolder()},
        {folderOf(CSIDL_PROGRAM_FILES), L"", folderOf(CSIDL_PROGRAM_FILES)},
        {profile.substr(0, profile.rfind(L'\\')), L"", profile.substr(0, profile.rfind(L'\\'))},
        {profile, L"", profile},
        {install.path(), L"SOFTWARE", L"SOFTWARE"},
        {install.path(), uninstall, uninstall},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.folder + L" | " + c.regPath));
        ScratchRegistryKey scratchKey;
        const std::wstring regPath = c.regPath.empty() ? scratchKey.path() : c.regPath;
        const std::wstring daclBefore = keyDaclText(regPath);
        const RunResult result = run(tendril, GrantUsersAccess, c.folder, regPath);
        ASSERT_TRUE(result.result.has_value()) << describe(result.messages);
        EXPECT_EQ(*result.result, std::make_pair(static_cast<std::int32_t>(GrantUsersAccess),
                                                 static_cast<std::int32_t>(AccessNotGranted)));
        EXPECT_NE(tendril.log().find("Refused protected location: " + narrow(c.refused) + "\r\n"),
                  std::string::npos)
            << tendril.log();
        // Nothing was secured: the key keeps its list (a fresh one is not even created), and no
        // "Install" key appeared below it.
        EXPECT_EQ(keyDaclText(regPath), daclBefore);
        EXPECT_EQ(keyDaclText(regPath + L"\\Install"), L"") << "no such key";
    }
}

TEST(ProtectedLocations, TerminationRefusesTheSystemsOwnPrograms) {
    TendrilCopy tendril;
    const std::wstring program =
        windowsFolder() + L"\\system32\\" + uniqueName(L"tendril-sleeper") + L".exe";
    ASSERT_TRUE(::CopyFileW(buildPath(E2E_SLEEPER_EXE).c_str(), program.c_str(), FALSE));
    launch::Handle running = launch::startTendril(program, L"", launch::StartMethod::CreateProcess);
    ASSERT_TRUE(running);
    ::Sleep(500);  // let it map its executable

    const RunResult result = run(tendril, TerminateProcesses, L"", L"", program);
    ASSERT_TRUE(result.result.has_value()) << describe(result.messages);
    EXPECT_EQ(*result.result, std::make_pair(static_cast<std::int32_t>(TerminateProcesses),
                                             static_cast<std::int32_t>(TerminateFailed)));
    EXPECT_EQ(::WaitForSingleObject(running.get(), 0), WAIT_TIMEOUT) << "it was ended";
    EXPECT_NE(tendril.log().find("Refused protected location: " + narrow(program)),
              std::string::npos)
        << tendril.log();

    ::TerminateProcess(running.get(), 1);
    ::WaitForSingleObject(running.get(), 5000);
    ::DeleteFileW(program.c_str());
}

}  // namespace
}  // namespace tendril::test
