// No amplification, for folders: an existing folder whose access list the launcher's user may not
// change is not acted on for that user, whatever the command. Wine makes file access lists up from
// Unix permissions, so such a folder cannot be made here: the seam answers for the launcher's user.
#include "commands/process_termination.h"
#include "commands/rename.h"
#include "commands/uninstall.h"
#include "filetree/access_grant.h"
#include "install/install_directory_list.h"
#include "install/install_naming.h"
#include "install/refresh_command.h"
#include "launcher_link/launcher_user.h"
#include "launcher_link/link_fixture.h"
#include "shell/shortcut_command.h"
#include "support/shell_fixture.h"
#include "support/security_traces.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

#include <functional>

namespace tendril {
namespace {

class NotTheLaunchersFolder : public test::LinkStateTest {
protected:
    void SetUp() override {
        test::LinkStateTest::SetUp();
        launcherFolderAccessSeam = [](HANDLE, ACCESS_MASK) { return false; };
    }
    void TearDown() override {
        launcherFolderAccessSeam = nullptr;
        test::LinkStateTest::TearDown();
    }
};

TEST_F(NotTheLaunchersFolder, IsNeitherRegisteredSecuredEmptiedNorMoved) {
    const struct {
        const char* what;
        std::function<void()> run;
        std::int32_t error;
    } cases[] = {
        {"command 1 registers it", [] { refreshRegistration(); }, AccessNotGranted},
        {"command 3 removes it", [] { uninstallClient(); }, InstallFolderTooShort},
        {"command 4 opens it up",
         [] {
             grantInstallAccess(fieldText(assistantRequest.installFolder),
                                fieldText(assistantRequest.regPath), false);
         },
         AccessNotGranted},
        {"command 8 moves it", [] { commands::SetLongName(); }, InstallFolderUnavailable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder folder(L"notours");
        test::ScratchRegistryKey key;
        ASSERT_TRUE(test::writeFile(folder / L"client.exe", "keep"));
        ASSERT_TRUE(test::writeFile(folder / L"applist.dat", "corrupt"));
        InstallDirectoryList list;
        list.open(key.path());
        list.slots()[0] = folder.path();
        list.store();
        assistantRequest = AssistantRequest{};
        wcscpy(assistantRequest.installFolder, folder.path().c_str());
        wcscpy(assistantRequest.regPath, key.path().c_str());
        wcscpy(assistantRequest.longName, L"TendrilUnitTest");
        wcscpy(assistantRequest.exeName, L"client.exe");
        const std::wstring destination = folder.path() + L"-moved";
        wcscpy(assistantRequest.argument,
               (L"\"" + destination + L"\" \"s\" \"TendrilUnitTest\" \"" + key.path() + L"\" \"i\"")
                   .c_str());
        lastAssistantError = 0;

        c.run();
        EXPECT_EQ(lastAssistantError, c.error);
        EXPECT_EQ(test::readFile(folder / L"client.exe"), "keep");
        EXPECT_EQ(test::readFile(folder / L"applist.dat"), "corrupt");
        EXPECT_FALSE(test::exists(destination));
        list.load();
        EXPECT_EQ(list.slots()[0], folder.path());
    }
}

// The all-users shortcuts into a folder are its installation's to replace and delete only when the
// folder is the launcher's user's own: else the user could take away another product's.
TEST_F(NotTheLaunchersFolder, NorAreTheShortcutsIntoItDeleted) {
    test::ScratchFolder folder(L"notours");
    test::ScratchRegistryKey key;
    test::UniqueShortcutNames names;
    InstallDirectoryList list;
    list.open(key.path());
    list.slots()[0] = folder.path();
    list.store();
    assistantRequest = AssistantRequest{};
    wcscpy(assistantRequest.installFolder, folder.path().c_str());
    wcscpy(assistantRequest.regPath, key.path().c_str());
    assistantRequest.startMenuShortcuts = 1;
    assistantRequest.entryCount = 1;
    entryList.assign(1, RequestEntry{});
    wcscpy(entryList[0].name, names.name().c_str());
    wcscpy(entryList[0].path, L"client.exe");  // create 0: delete it
    const std::wstring shortcut =
        names.startMenu() + L"\\" + makeInstallName(names.name(), false, 0) + L".lnk";
    ASSERT_TRUE(test::writeShortcut(shortcut, folder / L"client.exe"));

    applyShortcuts();
    EXPECT_TRUE(test::exists(shortcut)) << "another product's shortcut was deleted";

    launcherFolderAccessSeam = nullptr;  // the launcher's own folder: its shortcut goes
    applyShortcuts();
    EXPECT_FALSE(test::exists(shortcut));
}

TEST_F(NotTheLaunchersFolder, EndsNoProgramOfIt) {
    test::ScratchFolder folder(L"notours");
    const std::wstring program = folder / L"sleeper.exe";
    ASSERT_TRUE(::CopyFileW(test::buildPath(E2E_SLEEPER_EXE).c_str(), program.c_str(), FALSE));
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                 nullptr, nullptr, &startup, &started));
    const UniqueHandle process(started.hProcess), thread(started.hThread);
    ::Sleep(300);  // let it map its executable

