// Writing shortcuts into the prefix's real all-users Start menu and Programs folder: the file, its
// properties, the group folder, the folder icon and every name that must create nothing.
#include "shell/shortcut_creation.h"

#include "installation_in_request.h"
#include "shell/folder_icon.h"
#include "support/shell_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tendril::test {
namespace {

constexpr wchar_t kInstallation[] = L"C:\\Games\\Tendril Test";
constexpr wchar_t kTarget[] = L"C:\\Games\\Tendril Test\\bin\\app.exe";

class ShortcutCreationTest : public ::testing::Test {
protected:
    InstallationInRequest installation{kInstallation};
    UniqueShortcutNames names;
    const std::wstring& name() const { return names.name(); }
    std::wstring groupFile(const std::wstring& shortcut) const {
        return names.group() + L"\\" + shortcut + L".lnk";
    }
};

// Both targets lie in the installation: the first shortcut is its own to rewrite.
TEST_F(ShortcutCreationTest, CreatingTwiceLeavesOneRewrittenFile) {
    ASSERT_TRUE(createShortcut(std::wstring(kInstallation) + L"\\one.exe", L"App",
                               CSIDL_COMMON_PROGRAMS, name(), false));
    EXPECT_TRUE(comIsClosedOnThisThread());
    ASSERT_TRUE(createShortcut(kTarget, L"App", CSIDL_COMMON_PROGRAMS, name(), false));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(folderNames(names.group()), std::vector<std::wstring>{L"App.lnk"});
    EXPECT_EQ(readShortcut(groupFile(L"App")).path, kTarget);
}

TEST_F(ShortcutCreationTest, TheLinkStartsTheTargetInItsFolderWithItsIcon) {
    const struct {
        const wchar_t* target;
        const wchar_t* workingDirectory;
    } cases[] = {
        {L"C:\\Games\\X\\app.exe", L"C:\\Games\\X"},
        {L"C:\\Games\\X/bin/app.exe", L"C:\\Games"},
        {L"C:/Games/app.exe", L"C:/Games"},
        {L"app.exe", L""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(narrowPath(c.target));
        const std::wstring shortcut = L"Link " + std::to_wstring(++n);
        ASSERT_TRUE(createShortcut(c.target, shortcut, CSIDL_COMMON_PROGRAMS, name(), false));
        EXPECT_TRUE(comIsClosedOnThisThread());
        const StoredShortcut stored = readShortcut(groupFile(shortcut));
        ASSERT_TRUE(stored.loaded);
        EXPECT_EQ(stored.workingDirectory, c.workingDirectory);
        EXPECT_EQ(stored.iconIndex, 0);
        EXPECT_EQ(stored.arguments, L"");
        // The shell keeps a full target as it was given; a bare file name it may complete.
        if (std::wstring(c.target).find(L':') != std::wstring::npos) {
            EXPECT_EQ(stored.iconPath, c.target);
        }
    }
    const StoredShortcut full = readShortcut(groupFile(L"Link 1"));
    EXPECT_EQ(full.path, L"C:\\Games\\X\\app.exe");
}

TEST_F(ShortcutCreationTest, WithoutASubfolderTheShortcutLiesInTheSpecialFolder) {
    const std::wstring shortcut = name() + L" (2)";
    ASSERT_TRUE(createShortcut(kTarget, shortcut, CSIDL_COMMON_STARTMENU, L"", false));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(readShortcut(names.startMenu() + L"\\" + shortcut + L".lnk").path, kTarget);
}

TEST_F(ShortcutCreationTest, AMissingGroupIsCreatedOneLevelOnly) {
    ASSERT_FALSE(isDirectory(names.group()));
    ASSERT_TRUE(createShortcut(kTarget, L"App", CSIDL_COMMON_PROGRAMS, name(), false));
    EXPECT_TRUE(isDirectory(names.group()));
    EXPECT_TRUE(exists(groupFile(L"App")));

    const std::wstring deeper = name() + L"-parent\\child";
    EXPECT_FALSE(createShortcut(kTarget, L"App", CSIDL_COMMON_PROGRAMS, deeper, false));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_FALSE(exists(names.programs() + L"\\" + name() + L"-parent"));
}

TEST_F(ShortcutCreationTest, TheFolderIconIsWrittenToTheGroupsDesktopIni) {
    ASSERT_TRUE(createShortcut(kTarget, L"App", CSIDL_COMMON_PROGRAMS, name(), true));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_TRUE(exists(groupFile(L"App")));
    const std::string ini = readFile(names.group() + L"\\Desktop.ini");
    EXPECT_NE(ini.find("IconResource=" + narrowPath(kTarget)), std::string::npos) << ini;
}

// What the fake folder-settings procedure was given.
struct SeenCall {
    int calls = 0;
    SHFOLDERCUSTOMSETTINGS settings{};
    std::wstring iconFile;
    std::wstring path;
    DWORD readWrite = 0;
    HRESULT answer = S_OK;
    std::vector<std::string> namesAsked;
    const char* offeredName = nullptr;  // the one name the fake shell32 exports, or none
} seen;

HRESULT WINAPI fakeFolderSettings(SHFOLDERCUSTOMSETTINGS* settings, const wchar_t* path,
                                  DWORD readWrite) {
    ++seen.calls;
    seen.settings = *settings;
    seen.iconFile = settings->pszIconFile ? settings->pszIconFile : L"<null>";
    seen.path = path;
    seen.readWrite = readWrite;
    return seen.answer;
}

FolderSettingsProc fakeFind(HMODULE shell32, const char* name) {
    EXPECT_NE(shell32, nullptr);
    seen.namesAsked.push_back(name);
    return seen.offeredName && std::strcmp(name, seen.offeredName) == 0 ? fakeFolderSettings
                                                                        : nullptr;
}

constexpr FolderSettingsLookup kFakeLookup{fakeFind};

TEST_F(ShortcutCreationTest, TheFolderIconRecordNamesOnlyTheIconFile) {
    for (const char* offered : {kFolderSettingsNameW, kFolderSettingsName}) {
        SCOPED_TRACE(offered);
        seen = SeenCall{};
        seen.offeredName = offered;
        ASSERT_TRUE(
            createShortcutWith(kTarget, L"App", CSIDL_COMMON_PROGRAMS, name(), true, kFakeLookup));
        EXPECT_TRUE(comIsClosedOnThisThread());
        ASSERT_EQ(seen.calls, 1);
        const std::vector<std::string> expectedNames =
            offered == kFolderSettingsNameW
                ? std::vector<std::string>{kFolderSettingsNameW}
                : std::vector<std::string>{kFolderSettingsNameW, kFolderSettingsName};
        EXPECT_EQ(seen.namesAsked, expectedNames);
        EXPECT_EQ(seen.settings.dwSize, sizeof(SHFOLDERCUSTOMSETTINGS));
        EXPECT_EQ(seen.settings.dwMask, static_cast<DWORD>(FCSM_ICONFILE));
        EXPECT_EQ(seen.iconFile, kTarget);
        EXPECT_EQ(seen.settings.cchIconFile, 0u);
        EXPECT_EQ(seen.settings.iIconIndex, 0);
        EXPECT_EQ(seen.settings.pvid, nullptr);
        EXPECT_EQ(seen.settings.pszWebViewTemplate, nullptr);
        EXPECT_EQ(seen.settings.pszWebViewTemplateVersion, nullptr);
        EXPECT_EQ(seen.settings.pszInfoTip, nullptr);
        EXPECT_EQ(seen.settings.pclsid, nullptr);
        EXPECT_EQ(seen.settings.dwFlags, 0u);
        EXPECT_EQ(seen.settings.pszLogo, nullptr);
        EXPECT_EQ(seen.settings.cchLogo, 0u);
        EXPECT_EQ(seen.path, names.group());
        EXPECT_EQ(seen.readWrite, static_cast<DWORD>(FCS_FORCEWRITE));
    }
}

TEST_F(ShortcutCreationTest, TheFolderIconsResultIsTheResultAndTheShortcutStays) {
    seen = SeenCall{};
    seen.offeredName = kFolderSettingsName;
    seen.answer = E_ACCESSDENIED;
    EXPECT_FALSE(
        createShortcutWith(kTarget, L"App", CSIDL_COMMON_PROGRAMS, name(), true, kFakeLookup));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(readShortcut(groupFile(L"App")).path, kTarget);
}

TEST_F(ShortcutCreationTest, WithNeitherProcedureTheShortcutIsCreatedAndTheResultIsTrue) {
    seen = SeenCall{};
    EXPECT_TRUE(
        createShortcutWith(kTarget, L"App", CSIDL_COMMON_PROGRAMS, name(), true, kFakeLookup));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(seen.namesAsked,
              (std::vector<std::string>{kFolderSettingsNameW, kFolderSettingsName}));
    EXPECT_EQ(seen.calls, 0);
    EXPECT_EQ(folderNames(names.group()), std::vector<std::wstring>{L"App.lnk"});
}

TEST_F(ShortcutCreationTest, WithoutASubfolderTheIconGoesToTheSpecialFolderItself) {
    RedirectedShellFolders redirected;
    ASSERT_TRUE(redirected.ok()) << redirected.problem();
    seen = SeenCall{};
    seen.offeredName = kFolderSettingsName;
    EXPECT_TRUE(createShortcutWith(kTarget, L"App", CSIDL_COMMON_PROGRAMS, L"", true, kFakeLookup));
    EXPECT_EQ(seen.path, redirected.pathOf(CSIDL_COMMON_PROGRAMS));
    // And with the real procedure, into the special folder's own Desktop.ini.
    EXPECT_TRUE(createShortcut(kTarget, L"App", CSIDL_COMMON_PROGRAMS, L"", true));
    const std::string ini = readFile(redirected.pathOf(CSIDL_COMMON_PROGRAMS) + L"\\Desktop.ini");
    EXPECT_NE(ini.find("IconResource=" + narrowPath(kTarget)), std::string::npos) << ini;
}

TEST_F(ShortcutCreationTest, RefusedArgumentsCreateNothing) {
    const std::wstring startup = specialFolder(CSIDL_COMMON_STARTUP);
    ASSERT_EQ(startup.rfind(names.programs() + L"\\", 0), 0u);
    const std::wstring startupName = startup.substr(names.programs().size() + 1);
    const std::vector<std::wstring> before = folderNames(startup);
    const struct {
        std::wstring target;
        std::wstring shortcut;
        int csidl;
        std::wstring subfolder;
    } cases[] = {
        {L"", L"App", CSIDL_COMMON_PROGRAMS, name()},
        {kTarget, L"", CSIDL_COMMON_PROGRAMS, name()},
        // Names that climb out of their folder, or name a stream or a drive.
        {kTarget, L"..\\" + name(), CSIDL_COMMON_PROGRAMS, L""},
        {kTarget, L"../" + name(), CSIDL_COMMON_PROGRAMS, L""},
        {kTarget, name() + L"\\x", CSIDL_COMMON_STARTMENU, L""},
        {kTarget, L"C:" + name(), CSIDL_COMMON_STARTMENU, L""},
        {kTarget, name() + L":x", CSIDL_COMMON_STARTMENU, L""},
        {kTarget, L".", CSIDL_COMMON_PROGRAMS, name()},
        {kTarget, L"..", CSIDL_COMMON_PROGRAMS, name()},
        // Groups outside the Programs folder, or in the all-users Startup folder.
        {kTarget, name(), CSIDL_COMMON_PROGRAMS, L".."},
        {kTarget, L"App", CSIDL_COMMON_PROGRAMS, L"..\\" + name()},
        {kTarget, L"App", CSIDL_COMMON_PROGRAMS, name() + L"\\..\\..\\" + name()},
        {kTarget, name(), CSIDL_COMMON_PROGRAMS, startupName},
        {kTarget, L"App", CSIDL_COMMON_PROGRAMS, startupName + L"\\" + name()},
        {kTarget, name(), CSIDL_COMMON_STARTUP, L""},
        {kTarget, L"App", CSIDL_COMMON_PROGRAMS, name() + L":x"},
        // A folder without a file-system path.
        {kTarget, name(), CSIDL_CONTROLS, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrowPath(c.shortcut + L" in " + c.subfolder));
        EXPECT_FALSE(createShortcut(c.target, c.shortcut, c.csidl, c.subfolder, true));
        EXPECT_TRUE(comIsClosedOnThisThread());
    }
    // Nothing of this test's name anywhere: not in either folder, their parents or Startup.
    for (const std::wstring& folder :
         {names.startMenu(), names.programs(), names.startMenu() + L"\\..", startup}) {
        for (const std::wstring& entry : folderNames(folder))
            EXPECT_EQ(entry.find(name()), std::wstring::npos)
                << narrowPath(folder) << " holds " << narrowPath(entry);
    }
    EXPECT_EQ(folderNames(startup), before);
}

TEST_F(ShortcutCreationTest, NothingIsSavedIntoAGroupThatIsALink) {
    ScratchFolder outside(L"outside");
    ASSERT_TRUE(writeFile(outside / L"keep.txt", "x"));
    ASSERT_TRUE(makeDirectoryLink(outside.path(), names.group()));
    EXPECT_FALSE(createShortcut(kTarget, L"App", CSIDL_COMMON_PROGRAMS, name(), true));
    EXPECT_FALSE(createShortcut(kTarget, L"App", CSIDL_COMMON_PROGRAMS, name() + L"\\Sub", true));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(folderNames(outside.path()), std::vector<std::wstring>{L"keep.txt"});
    removeDirectoryLink(names.group());
}

}  // namespace
}  // namespace tendril::test
