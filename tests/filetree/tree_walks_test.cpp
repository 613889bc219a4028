#include "filetree/tree_walks.h"
#include "common/unique_handle.h"
#include "filetree/directory_removal.h"
#include "filetree/tree_entry.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/cancel.h"
#include "launcher_link/process_state.h"
#include "support/test_support.h"
#include "tree_fixture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace tendril::test {
namespace {

using Names = std::vector<std::wstring>;

class TreeWalks : public FileTreeTest {};

struct ExampleTree {
    const char* label;
    std::initializer_list<std::wstring> entries;
    std::int32_t count;
    std::int32_t secureTicks;  // files only
    std::int32_t deleteTicks;  // files and folders
};

TEST_F(TreeWalks, CountsAndTicksOfExampleTrees) {
    const ExampleTree trees[] = {
        {"empty folder", {}, 0, 0, 0},
        {"three files, one subfolder holding two",
         {L"a.txt", L"sub\\", L"sub\\b.txt", L"sub\\c.txt"},
         4,
         3,
         4},
        {"nested folders",
         {L"x\\", L"x\\y\\", L"x\\y\\z\\", L"x\\y\\z\\f.txt", L"g.txt", L"x\\.hidden"},
         6,
         3,
         6},
        {"names that begin with dots", {L"..a", L".b\\", L".b\\.c", L"._\\"}, 4, 2, 4},
    };
    ASSERT_TRUE(buildUsersSecurityDescriptor());
    for (const ExampleTree& tree : trees) {
        SCOPED_TRACE(tree.label);
        ScratchFolder root(L"walk");
        makeEntries(root.path(), tree.entries);
        const Names before = listTree(root.path());

        std::int32_t counter = 5;
        EXPECT_TRUE(countFiles(root.path(), counter, walk()));
        EXPECT_EQ(counter, 5 + tree.count);
        EXPECT_EQ(takeTicks(), 0);

        EXPECT_TRUE(setTreeSecurity(root.path(), false, walk()));
        EXPECT_EQ(takeTicks(), 0);
        EXPECT_TRUE(setTreeSecurity(root.path(), true, walk()));
        EXPECT_EQ(takeTicks(), tree.secureTicks);
        EXPECT_EQ(listTree(root.path()), before);

        EXPECT_TRUE(deleteTreeContents(root.path(), walk()));
        EXPECT_EQ(takeTicks(), tree.deleteTicks);
        EXPECT_EQ(listTree(root.path()), Names{});
        EXPECT_TRUE(isDirectory(root.path())) << "the folder itself is the caller's to remove";
    }
}

TEST_F(TreeWalks, SecuresEveryFileAndFolderBeneathButNotTheFolderItself) {
    ScratchFolder root(L"secure");
    makeEntries(root.path(), {L"a.txt", L"sub\\", L"sub\\b.txt", L"sub\\deeper\\"});
    ASSERT_TRUE(denyOthers(root.path()));
    ASSERT_FALSE(everyoneCanRead(root / L"a.txt")) << fileDaclText(root / L"a.txt");
    ASSERT_TRUE(buildUsersSecurityDescriptor());

    EXPECT_TRUE(setTreeSecurity(root.path(), false, walk()));
    for (const wchar_t* name : {L"a.txt", L"sub", L"sub\\b.txt", L"sub\\deeper"})
        EXPECT_TRUE(everyoneCanRead(root / name)) << name << ": " << fileDaclText(root / name);
    EXPECT_FALSE(everyoneCanRead(root.path()));
}

TEST_F(TreeWalks, MissingFolderOrFileIsNoTree) {
    ScratchFolder root(L"missing");
    makeEntries(root.path(), {L"file.txt"});
    for (const std::wstring& path : {root / L"nothing", root / L"file.txt"}) {
        std::int32_t counter = 7;
        EXPECT_TRUE(countFiles(path, counter, walk()));
        EXPECT_EQ(counter, 7);
        EXPECT_TRUE(setTreeSecurity(path, true, walk()));
        EXPECT_TRUE(deleteTreeContents(path, walk()));
        EXPECT_EQ(takeTicks(), 0);
    }
    EXPECT_EQ(listTree(root.path()), Names{L"file.txt"});
}

TEST_F(TreeWalks, CancelBeforeTheWalkTouchesNothing) {
    ScratchFolder root(L"precancel");
    makeEntries(root.path(), {L"a.txt", L"sub\\", L"sub\\b.txt"});
    cancelRequested = true;
    std::int32_t counter = 0;
    EXPECT_TRUE(countFiles(root.path(), counter, walk()));
    EXPECT_EQ(counter, 0);
    EXPECT_TRUE(setTreeSecurity(root.path(), true, walk()));
    EXPECT_TRUE(deleteTreeContents(root.path(), walk()));
    EXPECT_EQ(takeTicks(), 0);
    EXPECT_EQ(listTree(root.path()), (Names{L"a.txt", L"sub\\", L"sub\\b.txt"}));
}

TEST_F(TreeWalks, SparesTheLauncherExecutableAtAnyDepthInAnyLetterCase) {
    ScratchFolder root(L"spare");
    makeEntries(root.path(), {L"CLIENT.EXE", L"Client.exe.bak", L"a.txt", L"d1\\", L"d1\\d2\\",
                              L"d1\\d2\\client.Exe", L"d1\\d2\\x.txt", L"client.exe2\\",
                              L"folder\\", L"folder\\client.exe\\", L"folder\\client.exe\\z.txt"});
    exeNameCopy = L"Client.exe";
    EXPECT_TRUE(deleteTreeContents(root.path(), walk()));
    // Every entry ticks once, spared or not, removed or not.
    EXPECT_EQ(takeTicks(), 11);
    // Only files are spared: a folder of that name goes like any other.
    EXPECT_EQ(listTree(root.path()),
              (Names{L"CLIENT.EXE", L"d1\\", L"d1\\d2\\", L"d1\\d2\\client.Exe"}));
}

TEST_F(TreeWalks, EmptyLauncherNameSparesNothing) {
    ScratchFolder root(L"nospare");
    makeEntries(root.path(), {L"client.exe", L"a.txt"});
    EXPECT_TRUE(deleteTreeContents(root.path(), walk()));
    EXPECT_EQ(listTree(root.path()), Names{});
}

TEST_F(TreeWalks, LockedFileSurvivesSixAttemptsAndTheWalkGoesOn) {
    ScratchFolder root(L"locked");
    makeEntries(root.path(), {L"locked.bin", L"other.txt", L"sub\\", L"sub\\x.txt"});
    // Open without delete sharing: every DeleteFileW fails with a sharing violation.
    const UniqueFile held(::CreateFileW((root / L"locked.bin").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    ASSERT_FALSE(::DeleteFileW((root / L"locked.bin").c_str()));
    ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const ULONGLONG start = ::GetTickCount64();
    EXPECT_TRUE(deleteTreeContents(root.path(), walk()));
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    // Five waits of 100 ms between six attempts: not four, not six.
    EXPECT_GE(elapsed, 490u);
    EXPECT_LT(elapsed, 590u);
    EXPECT_EQ(takeTicks(), 4);
    EXPECT_EQ(listTree(root.path()), Names{L"locked.bin"});
    std::printf("[ info ] locked file: six attempts took %llu ms\n", elapsed);
}

// The launcher cancels while the walk is stuck on a locked file: that listing ends after the
// locked file, each enclosing level tries once to remove the subfolder it was in (which fails),
// ticks and stops. The locked file is the first its folder lists, in the first folder the root
// lists, so that entries follow it at both levels whatever order the file system uses.
TEST_F(TreeWalks, CancelDuringDeleteStopsAfterTheCurrentEntry) {
    ScratchFolder root(L"cancel");
    makeEntries(root.path(),
                {L"f1.txt", L"s1\\", L"f2.txt", L"s2\\", L"s3\\", L"s3\\in\\", L"s3\\in\\i.txt"});
    for (const wchar_t* folder : {L"s1", L"s2", L"s3"})
        makeEntries(root / folder, {L"a.bin", L"b.bin", L"c.bin"});

    const Names rootOrder = listingOrder(root.path());
    const auto firstFolder = std::find_if(rootOrder.begin(), rootOrder.end(),
                                          [&](auto& name) { return isDirectory(root / name); });
    ASSERT_NE(firstFolder, rootOrder.end());
    const std::wstring sub = *firstFolder;
    const std::wstring lockedName = listingOrder(root / sub).front();
    ASSERT_FALSE(isDirectory(root / sub + L"\\" + lockedName));
    const UniqueFile held(::CreateFileW((root / sub + L"\\" + lockedName).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());

    // Everything stays but what the root lists before sub; one tick for each of those, one for
    // the locked file and one for the failed removal of sub.
    Names expected = listTree(root.path());
    std::int32_t expectedTicks = 2;
    for (auto name = rootOrder.begin(); name != firstFolder; ++name) {
        expected.erase(std::find(expected.begin(), expected.end(), *name));
        ++expectedTicks;
    }

    std::thread canceller([] {
        ::Sleep(150);
        cancelRequested = true;
    });
    const bool result = deleteTreeContents(root.path(), walk());
    canceller.join();
    EXPECT_TRUE(result) << "a cancelled walk returns as if it had finished";
    EXPECT_EQ(listTree(root.path()), expected);
    EXPECT_EQ(takeTicks(), expectedTicks);
}

// A link is a reparse point whose tag is a name surrogate, or whose tag cannot be read; any other
// reparse point is the file or folder it looks like. Wine makes no reparse point but directory
// links (tag 0), so the rule is checked on the attributes and tags the file system would report.
TEST(EntryKind, OnlyNameSurrogatesAndUnreadableTagsAreLinks) {
    constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
    constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
    struct Case {
        const char* label;
        DWORD attributes;
        DWORD tag;
        EntryKind kind;
    } const cases[] = {
        {"plain file", FILE_ATTRIBUTE_ARCHIVE, 0, EntryKind::File},
        {"plain folder", kFolder, 0, EntryKind::Folder},
        {"a tag without the reparse attribute means nothing", kFolder, IO_REPARSE_TAG_MOUNT_POINT,
         EntryKind::Folder},
        {"junction", kFolder | kReparse, IO_REPARSE_TAG_MOUNT_POINT, EntryKind::Link},
        {"directory symbolic link", kFolder | kReparse, IO_REPARSE_TAG_SYMLINK, EntryKind::Link},
        {"file symbolic link", kReparse, IO_REPARSE_TAG_SYMLINK, EntryKind::Link},
        {"unreadable tag (Wine's directory link)", kFolder | kReparse, 0, EntryKind::Link},
        {"unreadable tag on a file", kReparse, 0, EntryKind::Link},
        {"deduplicated file", kReparse, 0x80000013 /* IO_REPARSE_TAG_DEDUP */, EntryKind::File},
        {"cloud placeholder folder", kFolder | kReparse, 0x9000001A /* IO_REPARSE_TAG_CLOUD_1 */,
         EntryKind::Folder},
        {"single-instance file", kReparse, 0x80000007 /* IO_REPARSE_TAG_SIS */, EntryKind::File},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(entryKind(c.attributes, c.tag), c.kind);
        ListedEntry entry;
        entry.name = L"name";
        entry.attributes = c.attributes;
        entry.reparseTag = c.tag;
        EXPECT_EQ(entry.kind(), c.kind);
    }
}

// The delete takes a read-only mark off the entry it deletes, through the handle it deletes with,
// and puts it back when the delete still fails: a file mapped into memory cannot be deleted.
TEST_F(TreeWalks, ReadOnlyFilesAreDeletedAndAMarkIsPutBackWhenTheDeleteFails) {
    for (int removal = 0; removal < 3; ++removal) {
        SCOPED_TRACE(testing::Message() << "removal " << removal);
        ScratchFolder root(L"readonly");
        makeEntries(root.path(), {L"tree\\", L"tree\\ro.txt", L"tree\\sub\\", L"tree\\sub\\ro.bin",
                                  L"tree\\plain.txt", L"tree\\mapped.bin"});
        const std::wstring tree = root / L"tree", mapped = tree + L"\\mapped.bin";
        const UniqueFile file(::CreateFileW(mapped.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
        const UniqueHandle mapping(
            ::CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
        const std::unique_ptr<void, decltype(&::UnmapViewOfFile)> view(
            ::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0), &::UnmapViewOfFile);
        ASSERT_NE(view, nullptr) << ::GetLastError();
        // Marked through its own handle: Wine refuses another writer while the view is mapped.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = FILE_ATTRIBUTE_READONLY;
        ASSERT_TRUE(::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic));
        ASSERT_TRUE(isReadOnly(mapped));
        for (const wchar_t* name : {L"\\ro.txt", L"\\sub\\ro.bin"})
            ASSERT_TRUE(markReadOnly(tree + name)) << name;
        if (removal == 0) {
            EXPECT_TRUE(deleteTreeContents(tree, walk()));
            EXPECT_EQ(takeTicks(), 5);
        } else {
            EXPECT_FALSE(removal == 1 ? deleteDirectoryContents(tree) : deleteDirectory(tree));
        }
        EXPECT_EQ(listTree(tree), Names{L"mapped.bin"});
        EXPECT_TRUE(isReadOnly(mapped)) << "the mark taken off for the failed delete is put back";
    }
}

TEST_F(TreeWalks, ReadOnlyFoldersAreDeleted) {
    for (int removal = 0; removal < 3; ++removal) {
        SCOPED_TRACE(testing::Message() << "removal " << removal);
        ScratchFolder root(L"rofolder");
        makeEntries(root.path(), {L"tree\\", L"tree\\rosub\\", L"tree\\rosub\\f.txt"});
        const std::wstring tree = root / L"tree";
        if (!markReadOnly(tree + L"\\rosub"))
            GTEST_SKIP()
                << "Wine keeps no read-only mark on a folder (SetFileAttributesW succeeds)";
        EXPECT_TRUE(removal == 0   ? deleteTreeContents(tree, walk())
                    : removal == 1 ? deleteDirectoryContents(tree)
                                   : deleteDirectory(tree));
        EXPECT_EQ(listTree(tree), Names{});
        EXPECT_EQ(exists(tree), removal != 2) << "only deleteDirectory removes the folder itself";
    }
}

// A folder some process holds without delete sharing (its current directory, say) cannot be
// removed, but what it holds is deleted as before.
TEST_F(TreeWalks, FolderHeldWithoutDeleteSharingIsStillEmptied) {
    for (int removal = 0; removal < 2; ++removal) {
        SCOPED_TRACE(testing::Message() << "removal " << removal);
        ScratchFolder root(L"heldfolder");
        makeEntries(root.path(), {L"tree\\", L"tree\\held\\", L"tree\\held\\a.txt",
                                  L"tree\\held\\deeper\\", L"tree\\held\\deeper\\b.txt"});
        const std::wstring tree = root / L"tree";
        const UniqueFile held(::CreateFileW((tree + L"\\held").c_str(), FILE_LIST_DIRECTORY,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(held.valid());
        if (removal == 0) {
            EXPECT_TRUE(deleteTreeContents(tree, walk()));
            EXPECT_EQ(takeTicks(), 4);
        } else {
            EXPECT_FALSE(deleteDirectory(tree));
        }
        EXPECT_EQ(listTree(tree), Names{L"held\\"});
    }
}

// "C:\q"-style paths are the shortest we walk; such a folder sits at the drive root, so the test
// picks a free letter and removes the folder again.
TEST_F(TreeWalks, FourCharacterPathIsWalked) {
    std::wstring folder;
    for (wchar_t letter : std::wstring(L"qjkvwxz")) {
        const std::wstring candidate = std::wstring(L"C:\\") + letter;
        if (!exists(candidate) && ::CreateDirectoryW(candidate.c_str(), nullptr)) {
            folder = candidate;
            break;
        }
    }
    if (folder.empty()) GTEST_SKIP() << "no free one-letter folder at C:\\";
    ASSERT_EQ(folder.size(), 4u);
    makeEntries(folder, {L"a.txt", L"sub\\", L"sub\\b.txt"});
    ASSERT_TRUE(buildUsersSecurityDescriptor());

    std::int32_t counter = 0;
    EXPECT_TRUE(countFiles(folder, counter, walk()));
    EXPECT_EQ(counter, 3);
    EXPECT_TRUE(setTreeSecurity(folder, true, walk()));
    EXPECT_EQ(takeTicks(), 2);
    EXPECT_TRUE(deleteTreeContents(folder, walk()));
    EXPECT_EQ(takeTicks(), 3);
    EXPECT_EQ(listTree(folder), Names{});
    removeTree(folder);
    EXPECT_FALSE(exists(folder));
}

}  // namespace
}  // namespace tendril::test
