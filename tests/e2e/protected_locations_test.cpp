// Requests that name the system's own folders, keys or programs, or reach a key through a
// registry link, are refused before anything is touched.
#include "e2e_support.h"
#include "support/security_traces.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <memory>

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
    // A key of our own standing in for a service's key.
    ScratchRegistryKey services;
    const std::wstring standIn = services.path() + L"\\" + uniqueName(L"svc");
    {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, standIn.c_str(), &key), ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    struct Case {
        std::wstring folder;
        std::wstring regPath;  // empty: a fresh scratch key, which a grant would create
        std::wstring refused;  // what the log names
        // Set: after a grant on the scratch key Users planted a registry link "L" in it that
        // leads to this key's parent, and regPath is <scratch key>\L\<this key's name>. The text
        // names no system key, yet the grant would secure this one and create "Install" below it.
        std::wstring reachedKey = L"";
    };
    const Case cases[] = {
        {windowsFolder(), L"", windowsFolder()},
        {folderOf(CSIDL_PROGRAM_FILES), L"", folderOf(CSIDL_PROGRAM_FILES)},
        {profile.substr(0, profile.rfind(L'\\')), L"", profile.substr(0, profile.rfind(L'\\'))},
        {profile, L"", profile},
        {install.path(), L"SOFTWARE", L"SOFTWARE"},
        {install.path(), uninstall, uninstall},
        {install.path(), L"", L"", standIn},
        // On Windows whatever a service key's ImagePath names runs as SYSTEM.
        {install.path(), L"", L"", L"SYSTEM\\CurrentControlSet\\Services\\Schedule"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.folder + L" | " + c.regPath + L" | " + c.reachedKey));
        ScratchRegistryKey scratchKey;
        std::wstring regPath = c.regPath.empty() ? scratchKey.path() : c.regPath;
        std::string refusal = "Refused protected location: " + narrow(c.refused);
        std::unique_ptr<ScratchRegistryLink> link;
        if (!c.reachedKey.empty()) {
            const std::size_t slash = c.reachedKey.rfind(L'\\');
            link = std::make_unique<ScratchRegistryLink>(scratchKey.path() + L"\\L",
                                                         c.reachedKey.substr(0, slash));
            ASSERT_TRUE(link->created());
            regPath = link->path() + c.reachedKey.substr(slash);
            ASSERT_NE(keyDaclText(regPath), L"") << "the link leads nowhere";
            refusal = "Refused registry path: " + narrow(regPath) + ": a link on the way (" +
                      narrow(link->path()) + ")";
        }
        const std::wstring daclBefore = keyDaclText(regPath);
        const RunResult result = run(tendril, GrantUsersAccess, c.folder, regPath);
        ASSERT_TRUE(result.result.has_value()) << describe(result.messages);
        EXPECT_EQ(*result.result, std::make_pair(static_cast<std::int32_t>(GrantUsersAccess),
                                                 static_cast<std::int32_t>(AccessNotGranted)));
        EXPECT_NE(tendril.log().find(refusal + "\r\n"), std::string::npos) << tendril.log();
        // Nothing was secured: the key keeps its list (a fresh one is not even created), and no
        // "Install" key appeared below it.
        EXPECT_EQ(keyDaclText(regPath), daclBefore);
        EXPECT_EQ(keyDaclText(regPath + L"\\Install"), L"") << "no such key";
        // Should the grant have gone through, nothing of it stays below a service.
        if (link) ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, (regPath + L"\\Install").c_str());
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
