// Removing shortcuts by name and by target in the prefix's real shell folders (and in scratch
// folders the shell is pointed at where the real ones must not be emptied), the program-group
// tidy-up, and every name and group that must delete nothing.
#include "shell/shortcut_removal.h"

#include "installation_in_request.h"
#include "shell/shortcut_creation.h"
#include "support/shell_fixture.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace tendril::test {
namespace {

using Names = std::vector<std::wstring>;

// Creates entries in folder: a name ending in "\" is a folder, a name ending in ".lnk" a shortcut
// to target, any other a small file.
void makeEntries(const std::wstring& folder, std::initializer_list<std::wstring> entries,
                 const std::wstring& target) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (const std::wstring& entry : entries) {
        const std::wstring path = folder + L"\\" + entry;
        if (entry.back() == L'\\')
            ASSERT_TRUE(::CreateDirectoryW(path.substr(0, path.size() - 1).c_str(), nullptr));
        else if (entry.size() > 4 && entry.substr(entry.size() - 4) == L".lnk")
            ASSERT_TRUE(writeShortcut(path, target)) << narrowPath(path);
        else
            ASSERT_TRUE(writeFile(path, "[.ShellClassInfo]\r\n")) << narrowPath(path);
    }
}

class ShortcutRemovalTest : public ::testing::Test {
protected:
    UniqueShortcutNames names;
    const std::wstring& name() const { return names.name(); }
    const InstallationInRequest installation{L"C:\\TendrilTests\\" + names.name()};
    const std::wstring target = L"C:\\TendrilTests\\" + names.name() + L"\\App.exe";
};

TEST_F(ShortcutRemovalTest, DeleteShortcutRemovesTheFileAndTheEmptiedGroup) {
    ASSERT_TRUE(createShortcut(target, L"App", CSIDL_COMMON_PROGRAMS, name(), true));
    ASSERT_TRUE(exists(names.group() + L"\\Desktop.ini"));
    ASSERT_TRUE(createShortcut(target, name(), CSIDL_COMMON_STARTMENU, L"", false));

    EXPECT_TRUE(deleteShortcut(target, L"App", CSIDL_COMMON_PROGRAMS, name()));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_FALSE(exists(names.group()));
    EXPECT_TRUE(deleteShortcut(target, name(), CSIDL_COMMON_STARTMENU, L""));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_FALSE(exists(names.startMenu() + L"\\" + name() + L".lnk"));
    EXPECT_TRUE(isDirectory(names.startMenu()));
}

