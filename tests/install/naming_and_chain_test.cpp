// Installation names and folder creation on the prefix's drive.
#include "install/directory_chain.h"
#include "install/install_naming.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace tendril {
namespace {

using test::ScratchFolder;

TEST(InstallNaming, CounterIsSlotPlusOneFromTheSecondInstallation) {
    const struct {
        int slot;
        bool portable;
        const wchar_t* name;
    } cases[] = {
        {-1, false, L"Client"},
        {0, false, L"Client"},
        {1, false, L"Client (2)"},
        {9, false, L"Client (10)"},
        {0, true, L"Client Portable"},
        {1, true, L"Client Portable (2)"},
        {INT_MAX, false, L"Client (2147483648)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.name, makeInstallName(L"Client", c.portable, c.slot)) << c.slot;
}

TEST(DirectoryChain, CreatesWhatIsMissing) {
    ScratchFolder folder;
    const struct {
        std::wstring path;
        std::wstring created;  // checked to be a folder afterwards
    } cases[] = {
        {folder.path(), folder.path()},
        {folder.path() + L"\\", folder.path()},
        {folder / L"A\\B", folder / L"A\\B"},
        {folder / L"C\\\\D\\\\\\E\\", folder / L"C\\D\\E"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(createDirectoryChain(c.path)) << c.path;
        EXPECT_TRUE(test::isDirectory(c.created)) << c.path;
    }
}

TEST(DirectoryChain, RefusesWithoutCreating) {
    ScratchFolder folder;
    ASSERT_TRUE(test::writeFile(folder / L"A", "x"));
    EXPECT_FALSE(createDirectoryChain(folder / L"A\\B"));
    EXPECT_FALSE(test::isDirectory(folder / L"A"));
    EXPECT_FALSE(test::exists(folder / L"A\\B"));

    EXPECT_FALSE(createDirectoryChain(L""));
    EXPECT_FALSE(createDirectoryChain(L"\\\\"));

    // One component is only checked, never created (here: relative to the current directory).
    const std::wstring single = test::uniqueName(L"single");
    EXPECT_FALSE(createDirectoryChain(single));
    EXPECT_FALSE(test::exists(single));

    // Far beyond MAX_PATH: fails cleanly.
    EXPECT_FALSE(createDirectoryChain(folder / std::wstring(400, L'n') + L"\\x"));
}

TEST(DirectoryChain, MissingDriveFails) {
    const DWORD drives = ::GetLogicalDrives();
    wchar_t letter = 0;
    for (wchar_t l = L'Q'; l <= L'Z' && !letter; ++l)
        if (!(drives & (1u << (l - L'A')))) letter = l;
    if (!letter) GTEST_SKIP() << "every drive letter from Q: to Z: exists in this prefix";
    const std::wstring path = std::wstring(1, letter) + L":\\TendrilNoDrive\\A";
    EXPECT_FALSE(createDirectoryChain(path));
    EXPECT_FALSE(test::exists(path));
}

// A path that starts with a backslash is rebuilt with that backslash, never as a path relative to
// the current directory.
TEST(DirectoryChain, LeadingBackslashIsKept) {
    ScratchFolder folder;
    const std::wstring name = test::uniqueName(L"root");
    ASSERT_TRUE(::CreateDirectoryW((folder / name).c_str(), nullptr));
    wchar_t previous[MAX_PATH];
    ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, previous));
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.path().c_str()));
    // \<name> does not exist at the drive root, only below the current directory.
    const bool created = createDirectoryChain(L"\\" + name + L"\\A");
    ::SetCurrentDirectoryW(previous);
    EXPECT_FALSE(created);
    EXPECT_FALSE(test::exists(folder / name + L"\\A"));
}

}  // namespace
}  // namespace tendril
