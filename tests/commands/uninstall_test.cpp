// The uninstall's reading of applist.dat and the progress total it gives its walks, in-process.
#include "commands/uninstall.h"
#include "commands/app_list.h"

#include "filetree/anchored_folder.h"
#include "filetree/entry_handle.h"
#include "filetree/tree_listing.h"
#include "install/install_directory_list.h"
#include "support/shell_fixture.h"
#include "launcher_link/link_fixture.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

namespace tendril {
namespace {

std::string records(int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        AppListRecord record{};
        record.name[0] = static_cast<wchar_t>(L'A' + i);
        wcscpy(record.path, L"bin\\app.exe");
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    return bytes;
}

TEST(ReadAppList, RecordsCorruptFilesAndMissingOnes) {
    const struct {
        const char* what;
        std::string bytes;  // empty: no file
        bool result;
        std::size_t records;
        bool fileStays;
    } cases[] = {
        {"no file is an empty list", "", true, 0, false},
        {"1304 bytes are two records", records(2), true, 2, true},
        {"1305 bytes are corrupt and deleted", records(2) + "!", false, 99, false},
        {"651 bytes are corrupt and deleted", records(1).substr(1), false, 99, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder folder(L"applist");
        const std::wstring file = folder / L"applist.dat";
        if (!c.bytes.empty()) {
            ASSERT_TRUE(test::writeFile(file, c.bytes));
            ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        std::vector<AppListRecord> list(99);
        EXPECT_EQ(readAppList(folder.path(), list), c.result);
        ASSERT_EQ(list.size(), c.records);
        if (c.records == 2) {
            EXPECT_EQ(std::wstring(list[1].name), L"B");
            EXPECT_EQ(std::wstring(list[1].path), L"bin\\app.exe");
        }
        EXPECT_EQ(test::exists(file), c.fileStays);
        ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

class UninstallProgress : public test::LinkStateTest {};

// Securing ticks once per file and deleting once per entry: the total is twice the entries.
TEST_F(UninstallProgress, TheTotalIsTwiceTheEntriesOfTheFolder) {
    test::ScratchFolder folder(L"uninstall");
    test::ScratchRegistryKey key;
    for (const wchar_t* sub : {L"a", L"b"})
        ASSERT_TRUE(::CreateDirectoryW((folder / sub).c_str(), nullptr));
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(
            test::writeFile(folder / ((i % 2 ? L"a\\f" : L"b\\f") + std::to_wstring(i)), "x"));
    InstallDirectoryList list;
    list.open(key.path());
    list.slots()[0] = folder.path();
    list.store();
    wcscpy(assistantRequest.installFolder, folder.path().c_str());
    wcscpy(assistantRequest.regPath, key.path().c_str());
    wcscpy(assistantRequest.longName, L"TendrilUnitTest");
    wcscpy(assistantRequest.exeName, L"client.exe");

    EXPECT_TRUE(uninstallClient());
    EXPECT_EQ(progressTotal, 24);
    EXPECT_FALSE(test::exists(folder.path()));
    EXPECT_EQ(lastAssistantError, 0);
}

// Whether a folder handle still reaches its own entries after a folder above it was renamed and
// a link to a look-alike put in its place, as on Windows.
bool handlesKeepTheirFolder() {
    test::ScratchFolder scratch(L"probe");
    test::ScratchFolder other(L"probeother");
    for (const std::wstring& base : {scratch.path(), other.path()})
        if (!::CreateDirectoryW((base + L"\\a").c_str(), nullptr) ||
            !::CreateDirectoryW((base + L"\\a\\b").c_str(), nullptr) ||
            !test::writeFile(base + L"\\a\\b\\f", "x"))
            return false;
    const Anchor anchor = anchorFolder(scratch / L"a\\b", GuardUse::Request);
    ChildEntry before;
    if (!anchor.exists() || !findChild(anchor.folder.get(), L"f", before) || !before.found ||
        !::MoveFileW((scratch / L"a").c_str(), (scratch / L"c").c_str()) ||
        !test::makeDirectoryLink(other / L"a", scratch / L"a"))
        return false;
    ChildEntry after;
    if (findChild(anchor.folder.get(), L"f", after) && after.found &&
        after.fileId == before.fileId) {
        const UniqueFile file = openChild(anchor.folder.get(), after, DELETE);
        if (file) deleteThroughHandle(file.get());
    }
    const bool kept = !test::exists(scratch / L"c\\b\\f");
    test::removeDirectoryLink(scratch / L"a");
    return kept;
}

// After the decision a user who controls a folder on the way swaps it for a link to another
// folder holding the same names: everything the uninstall does goes through the handles it
// opened, so the other folder keeps every file and the real installation goes.
TEST_F(UninstallProgress, AFolderOnTheWaySwappedForALinkReachesNothingOutside) {
    test::ScratchFolder root(L"race");
    test::ScratchFolder outside(L"raceoutside");
    test::ScratchRegistryKey key;
    const std::wstring parent = root / L"parent", folder = parent + L"\\inst";
    ASSERT_TRUE(::CreateDirectoryW(parent.c_str(), nullptr));
    for (const std::wstring& inst : {folder, outside / L"inst"}) {
        ASSERT_TRUE(::CreateDirectoryW(inst.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((inst + L"\\sub").c_str(), nullptr));
        for (const wchar_t* name : {L"client.exe", L"applist.dat", L"sub\\b.txt"})
            ASSERT_TRUE(test::writeFile(inst + L"\\" + name, "keep"));
    }
    InstallDirectoryList list;
    list.open(key.path());
    list.slots()[0] = folder;
    list.store();
    wcscpy(assistantRequest.installFolder, folder.c_str());
    wcscpy(assistantRequest.regPath, key.path().c_str());
    wcscpy(assistantRequest.longName, L"TendrilUnitTest");
    wcscpy(assistantRequest.exeName, L"client.exe");
    bool swapped = false;
    listedEntrySeam = [&](std::wstring_view) {
        if (swapped) return;
        swapped = true;
        ASSERT_TRUE(::MoveFileW(parent.c_str(), (root / L"parent.away").c_str()));
        ASSERT_TRUE(test::makeDirectoryLink(outside.path(), parent));
    };

    uninstallClient();
    listedEntrySeam = nullptr;
    ASSERT_TRUE(swapped) << "the walks never listed the installation";
    test::removeDirectoryLink(parent);
    for (const wchar_t* name : {L"client.exe", L"applist.dat", L"sub\\b.txt"})
        EXPECT_EQ(test::readFile(outside / L"inst\\" + name), "keep") << test::narrowPath(name);
    if (!handlesKeepTheirFolder())
        GTEST_SKIP() << "Wine 8.0 deletes through a handle by the path the handle was opened "
                        "at: once a folder above it is renamed and a link put in its place, that "
                        "path names another file, which Wine then leaves alone, so the moved "
                        "installation is left whole (outside untouched, as asserted)";
    EXPECT_FALSE(test::exists(root / L"parent.away\\inst")) << "the installation itself went";
}

}  // namespace
}  // namespace tendril