TEST_F(ShortcutRemovalTest, AMissingShortcutStillTidiesTheGroupUpUnlessItHoldsMore) {
    const struct {
        const char* what;
        std::initializer_list<std::wstring> entries;
        bool groupStays;
    } cases[] = {
        {"empty", {}, false},
        {"only Desktop.ini", {L"Desktop.ini"}, false},
        {"another shortcut", {L"Other.lnk"}, true},
        {"Desktop.ini and another file", {L"Desktop.ini", L"notes.txt"}, true},
        {"Desktop.ini and an empty folder", {L"Desktop.ini", L"Sub\\"}, true},
        {"an empty folder", {L"Sub\\"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        makeEntries(names.group(), c.entries, target);
        EXPECT_TRUE(deleteShortcut(target, L"Missing", CSIDL_COMMON_PROGRAMS, name()));
        EXPECT_TRUE(comIsClosedOnThisThread());
        EXPECT_EQ(isDirectory(names.group()), c.groupStays);
        removeTree(names.group());
    }
}

TEST_F(ShortcutRemovalTest, DeleteUninstallShortcutRemovesItsOwnName) {
    makeEntries(names.group(), {L"Uninstall App.lnk", L"App.lnk"}, target);
    EXPECT_TRUE(deleteUninstallShortcut(target, L"App", name()));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(folderNames(names.group()), Names{L"App.lnk"});
}

TEST(CountFolderEntries, CountsEveryFileAndFolderBeneathButNotThroughLinks) {
    ScratchFolder root(L"count");
    makeEntries(root.path(),
                {L"Desktop.ini", L"a\\", L"a\\one.txt", L"a\\b\\", L"a\\b\\two.txt", L"c\\"}, L"");
    std::int32_t counter = 0;
    countFolderEntries(root.path(), counter);
    EXPECT_EQ(counter, 6);
    counter = 10;  // adds to what the caller has
    countFolderEntries(root / L"a", counter);
    EXPECT_EQ(counter, 13);
    counter = 5;
    countFolderEntries(root / L"missing", counter);
    EXPECT_EQ(counter, 5);
    countFolderEntries(root / L"Desktop.ini", counter);
    EXPECT_EQ(counter, 5);

    ScratchFolder outside(L"outside");
    makeEntries(outside.path(), {L"x.txt", L"y.txt"}, L"");
    ASSERT_TRUE(makeDirectoryLink(outside.path(), root / L"c\\link"));
    counter = 0;
    countFolderEntries(root.path(), counter);
    EXPECT_EQ(counter, 7) << "the link is one entry; what it points to is not counted";
    removeDirectoryLink(root / L"c\\link");
}

TEST_F(ShortcutRemovalTest, DeleteAllShortcutMatchesTheNormalisedStoredTarget) {
    // Stored targets as other tools may have written them (the shell itself tidies what SetPath
    // gets), so the links are written byte by byte. All text here is ASCII.
    const std::string given = narrowPath(target);
    std::string upper = given;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    std::string slashes = given;
    for (char& c : slashes)
        if (c == '\\') c = '/';
    std::string doubled;
    for (char c : given) doubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
    const struct {
        std::wstring file;
        std::string stored;
        bool deleted;
    } links[] = {
        {L"same.lnk", given, true},
        {L"case.lnk", upper, true},
        {L"slashes.lnk", slashes, true},
        {L"doubled.lnk", doubled, true},
        {L"quoted.lnk", "\"" + given + "\"", true},
        {L"mixed.lnk", "\"" + slashes.substr(0, 3) + "/" + doubled.substr(2) + "\"", true},
        {L"longer.lnk", given + "2", false},
        {L"spaced.lnk", given + " ", false},
        {L"other.lnk", given.substr(0, given.size() - 7) + "Other.exe", false},
    };
    ASSERT_TRUE(::CreateDirectoryW(names.group().c_str(), nullptr));
    for (const auto& link : links) {
        const std::wstring path = names.group() + L"\\" + link.file;
        ASSERT_TRUE(writeRawShortcut(path, link.stored));
        // The test means something only where the shell reads the text back as it was stored.
        ASSERT_EQ(narrowPath(readShortcut(path).path), link.stored) << narrowPath(link.file);
    }
    // A given target with a forward slash matches nothing: only stored targets are normalised.
    std::wstring givenWithSlash = target;
    givenWithSlash[2] = L'/';
    EXPECT_TRUE(deleteAllShortcut(givenWithSlash, name()));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(folderNames(names.group()).size(), std::size(links));

    EXPECT_TRUE(deleteAllShortcut(target, name()));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(folderNames(names.group()), (Names{L"longer.lnk", L"other.lnk", L"spaced.lnk"}));
}

TEST_F(ShortcutRemovalTest, DeleteAllShortcutSearchesSixFoldersTopLevelOnly) {
    const std::wstring otherGroup = names.group() + L"-other";
    const std::wstring menuFolder = names.startMenu() + L"\\" + name() + L"-menu";
    const std::wstring ownGroup = specialFolder(CSIDL_PROGRAMS) + L"\\" + name();
    const std::wstring commonDesktop = specialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    const std::wstring ownMenu = specialFolder(CSIDL_STARTMENU);
    makeEntries(names.group(), {L"App.lnk", L"Desktop.ini", L"Sub\\", L"Sub\\Deep.lnk"}, target);
    makeEntries(ownGroup, {L"App.lnk", L"Desktop.ini"}, target);
    makeEntries(otherGroup, {L"App.lnk"}, target);
    makeEntries(menuFolder, {L"App.lnk"}, target);
    const std::wstring topLevel = name() + L".lnk";
    // The account's desktop is left out: Wine maps it onto the Unix home folder.
    for (const std::wstring& folder : {names.startMenu(), ownMenu, commonDesktop})
        ASSERT_TRUE(writeShortcut(folder + L"\\" + topLevel, target));

    EXPECT_TRUE(deleteAllShortcut(target, name()));
    EXPECT_TRUE(comIsClosedOnThisThread());

    for (const std::wstring& folder : {names.startMenu(), ownMenu, commonDesktop})
        EXPECT_FALSE(exists(folder + L"\\" + topLevel)) << narrowPath(folder);
    // The group keeps what lies deeper, so it stays; the account's group held nothing else.
    EXPECT_EQ(folderNames(names.group()), (Names{L"Desktop.ini", L"Sub\\"}));
    EXPECT_TRUE(exists(names.group() + L"\\Sub\\Deep.lnk"));
    EXPECT_FALSE(exists(ownGroup));
    // Other groups and other Start menu folders are not searched.
    EXPECT_EQ(folderNames(otherGroup), Names{L"App.lnk"});
    EXPECT_EQ(folderNames(menuFolder), Names{L"App.lnk"});
}

TEST_F(ShortcutRemovalTest, DeleteAllShortcutNeverRemovesASpecialFolder) {
    RedirectedShellFolders redirected;
    ASSERT_TRUE(redirected.ok()) << redirected.problem();
    const std::wstring startMenu = redirected.pathOf(CSIDL_COMMON_STARTMENU);
    const std::wstring ownMenu = redirected.pathOf(CSIDL_STARTMENU);
    const std::wstring startup = redirected.pathOf(CSIDL_COMMON_STARTUP);
    // Folders beside the Programs folders, which a group that climbs out would reach.
    for (const std::wstring& menu : {startMenu, ownMenu})
        makeEntries(menu + L"\\Victim", {L"Desktop.ini", L"App.lnk"}, target);

    for (const wchar_t* group : {L"", L".", L"..", L"..\\Victim", L"Victim\\..\\..\\Victim",
                                 L"StartUp", L"..\\..\\..\\..\\..\\..\\Windows"}) {
        SCOPED_TRACE(narrowPath(group));
        for (const auto& folder : redirected.folders())
            ASSERT_TRUE(writeShortcut(folder.path + L"\\App.lnk", target));

        EXPECT_TRUE(deleteAllShortcut(target, group));
        EXPECT_TRUE(comIsClosedOnThisThread());

        for (const auto& folder : redirected.folders()) {
            SCOPED_TRACE(narrowPath(folder.path));
            ASSERT_TRUE(isDirectory(folder.path));
            EXPECT_TRUE(exists(folder.path + L"\\Desktop.ini"));
        }
        // The desktops and Start menus are always searched; the Programs folders when the group
        // names them; Startup and whatever lies outside the Programs folders never.
        const bool programsSearched = *group == L'\0' || std::wstring(group) == L".";
        for (const int csidl :
             {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU})
            EXPECT_FALSE(exists(redirected.pathOf(csidl) + L"\\App.lnk")) << csidl;
        for (const int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS})
            EXPECT_EQ(exists(redirected.pathOf(csidl) + L"\\App.lnk"), !programsSearched) << csidl;
        EXPECT_TRUE(exists(startup + L"\\App.lnk"));
        for (const std::wstring& menu : {startMenu, ownMenu})
            EXPECT_EQ(folderNames(menu + L"\\Victim"), (Names{L"App.lnk", L"Desktop.ini"}));
    }
}

TEST_F(ShortcutRemovalTest, RefusedNamesAndGroupsDeleteNothing) {
    RedirectedShellFolders redirected;
    ASSERT_TRUE(redirected.ok()) << redirected.problem();
    const std::wstring startMenu = redirected.pathOf(CSIDL_COMMON_STARTMENU);
    const std::wstring programs = redirected.pathOf(CSIDL_COMMON_PROGRAMS);
    const std::wstring startup = redirected.pathOf(CSIDL_COMMON_STARTUP);
    makeEntries(startMenu, {L"Victim.lnk"}, target);
    makeEntries(startMenu + L"\\Beside", {L"Desktop.ini", L"App.lnk"}, target);
    makeEntries(startup, {L"App.lnk"}, target);
    makeEntries(programs, {L"App.lnk"}, target);
    const struct {
        std::wstring name;
        int csidl;
        std::wstring group;
    } cases[] = {
        {L"..\\Victim", CSIDL_COMMON_PROGRAMS, L""},    {L"../Victim", CSIDL_COMMON_PROGRAMS, L""},
        {L"Beside\\App", CSIDL_COMMON_STARTMENU, L""},  {L"C:App", CSIDL_COMMON_PROGRAMS, L""},
        {L".", CSIDL_COMMON_PROGRAMS, L"..\\Beside"},   {L"..", CSIDL_COMMON_PROGRAMS, L""},
        {L"App", CSIDL_COMMON_PROGRAMS, L"..\\Beside"}, {L"Victim", CSIDL_COMMON_PROGRAMS, L".."},
        {L"App", CSIDL_COMMON_PROGRAMS, L"StartUp"},    {L"App", CSIDL_COMMON_STARTUP, L""},
        {L"App", CSIDL_COMMON_PROGRAMS, L"x:y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrowPath(c.name + L" in " + c.group));
        EXPECT_FALSE(deleteShortcut(target, c.name, c.csidl, c.group));
        EXPECT_TRUE(comIsClosedOnThisThread());
    }
    EXPECT_EQ(folderNames(startMenu),
              (Names{L"Beside\\", L"Desktop.ini", L"Programs\\", L"Victim.lnk"}));
    EXPECT_EQ(folderNames(startMenu + L"\\Beside"), (Names{L"App.lnk", L"Desktop.ini"}));
    EXPECT_EQ(folderNames(startup), (Names{L"App.lnk", L"Desktop.ini"}));

    // A group naming the Programs folder itself deletes the shortcut there but never the folder,
    // even when only its Desktop.ini is left.
    EXPECT_TRUE(deleteShortcut(target, L"App", CSIDL_COMMON_PROGRAMS, L"."));
    EXPECT_EQ(folderNames(programs), (Names{L"Desktop.ini", L"StartUp\\"}));
    removeTree(startup);
    EXPECT_TRUE(deleteShortcut(target, L"Missing", CSIDL_COMMON_PROGRAMS, L"."));
    EXPECT_TRUE(deleteShortcut(target, L"Missing", CSIDL_COMMON_PROGRAMS, L"Sub\\.."));
    EXPECT_EQ(folderNames(programs), Names{L"Desktop.ini"});
}

TEST_F(ShortcutRemovalTest, AGroupThatIsALinkIsNeitherEmptiedNorRemoved) {
    ScratchFolder outside(L"outside");
    makeEntries(outside.path(), {L"Desktop.ini", L"App.lnk"}, target);
    ASSERT_TRUE(makeDirectoryLink(outside.path(), names.group()));
    EXPECT_FALSE(deleteShortcut(target, L"App", CSIDL_COMMON_PROGRAMS, name()));
    EXPECT_TRUE(deleteAllShortcut(target, name()));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(folderNames(outside.path()), (Names{L"App.lnk", L"Desktop.ini"}));
    removeDirectoryLink(names.group());
}

TEST_F(ShortcutRemovalTest, EmptyArgumentsDeleteNothing) {
    makeEntries(names.group(), {L"App.lnk"}, target);
    EXPECT_FALSE(deleteShortcut(L"", L"App", CSIDL_COMMON_PROGRAMS, name()));
    EXPECT_FALSE(deleteShortcut(target, L"", CSIDL_COMMON_PROGRAMS, name()));
    EXPECT_FALSE(deleteAllShortcut(L"", name()));
    EXPECT_TRUE(comIsClosedOnThisThread());
    EXPECT_EQ(folderNames(names.group()), Names{L"App.lnk"});
}

}  // namespace
}  // namespace tendril::test
