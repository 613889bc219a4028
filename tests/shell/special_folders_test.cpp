// The special-folder look-up, the COM rule it keeps, and the target-folder rule.
#include "shell/special_folders.h"

#include "support/shell_fixture.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <thread>

namespace tendril::test {
namespace {

TEST(SpecialFolders, TheSixFoldersResolveToTheirFoldersAndLeaveComClosed) {
    const std::wstring allUsersMenu = specialFolder(CSIDL_COMMON_STARTMENU);
    const std::wstring ownMenu = specialFolder(CSIDL_STARTMENU);
    const struct {
        int csidl;
        std::wstring expected;  // empty: only its existence is checked
    } cases[] = {
        {CSIDL_DESKTOP, L""},
        {CSIDL_COMMON_DESKTOPDIRECTORY, L""},
        {CSIDL_COMMON_STARTMENU, L""},
        {CSIDL_STARTMENU, L""},
        {CSIDL_COMMON_PROGRAMS, allUsersMenu + L"\\Programs"},
        {CSIDL_PROGRAMS, ownMenu + L"\\Programs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.csidl);
        std::wstring path;
        ASSERT_TRUE(getSpecialFolderPath(c.csidl, path));
        EXPECT_TRUE(comIsClosedOnThisThread());
        ASSERT_GE(path.size(), 4u);
        EXPECT_EQ(path[1], L':');
        if (!c.expected.empty()) {
            EXPECT_EQ(path, c.expected);
        }
    }
    EXPECT_NE(allUsersMenu, ownMenu);
    EXPECT_NE(allUsersMenu.find(L"Start Menu"), std::wstring::npos) << narrowPath(allUsersMenu);
}

TEST(SpecialFolders, AFolderThatCannotBeResolvedLeavesThePathAlone) {
    // A virtual folder without a file-system path, and an identifier no system knows.
    for (const int csidl : {CSIDL_CONTROLS, 0x00F0}) {
        SCOPED_TRACE(csidl);
        std::wstring empty;
        EXPECT_FALSE(getSpecialFolderPath(csidl, empty));
        EXPECT_TRUE(empty.empty());
        std::wstring kept = L"kept";
        EXPECT_FALSE(getSpecialFolderPath(csidl, kept));
        EXPECT_EQ(kept, L"kept");
        EXPECT_TRUE(comIsClosedOnThisThread());
    }
}

TEST(SpecialFolders, NestsInsideTheCallersApartment) {
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    std::wstring path;
    EXPECT_TRUE(getSpecialFolderPath(CSIDL_COMMON_PROGRAMS, path));
    // The caller's apartment is still open: a further initialisation nests.
    EXPECT_EQ(::CoInitialize(nullptr), S_FALSE);
    ::CoUninitialize();
    ::CoUninitialize();
    EXPECT_TRUE(comIsClosedOnThisThread());
}

TEST(SpecialFolders, AThreadInAnotherApartmentGetsNothing) {
    bool found = true;
    std::wstring path;
    HRESULT joined = E_FAIL;
    std::thread worker([&] {
        joined = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        found = getSpecialFolderPath(CSIDL_COMMON_PROGRAMS, path);
        if (SUCCEEDED(joined)) ::CoUninitialize();
    });
    worker.join();
    ASSERT_EQ(joined, S_OK);
    EXPECT_FALSE(found) << "CoInitialize must fail (RPC_E_CHANGED_MODE) on a multithreaded thread";
    EXPECT_TRUE(path.empty());
}

TEST(SpecialFolders, TargetFolderRule) {
    const struct {
        const wchar_t* target;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\Games\\X\\app.exe", L"C:\\Games\\X"},
        {L"C:\\app.exe", L"C:"},
        {L"C:/Games/app.exe", L"C:/Games"},
        // A backslash anywhere wins over forward slashes.
        {L"C:\\Games\\X/bin/app.exe", L"C:\\Games"},
        {L"app.exe", L""},
        {L"\\app.exe", L""},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(targetFolder(c.target), c.folder) << narrowPath(c.target);
}

}  // namespace
}  // namespace tendril::test