    EXPECT_FALSE(terminateProcessesByPath(program));
    EXPECT_EQ(::WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "it was ended";

    launcherFolderAccessSeam = nullptr;  // the launcher's own folder: its program is ended
    EXPECT_TRUE(terminateProcessesByPath(program));
    EXPECT_EQ(::WaitForSingleObject(process.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
}

// A process of the test's own user with Administrators disabled: a launcher of a standard user.
UniqueHandle startStandardUserProcess(const std::wstring& program) {
    UniqueHandle own, restricted;
    BYTE sidBuffer[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sidBuffer;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()) ||
        !::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sidBuffer, &sidSize))
        return {};
    SID_AND_ATTRIBUTES administrators{sidBuffer, 0};
    if (!::CreateRestrictedToken(own.get(), 0, 1, &administrators, 0, nullptr, 0, nullptr,
                                 restricted.put()))
        return {};
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessAsUserW(restricted.get(), program.c_str(), commandLine.data(), nullptr,
                                nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return {};
    ::CloseHandle(started.hThread);
    return UniqueHandle(started.hProcess);
}

// Wine keeps the access lists of keys: a standard user's launcher is shown the rule for real.
// A key that only administrators may change is neither opened up, nor recorded in, nor taken as
// the records of an uninstall, while a key Tendril creates itself is still the launcher's.
TEST_F(NotTheLaunchersFolder, NorIsAKeyOnlyAdministratorsMayChange) {
    launcherFolderAccessSeam = nullptr;  // folders: the test's own, which the user may change
    const UniqueHandle launcher = startStandardUserProcess(test::buildPath(E2E_SLEEPER_EXE));
    ASSERT_TRUE(launcher);
    ASSERT_TRUE(takeLauncherUser(launcher.get()));
    const std::wstring adminsOnly = L"O:BAD:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)(A;OICI;GR;;;BU)";

    const struct {
        const char* what;
        std::function<void()> run;
        std::int32_t error;
    } cases[] = {
        {"command 4 opens it up",
         [] {
             grantInstallAccess(fieldText(assistantRequest.installFolder),
                                fieldText(assistantRequest.regPath), false);
         },
         AccessNotGranted},
        {"command 1 records in it", [] { refreshRegistration(); }, AccessNotGranted},
        {"command 3 takes its records", [] { uninstallClient(); }, InstallFolderTooShort},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder folder(L"standard");
        test::ScratchRegistryKey key;
        ASSERT_TRUE(test::writeFile(folder / L"client.exe", "keep"));
        InstallDirectoryList list;
        list.open(key.path());
        list.slots()[0] = folder.path();
        list.store();
        ASSERT_TRUE(test::setKeyDacl(key.path(), adminsOnly));
        const std::wstring daclBefore = test::keyDaclText(key.path());
        assistantRequest = AssistantRequest{};
        wcscpy(assistantRequest.installFolder, folder.path().c_str());
        wcscpy(assistantRequest.regPath, key.path().c_str());
        wcscpy(assistantRequest.longName, L"TendrilUnitTest");
        wcscpy(assistantRequest.exeName, L"client.exe");
        lastAssistantError = 0;

        c.run();
        EXPECT_EQ(lastAssistantError, c.error);
        EXPECT_EQ(test::keyDaclText(key.path()), daclBefore);
        EXPECT_EQ(test::readFile(folder / L"client.exe"), "keep");
        list.load();
        EXPECT_EQ(list.slots()[0], folder.path());
    }

    // A key that did not exist is created by Tendril and handed to the launcher's Users.
    test::ScratchFolder folder(L"standard");
    test::ScratchRegistryKey key;
    lastAssistantError = 0;
    EXPECT_TRUE(grantInstallAccess(folder.path(), key.path() + L"\\new", false));
    EXPECT_EQ(lastAssistantError, 0);
    EXPECT_NE(test::keyDaclText(key.path() + L"\\new").find(L"(A;OICI;GA;;;BU)"),
              std::wstring::npos);
    ::TerminateProcess(launcher.get(), 0);
}

}  // namespace
}  // namespace tendril
