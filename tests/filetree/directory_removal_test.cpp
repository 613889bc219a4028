#include "filetree/directory_removal.h"
#include "common/unique_handle.h"
#include "filetree/file_exists.h"
#include "support/test_support.h"
#include "tree_fixture.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace tendril::test {
namespace {

using Names = std::vector<std::wstring>;

class DirectoryRemoval : public FileTreeTest {};

TEST_F(DirectoryRemoval, RemovesTheTreeWithOrWithoutATrailingBackslash) {
    for (const wchar_t* suffix : {L"", L"\\"}) {
        SCOPED_TRACE(testing::Message() << "suffix \"" << suffix << "\"");
        ScratchFolder root(L"rmdir");
        makeEntries(root.path(), {L"tree\\", L"tree\\a.txt", L"tree\\s\\", L"tree\\s\\t\\",
                                  L"tree\\s\\t\\b.txt", L"tree\\empty\\", L"beside.txt"});
        EXPECT_TRUE(deleteDirectory(root / L"tree" + suffix));
        EXPECT_EQ(listTree(root.path()), Names{L"beside.txt"});
        EXPECT_EQ(takeTicks(), 0) << "no progress";
    }
}

TEST_F(DirectoryRemoval, KeepsTheFolderWhenAnEntryCannotGo) {
    ScratchFolder root(L"rmlocked");
    makeEntries(root.path(), {L"tree\\", L"tree\\a.txt", L"tree\\s\\", L"tree\\s\\held.bin",
                              L"tree\\s\\b.txt", L"tree\\t\\", L"tree\\t\\c.txt"});
    const UniqueFile held(::CreateFileW((root / L"tree\\s\\held.bin").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(deleteDirectory(root / L"tree"));
    EXPECT_LT(::GetTickCount64() - start, 400u) << "no retries here";
    // The loop goes on past a failure: everything else went.
    EXPECT_EQ(listTree(root.path()), (Names{L"tree\\", L"tree\\s\\", L"tree\\s\\held.bin"}));

    EXPECT_FALSE(deleteDirectoryContents(root / L"tree"));
    EXPECT_EQ(listTree(root.path()), (Names{L"tree\\", L"tree\\s\\", L"tree\\s\\held.bin"}));
}

TEST_F(DirectoryRemoval, ContentsGoTheFolderStays) {
    ScratchFolder root(L"rmcontents");
    makeEntries(root.path(), {L"a.txt", L"s\\", L"s\\b.txt", L"e\\"});
    EXPECT_TRUE(deleteDirectoryContents(root.path()));
    EXPECT_EQ(listTree(root.path()), Names{});
    EXPECT_TRUE(isDirectory(root.path()));
    EXPECT_TRUE(deleteDirectoryContents(root.path())) << "an empty folder has nothing left over";
}

TEST_F(DirectoryRemoval, MissingFolderOrFileIsNotRemoved) {
    ScratchFolder root(L"rmmissing");
    makeEntries(root.path(), {L"file.txt"});
    EXPECT_FALSE(deleteDirectory(root / L"nothing"));
    EXPECT_FALSE(deleteDirectoryContents(root / L"nothing"));
    EXPECT_FALSE(deleteDirectory(root / L"file.txt"));
    EXPECT_EQ(listTree(root.path()), Names{L"file.txt"});
}

TEST(FileExists, TrueOnlyForAFileThatCanBeOpenedForReading) {
    ScratchFolder root(L"exists");
    makeEntries(root.path(), {L"plain.txt", L"folder\\", L"held.txt"});
    const UniqueFile held(::CreateFileW((root / L"held.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    EXPECT_TRUE(fileExists(root / L"plain.txt"));
    EXPECT_TRUE(fileExists(root / L"PLAIN.TXT"));
    EXPECT_FALSE(fileExists(root / L"folder"));
    EXPECT_FALSE(fileExists(root / L"missing.txt"));
    EXPECT_FALSE(fileExists(root / L"held.txt")) << "held without read sharing";
    EXPECT_FALSE(fileExists(L""));
}

}  // namespace
}  // namespace tendril::test
