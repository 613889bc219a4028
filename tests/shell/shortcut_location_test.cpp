// Which names and groups name a place for a shortcut: nothing may climb out of its special folder
// or land in the all-users Startup folder.
#include "shell/shortcut_location.h"

#include "support/shell_fixture.h"

#include <gtest/gtest.h>

namespace tendril::test {
namespace {

TEST(ShortcutLocation, OnlyPlainNamesNameAShortcut) {
    for (const wchar_t* name : {L"App", L"App (2)", L"Uninstall App", L"a.b", L" x", L"..x"})
        EXPECT_TRUE(isShortcutName(name)) << narrowPath(name);
    for (const wchar_t* name : {L"", L".", L"..", L"...", L". .", L"..\\x", L"..\\..\\x", L"a\\b",
                                L"a/b", L"/x", L"C:x", L"x:stream", L"\\\\server\\share\\x"})
        EXPECT_FALSE(isShortcutName(name)) << narrowPath(name);
}

TEST(ShortcutLocation, PathTextComparisons) {
    EXPECT_TRUE(isStrictlyInside(L"C:\\Start Menu\\Programs", L"C:\\Start Menu\\Programs\\G"));
    EXPECT_TRUE(isStrictlyInside(L"C:\\Start Menu\\Programs", L"c:\\start menu\\PROGRAMS\\g\\h"));
    EXPECT_TRUE(isStrictlyInside(L"C:\\", L"C:\\a"));
    EXPECT_FALSE(isStrictlyInside(L"C:\\Start Menu\\Programs", L"C:\\Start Menu\\Programs"));
    EXPECT_FALSE(isStrictlyInside(L"C:\\Start Menu\\Programs", L"C:\\Start Menu\\Programs2"));
    EXPECT_FALSE(isStrictlyInside(L"C:\\Start Menu\\Programs", L"C:\\Start Menu"));
    EXPECT_FALSE(isStrictlyInside(L"", L"C:\\a"));
    EXPECT_TRUE(isSamePathText(L"C:\\Ä\\x", L"c:\\ä\\X"));
    EXPECT_EQ(resolvedFullPath(L"C:\\a\\b\\..\\c\\"), L"C:\\a\\c");
    EXPECT_EQ(resolvedFullPath(L"C:\\a/b."), L"C:\\a\\b");
}

TEST(ShortcutLocation, AGroupMustStayInsideItsSpecialFolder) {
    ScratchFolder special(L"special");
    const struct {
        const wchar_t* subfolder;
        bool placed;
        const wchar_t* relative;  // of the folder, below the special folder; "" for itself
        bool isGroup;
    } cases[] = {
        {L"", true, L"", false},
        {L"Group", true, L"Group", true},
        {L"Group\\", true, L"Group", true},
        {L"Group\\Sub", true, L"Group\\Sub", true},
        {L"Group/Sub", true, L"Group\\Sub", true},
        {L"Group\\..\\Other", true, L"Other", true},
        // These name the special folder itself: shortcuts go there, no folder is ever removed.
        {L".", true, L"", false},
        {L"Group\\..", true, L"", false},
        // Everything that climbs out, or could name a stream, a drive or a wildcard.
        {L"..", false, L"", false},
        {L"..\\x", false, L"", false},
        {L"Group\\..\\..\\x", false, L"", false},
        {L"..\\..\\..\\..\\..\\..\\Windows", false, L"", false},
        {L"x:stream", false, L"", false},
        {L"C:\\Windows", false, L"", false},
        {L"*", false, L"", false},
        {L"G?", false, L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrowPath(c.subfolder));
        const std::optional<ShortcutFolder> folder = shortcutFolder(special.path(), c.subfolder);
        ASSERT_EQ(folder.has_value(), c.placed);
        if (!folder) continue;
        EXPECT_EQ(folder->specialFolder, special.path());
        const std::wstring expected =
            *c.relative ? special.path() + L"\\" + c.relative : special.path();
        EXPECT_EQ(folder->path, expected);
        EXPECT_EQ(folder->isGroup, c.isGroup);
        if (c.isGroup) {
            EXPECT_EQ(shortcutFilePath(*folder, L"App"), expected + L"\\App.lnk");
        }
    }
}

TEST(ShortcutLocation, TheAllUsersStartupFolderAndWhatLiesInsideItAreRefused) {
    const std::wstring programs = specialFolder(CSIDL_COMMON_PROGRAMS);
    const std::wstring startup = specialFolder(CSIDL_COMMON_STARTUP);
    ASSERT_FALSE(programs.empty());
    ASSERT_TRUE(isStrictlyInside(programs, startup))
        << "this prefix keeps Startup elsewhere: " << narrowPath(startup);
    const std::wstring startupName = startup.substr(programs.size() + 1);
    for (const std::wstring& group : {startupName, startupName + L"\\", startupName + L"\\Sub",
                                      startupName + L".", L"X\\..\\" + startupName}) {
        SCOPED_TRACE(narrowPath(group));
        EXPECT_FALSE(shortcutFolder(programs, group).has_value());
    }
    // The Startup folder asked for as the special folder itself.
    EXPECT_FALSE(shortcutFolder(startup, L"").has_value());
    // Its neighbours are fine.
    EXPECT_TRUE(shortcutFolder(programs, startupName + L"2").has_value());
    EXPECT_TRUE(shortcutFolder(programs, L"").has_value());
}

TEST(ShortcutLocation, AGroupReachedThroughALinkIsRefused) {
    ScratchFolder special(L"special");
    ScratchFolder outside(L"outside");
    ASSERT_TRUE(writeFile(outside / L"keep.txt", "x"));
    ASSERT_TRUE(::CreateDirectoryW((special / L"Real").c_str(), nullptr));
    ASSERT_TRUE(makeDirectoryLink(outside.path(), special / L"Linked"));
    EXPECT_FALSE(shortcutFolder(special.path(), L"Linked").has_value());
    EXPECT_FALSE(shortcutFolder(special.path(), L"Linked\\Sub").has_value());
    EXPECT_TRUE(shortcutFolder(special.path(), L"Real").has_value());
    // A group that is missing now is no link; the check is made again before acting.
    const std::optional<ShortcutFolder> later = shortcutFolder(special.path(), L"Later");
    ASSERT_TRUE(later.has_value());
    EXPECT_TRUE(reachedWithoutLink(*later));
    ASSERT_TRUE(makeDirectoryLink(outside.path(), special / L"Later"));
    EXPECT_FALSE(reachedWithoutLink(*later));
    removeDirectoryLink(special / L"Later");
    removeDirectoryLink(special / L"Linked");
    EXPECT_TRUE(exists(outside / L"keep.txt"));
}

}  // namespace
}  // namespace tendril::test
