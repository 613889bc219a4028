// A link planted inside an installation must never carry an elevated walk out of the tree. Each
// kind of link the file system knows is tried; the ones the running system cannot make are
// skipped with the reason (under Wine only a directory link made with the native ln -s shows as
// a reparse point).
#include "common/unique_handle.h"
#include "filetree/access_grant.h"
#include "filetree/directory_removal.h"
#include "filetree/tree_walks.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/error_store.h"
#include "support/test_support.h"
#include "tree_fixture.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <cstring>

namespace tendril::test {
namespace {

using Names = std::vector<std::wstring>;

enum class LinkKind { UnixDirectoryLink, Junction, DirectorySymlink, FileSymlink };

bool isFileKind(LinkKind kind) { return kind == LinkKind::FileSymlink; }

// A mount point (junction) the way the file system stores it: substitute name "\??\target" and
// print name "target", both NUL-terminated, one after the other.
bool makeJunction(const std::wstring& target, const std::wstring& link) {
    if (!::CreateDirectoryW(link.c_str(), nullptr)) return false;
    const std::wstring substitute = L"\\??\\" + target;
    const std::size_t substituteBytes = substitute.size() * sizeof(wchar_t);
    const std::size_t printBytes = target.size() * sizeof(wchar_t);
    const std::size_t pathBytes = substituteBytes + printBytes + 2 * sizeof(wchar_t);
    std::vector<BYTE> buffer(8 + 8 + pathBytes, 0);
    auto put16 = [&](std::size_t at, std::size_t value) {
        const WORD word = static_cast<WORD>(value);
        std::memcpy(&buffer[at], &word, sizeof word);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&buffer[0], &tag, sizeof tag);
    put16(4, 8 + pathBytes);                       // ReparseDataLength
    put16(8, 0);                                   // SubstituteNameOffset
    put16(10, substituteBytes);                    // SubstituteNameLength
    put16(12, substituteBytes + sizeof(wchar_t));  // PrintNameOffset
    put16(14, printBytes);                         // PrintNameLength
    std::memcpy(&buffer[16], substitute.data(), substituteBytes);
    std::memcpy(&buffer[16 + substituteBytes + sizeof(wchar_t)], target.data(), printBytes);

    const UniqueFile folder(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
    DWORD returned = 0;
    const bool made = folder && ::DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT,
                                                  buffer.data(), static_cast<DWORD>(buffer.size()),
                                                  nullptr, 0, &returned, nullptr);
    if (!made) ::RemoveDirectoryW(link.c_str());
    return made;
}

// Makes the link; empty when it was made, otherwise why it could not be.
std::string makeLink(LinkKind kind, const std::wstring& target, const std::wstring& link) {
    switch (kind) {
        case LinkKind::UnixDirectoryLink:
            if (makeUnixDirectoryLink(target, link)) return "";
            return "the native ln -s made no reparse point (not running under Wine?)";
        case LinkKind::Junction:
            if (makeJunction(target, link) && isReparsePoint(link)) return "";
            return "FSCTL_SET_REPARSE_POINT cannot make a junction here (Wine 8.0: error 50)";
        case LinkKind::DirectorySymlink:
            ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
            if (isReparsePoint(link)) return "";
            return "CreateSymbolicLinkW made no link (Wine 8.0 returns TRUE and creates nothing)";
        case LinkKind::FileSymlink:
            ::CreateSymbolicLinkW(link.c_str(), target.c_str(), 0);
            if (isReparsePoint(link)) return "";
            return "no file link can be made (Wine 8.0 shows file links as plain files)";
    }
    return "unknown kind";
}

void removeLink(LinkKind kind, const std::wstring& link) {
    // The native rm also takes a link whose target is gone, which Wine no longer shows.
    if (kind == LinkKind::UnixDirectoryLink)
        removeLinkUnix(link);
    else if (!isReparsePoint(link))
        return;
    else if (isFileKind(kind))
        ::DeleteFileW(link.c_str());
    else
        ::RemoveDirectoryW(link.c_str());
}

std::string kindName(const testing::TestParamInfo<LinkKind>& info) {
    const char* names[] = {"UnixDirectoryLink", "Junction", "DirectorySymlink", "FileSymlink"};
    return names[static_cast<int>(info.param)];
}

// root holds a.txt, sub\b.txt and "link", which points outside the tree: to outside (holding
// keep.txt and deep\deep.txt) or, for a file link, to outside\keep.txt.
class LinkInTree : public FileTreeTest, public testing::WithParamInterface<LinkKind> {
protected:
    void SetUp() override {
        FileTreeTest::SetUp();
        makeEntries(outside.path(), {L"keep.txt", L"deep\\", L"deep\\deep.txt"});
        makeEntries(root.path(), {L"a.txt", L"sub\\", L"sub\\b.txt"});
        outsideBefore = listTree(outside.path());
        link = root / L"link";
        target = isFileKind(GetParam()) ? outside / L"keep.txt" : outside.path();
        const std::string why = makeLink(GetParam(), target, link);
        // ln -s directory links work under Wine; the other kinds only where Windows makes them.
        ASSERT_TRUE(why.empty() || GetParam() != LinkKind::UnixDirectoryLink) << why;
        if (!why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(buildUsersSecurityDescriptor());
    }
    void TearDown() override {
        removeLink(GetParam(), link);
        FileTreeTest::TearDown();
    }

    void expectOutsideUntouched() {
        EXPECT_EQ(listTree(outside.path()), outsideBefore);
        EXPECT_EQ(readFile(outside / L"keep.txt"), "keep.txt");
        EXPECT_EQ(readFile(outside / L"deep\\deep.txt"), "deep\\deep.txt");
    }

    // Whether the walk can hold the link itself. Under Wine a directory link made with ln -s is
    // followed even when opened with FILE_OPEN_REPARSE_POINT: the walk gets its target, whose id
    // is not the listed one, so it leaves the link in place, as it must.
    bool linkOpensAsItself() const { return GetParam() != LinkKind::UnixDirectoryLink; }
    static constexpr const char* kLinkFollowed =
        "the link itself removed: under Wine an open of a directory link made with ln -s "
        "follows it even with FILE_OPEN_REPARSE_POINT, so no walk can hold the link to delete it";

    ScratchFolder outside{L"outside"};
    ScratchFolder root{L"linktree"};
    Names outsideBefore;
    std::wstring link;
    std::wstring target;
};

TEST_P(LinkInTree, CountCountsTheLinkAsOneEntry) {
    std::int32_t counter = 0;
    EXPECT_TRUE(countFiles(root.path(), counter, walk()));
    EXPECT_EQ(counter, 4);  // a.txt, sub, sub\b.txt, link
    expectOutsideUntouched();
}

TEST_P(LinkInTree, SecureAppliesNothingThroughTheLink) {
    ASSERT_TRUE(denyOthers(outside.path()));
    ASSERT_TRUE(denyOthers(root.path()));
    EXPECT_TRUE(setTreeSecurity(root.path(), true, walk()));
    // One tick per file entry; a file link is a file entry that is left alone.
    EXPECT_EQ(takeTicks(), isFileKind(GetParam()) ? 3 : 2);
    EXPECT_TRUE(everyoneCanRead(root / L"a.txt"));
    EXPECT_TRUE(everyoneCanRead(root / L"sub\\b.txt"));
    for (const wchar_t* name : {L"", L"\\keep.txt", L"\\deep", L"\\deep\\deep.txt"})
        EXPECT_FALSE(everyoneCanRead(outside.path() + name))
            << "outside" << name << ": " << fileDaclText(outside.path() + name);
    EXPECT_TRUE(isReparsePoint(link)) << "the link itself is left alone";
    expectOutsideUntouched();
}

TEST_P(LinkInTree, DeleteContentsRemovesTheLinkNotItsTarget) {
    EXPECT_TRUE(deleteTreeContents(root.path(), walk()));
    EXPECT_EQ(takeTicks(), 4);
    expectOutsideUntouched();
    if (!linkOpensAsItself()) {
        EXPECT_EQ(listTree(root.path()), Names{L"link@"});
        GTEST_SKIP() << kLinkFollowed;
    }
    EXPECT_EQ(listTree(root.path()), Names{});
}

TEST_P(LinkInTree, DeleteDirectoryRemovesTheLinkNotItsTarget) {
    const bool removed = deleteDirectory(root.path());
    expectOutsideUntouched();
    if (!linkOpensAsItself()) {
        EXPECT_FALSE(removed) << "the folder still holds the link";
        EXPECT_EQ(listTree(root.path()), Names{L"link@"});
        GTEST_SKIP() << kLinkFollowed;
    }
    EXPECT_TRUE(removed);
    EXPECT_FALSE(exists(root.path()));
}

// A folder path that is itself a link is not walked through.
TEST_P(LinkInTree, AFolderPathThatIsALinkIsNotWalked) {
    if (isFileKind(GetParam())) GTEST_SKIP() << "a file link is no folder path";
    ASSERT_TRUE(denyOthers(outside.path()));
    std::int32_t counter = 0;
    EXPECT_TRUE(countFiles(link, counter, walk()));
    EXPECT_EQ(counter, 0);
    EXPECT_TRUE(setTreeSecurity(link, true, walk()));
    EXPECT_TRUE(deleteTreeContents(link, walk()));
    EXPECT_FALSE(deleteDirectoryContents(link));
    EXPECT_EQ(takeTicks(), 0);
    lastAssistantError = 0;
    EXPECT_FALSE(grantInstallAccess(link, L"", false, walk()));
    EXPECT_EQ(lastAssistantError, AccessNotGranted) << "a link is refused, as a system folder is";
    for (const wchar_t* name : {L"", L"\\keep.txt", L"\\deep\\deep.txt"})
        EXPECT_FALSE(everyoneCanRead(outside.path() + name)) << "outside" << name;
    expectOutsideUntouched();

    const bool removed = deleteDirectory(link);
    expectOutsideUntouched();
    EXPECT_EQ(removed, linkOpensAsItself());
    EXPECT_NE(isReparsePoint(link), linkOpensAsItself());
    if (!linkOpensAsItself()) GTEST_SKIP() << kLinkFollowed;
}

INSTANTIATE_TEST_SUITE_P(Links, LinkInTree,
                         testing::Values(LinkKind::UnixDirectoryLink, LinkKind::Junction,
                                         LinkKind::DirectorySymlink, LinkKind::FileSymlink),
                         kindName);

}  // namespace
}  // namespace tendril::test
