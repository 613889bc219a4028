// After a grant Users may rename and delete inside the installation, so between a walk's listing
// and its act on an entry one of them can rename the entry away and put something else under its
// name: a directory link to a folder outside, or another file. Through the seam between listing
// and act the test plays that user; whatever stands under the name then must be left alone, and
// nothing outside may change.
#include "filetree/directory_removal.h"
#include "filetree/tree_listing.h"
#include "filetree/tree_walks.h"
#include "filetree/users_descriptor.h"
#include "support/test_support.h"
#include "tree_fixture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <tuple>

namespace tendril::test {
namespace {

using Names = std::vector<std::wstring>;

enum class Walk { SetTreeSecurity, DeleteTreeContents, DeleteDirectory };
enum class Swap {
    // tree\sub is renamed out of the tree and a directory link to outside takes its name.
    FolderForLink,
    // tree\a.txt is renamed out of the tree and a new file takes its name.
    FileForFile,
};

class EntrySwappedAfterListing : public FileTreeTest,
                                 public testing::WithParamInterface<std::tuple<Walk, Swap>> {
protected:
    void SetUp() override {
        FileTreeTest::SetUp();
        makeEntries(outside.path(), {L"keep.txt", L"deep\\", L"deep\\deep.txt"});
        makeEntries(root.path(), {L"tree\\", L"tree\\a.txt", L"tree\\c.txt", L"tree\\sub\\",
                                  L"tree\\sub\\b.txt"});
        ASSERT_TRUE(denyOthers(outside.path()));
        ASSERT_TRUE(denyOthers(root.path()));
        // After denyOthers: under Wine an access list is kept as Unix permissions, and setting one
        // would give the write permission back.
        ASSERT_TRUE(markReadOnly(outside / L"keep.txt"));
        outsideBefore = listTree(outside.path());
        ASSERT_TRUE(buildUsersSecurityDescriptor());
        listedEntrySeam = [this](std::wstring_view name) {
            if (!swapped && name == swappedName()) swapped = swapEntry();
        };
    }
    void TearDown() override {
        listedEntrySeam = nullptr;
        if (isReparsePoint(inTree(L"sub"))) removeLinkUnix(inTree(L"sub"));
        FileTreeTest::TearDown();
    }

    Walk walkKind() const { return std::get<0>(GetParam()); }
    Swap swapKind() const { return std::get<1>(GetParam()); }
    std::wstring_view swappedName() const {
        return swapKind() == Swap::FolderForLink ? L"sub" : L"a.txt";
    }

    // What the racing user does; true when it worked.
    bool swapEntry() {
        if (swapKind() == Swap::FolderForLink) {
            swapFailure = "the folder could not be renamed away";
            if (!::MoveFileW((inTree(L"sub")).c_str(), (root / L"sub.away").c_str())) return false;
            swapFailure = "the native ln -s made no reparse point";
            if (!makeUnixDirectoryLink(outside.path(), inTree(L"sub"))) return false;
        } else {
            swapFailure = "the file could not be replaced";
            if (!::MoveFileW((inTree(L"a.txt")).c_str(), (root / L"a.away").c_str()) ||
                !writeFile(inTree(L"a.txt"), "swapped") || !denyOthersOn(inTree(L"a.txt")))
                return false;
        }
        swapFailure.clear();
        return true;
    }

    // Runs the walk; for DeleteDirectory its result, otherwise whether the walk returned true.
    bool runWalk() {
        switch (walkKind()) {
            case Walk::SetTreeSecurity:
                return setTreeSecurity(tree, true, walk());
            case Walk::DeleteTreeContents:
                return deleteTreeContents(tree, walk());
            case Walk::DeleteDirectory:
                return deleteDirectory(tree);
        }
        return false;
    }

    void expectOutsideUntouched() {
        EXPECT_EQ(listTree(outside.path()), outsideBefore);
        EXPECT_EQ(readFile(outside / L"keep.txt"), "keep.txt");
        EXPECT_TRUE(isReadOnly(outside / L"keep.txt")) << "the read-only file keeps its mark";
        EXPECT_EQ(readFile(outside / L"deep\\deep.txt"), "deep\\deep.txt");
        for (const wchar_t* name : {L"", L"\\keep.txt", L"\\deep", L"\\deep\\deep.txt"})
            EXPECT_FALSE(everyoneCanRead(outside.path() + name))
                << "outside" << name << " was secured";
    }

    std::wstring inTree(const wchar_t* name) const { return tree + L"\\" + name; }

    ScratchFolder outside{L"swapoutside"};
    ScratchFolder root{L"swaptree"};
    const std::wstring tree = root / L"tree";
    Names outsideBefore;
    bool swapped = false;
    std::string swapFailure;
};

TEST_P(EntrySwappedAfterListing, WhatStandsUnderTheNameNowIsLeftAlone) {
    const bool result = runWalk();
    ASSERT_EQ(swapFailure, "") << "the racing user could not swap the entry";
    ASSERT_TRUE(swapped) << "the walk never listed the entry";
    expectOutsideUntouched();

    const bool folderSwap = swapKind() == Swap::FolderForLink;
    if (folderSwap)
        EXPECT_TRUE(isReparsePoint(inTree(L"sub"))) << "the link is no entry the walk listed";
    else
        EXPECT_EQ(readFile(inTree(L"a.txt")), "swapped");

    switch (walkKind()) {
        case Walk::SetTreeSecurity:
            EXPECT_TRUE(result);
            // One tick per file entry listed, the swapped one included.
            EXPECT_EQ(takeTicks(), folderSwap ? 2 : 3);
            EXPECT_TRUE(everyoneCanRead(inTree(L"c.txt"))) << "the walk went on";
            if (!folderSwap) {
                EXPECT_TRUE(everyoneCanRead(inTree(L"sub\\b.txt")));
                EXPECT_FALSE(everyoneCanRead(inTree(L"a.txt"))) << "the new file was secured";
            }
            break;
        case Walk::DeleteTreeContents:
            EXPECT_TRUE(result);
            EXPECT_EQ(takeTicks(), folderSwap ? 3 : 4);
            EXPECT_EQ(listTree(tree), folderSwap ? Names{L"sub@"} : Names{L"a.txt"});
            break;
        case Walk::DeleteDirectory:
            EXPECT_FALSE(result) << "the folder still holds what was left alone";
            EXPECT_EQ(listTree(tree), folderSwap ? Names{L"sub@"} : Names{L"a.txt"});
            break;
    }
}

std::string caseName(const testing::TestParamInfo<std::tuple<Walk, Swap>>& info) {
    const char* walks[] = {"SetTreeSecurity", "DeleteTreeContents", "DeleteDirectory"};
    const char* swaps[] = {"FolderForLink", "FileForFile"};
    return std::string(walks[static_cast<int>(std::get<0>(info.param))]) + "_" +
           swaps[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Walks, EntrySwappedAfterListing,
                         testing::Combine(testing::Values(Walk::SetTreeSecurity,
                                                          Walk::DeleteTreeContents,
                                                          Walk::DeleteDirectory),
                                          testing::Values(Swap::FolderForLink, Swap::FileForFile)),
                         caseName);

}  // namespace
}  // namespace tendril::test
