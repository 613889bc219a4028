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

namespace tendril::test {
namespace {

using Names = std::vector<std::wstring>;

// A drive letter of the prefix pointing at a scratch folder, so that "X:\" is a real 3-character
// path we can hand to every operation without risking the prefix's C:.
class MappedDrive {
public:
    explicit MappedDrive(const std::wstring& folder) {
        std::string drives = unixPath(L"C:\\");
        const std::size_t at = drives.find("/dosdevices/");
        if (at != std::string::npos) {
            drives.resize(at + 12);
        } else if (const std::size_t c = drives.rfind("/drive_c"); c != std::string::npos) {
            drives = drives.substr(0, c) + "/dosdevices/";
        } else {
            return;
        }
        const DWORD used = ::GetLogicalDrives();
        for (wchar_t letter = L'Y'; letter >= L'N'; --letter) {
            if (used & (1u << (letter - L'A'))) continue;
            const std::string link = drives + static_cast<char>(letter - L'A' + 'a') + ":";
            const std::wstring root = std::wstring(1, letter) + L":\\";
            link_ = link;
            if (runUnixAndWait("/bin/ln", {"-s", unixPath(folder), link},
                               [&] { return exists(root); })) {
                root_ = root;
                return;
            }
        }
    }
    ~MappedDrive() {
        if (link_.empty()) return;
        runUnixAndWait("/bin/rm", {"-f", link_}, [&] { return root_.empty() || !exists(root_); });
    }
    MappedDrive(const MappedDrive&) = delete;
    MappedDrive& operator=(const MappedDrive&) = delete;
    // "X:\", or empty when no letter could be mapped.
    const std::wstring& root() const { return root_; }

private:
    std::string link_;
    std::wstring root_;
};

class RefusedPaths : public FileTreeTest {
protected:
    // Every operation refuses path and leaves root's tree as it was.
    void expectRefused(const std::wstring& path, const ScratchFolder& root) {
        SCOPED_TRACE(testing::Message() << "path \"" << path << "\"");
        const Names before = listTree(root.path());
        ASSERT_FALSE(before.empty());
        std::int32_t counter = 11;
        EXPECT_FALSE(countFiles(path, counter, walk()));
        EXPECT_EQ(counter, 11);
        EXPECT_FALSE(setTreeSecurity(path, true, walk()));
        EXPECT_FALSE(deleteTreeContents(path, walk()));
        EXPECT_FALSE(deleteDirectoryContents(path));
        EXPECT_FALSE(deleteDirectory(path));
        EXPECT_EQ(takeTicks(), 0);
        lastAssistantError = 0;
        EXPECT_FALSE(grantInstallAccess(path, L"", false, walk()));
        EXPECT_EQ(lastAssistantError, FolderNotFound);
        EXPECT_EQ(listTree(root.path()), before);
        EXPECT_FALSE(everyoneCanRead(root / L"abcd\\f.txt"));
    }
};

TEST_F(RefusedPaths, ThreeCharacterDriveRootIsNeverWalked) {
    ScratchFolder root(L"driveroot");
    makeEntries(root.path(), {L"abcd\\", L"abcd\\f.txt", L"top.txt"});
    ASSERT_TRUE(denyOthers(root.path()));
    MappedDrive drive(root.path());
    if (drive.root().empty() || !exists(drive.root() + L"top.txt"))
        GTEST_SKIP() << "no drive letter could be mapped onto a scratch folder";
    ASSERT_TRUE(buildUsersSecurityDescriptor());
    expectRefused(drive.root(), root);                // "X:\", 3 characters
    expectRefused(drive.root().substr(0, 2), root);   // "X:", relative to that drive
    expectRefused(drive.root() + L"abcd\\..", root);  // resolves to the root
    expectRefused(drive.root() + L"\\", root);        // "X:\\"
}

TEST_F(RefusedPaths, RelativeAndEmptyPathsAreNeverWalked) {
    ScratchFolder root(L"relative");
    makeEntries(root.path(), {L"abcd\\", L"abcd\\f.txt", L"top.txt"});
    ASSERT_TRUE(denyOthers(root.path()));
    ASSERT_TRUE(buildUsersSecurityDescriptor());
    wchar_t previous[MAX_PATH];
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryW(root.path().c_str()));
    const std::wstring rootRelative = root.path().substr(2) + L"\\abcd";  // "\TendrilTests\..."
    for (const std::wstring& path :
         {std::wstring(), std::wstring(L"abcd"), std::wstring(L".\\abcd"), std::wstring(L"C:abcd"),
          rootRelative, root.path() + L"\\abcd\\..\\abcd", root.path() + L"\\ab*"}) {
        ASSERT_TRUE(exists(path.empty() ? L"." : path) || path.find(L'*') != std::wstring::npos)
            << "the refused path must name the real folder";
        expectRefused(path, root);
    }
    ::SetCurrentDirectoryW(previous);
}

}  // namespace
}  // namespace tendril::test
