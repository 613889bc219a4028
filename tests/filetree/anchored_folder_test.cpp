// The anchor: a path opened from its volume root one component at a time, never through a link,
// and decided on what was opened.
#include "filetree/anchored_folder.h"
#include "tree_fixture.h"

#include "support/shell_fixture.h"

#include <gtest/gtest.h>

namespace tendril::test {
namespace {

std::wstring windowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return buffer;
}

std::wstring computerName() {
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ::GetComputerNameW(buffer, &size);
    return buffer;
}

std::wstring shortNameOf(const std::wstring& path) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

TEST(AnchoredFolder, OpensPlainPathsAndRefusesEverythingElse) {
    ScratchFolder scratch(L"anchor");
    ScratchFolder outside(L"outside");
    makeEntries(scratch.path(), {L"a\\", L"a\\b\\", L"a\\b\\c\\", L"a\\file", L"Long Folder Name\\"});
    ASSERT_TRUE(writeFile(outside / L"keep", "x"));
    // A link at each depth: first below the scratch folder, then deeper.
    ASSERT_TRUE(makeUnixDirectoryLink(outside.path(), scratch / L"top"));
    ASSERT_TRUE(makeUnixDirectoryLink(outside.path(), scratch / L"a\\b\\deep"));
    ASSERT_TRUE(makeUnixDirectoryLink(windowsFolder(), scratch / L"win"));
    const std::wstring shortName = shortNameOf(scratch / L"Long Folder Name");
    const std::wstring drive = scratch.path().substr(0, 2);

    const struct {
        const char* what;
        std::wstring path;
        AnchorRefusal refusal;
        std::wstring opened;                // the folder the anchor holds; empty: not checked
        std::vector<std::wstring> missing;  // what does not exist yet
    } cases[] = {
        {"a plain folder", scratch / L"a\\b", AnchorRefusal::None, scratch / L"a\\b", {}},
        {"a trailing backslash", scratch / L"a\\b\\", AnchorRefusal::None, scratch / L"a\\b", {}},
        {"slashes", scratch / L"a/b", AnchorRefusal::None, scratch / L"a\\b", {}},
        {"letter case as sent", scratch / L"A\\B", AnchorRefusal::None, scratch / L"a\\b", {}},
        {"a missing tail", scratch / L"a\\x\\y", AnchorRefusal::None, scratch / L"a", {L"x", L"y"}},
        {"a link at the end", scratch / L"top", AnchorRefusal::Link, L"", {}},
        {"a link below the root", scratch / L"top\\keep", AnchorRefusal::Link, L"", {}},
        {"a link three folders down", scratch / L"a\\b\\deep\\x", AnchorRefusal::Link, L"", {}},
        {"a missing tail under a link", scratch / L"top\\new\\more", AnchorRefusal::Link, L"", {}},
        {"a missing tail under a link to the Windows folder", scratch / L"win\\new.local",
         AnchorRefusal::Link, L"", {}},
        {"a file on the way", scratch / L"a\\file\\x", AnchorRefusal::NotAFolder, L"", {}},
        {"a file at the end", scratch / L"a\\file", AnchorRefusal::NotAFolder, L"", {}},
        {"the Windows folder", windowsFolder(), AnchorRefusal::Protected, L"", {}},
        {"a new folder inside the Windows folder", windowsFolder() + L"\\new",
         AnchorRefusal::Protected, L"", {}},
        {"a drive root", drive + L"\\", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a relative path", L"a\\b", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a drive-relative path", drive + L"a", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a step upwards", scratch / L"a\\..\\a", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a trailing dot", scratch / L"a.", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a trailing space", scratch / L"a ", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a doubled separator", scratch / L"a\\\\b", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a stream name", scratch / L"a:stream", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a wildcard", scratch / L"a\\*", AnchorRefusal::NotAPlainPath, L"", {}},
        {"a device path", L"\\\\?\\" + (scratch / L"a"), AnchorRefusal::DevicePath, L"", {}},
        {"a local device path", L"\\\\.\\" + (scratch / L"a"), AnchorRefusal::DevicePath, L"", {}},
        {"an object-manager path", L"\\??\\" + (scratch / L"a"), AnchorRefusal::DevicePath, L"",
         {}},
        {"localhost", L"\\\\localhost\\share\\a", AnchorRefusal::LocalShare, L"", {}},
        {"a loopback address", L"\\\\127.0.0.1\\share\\a", AnchorRefusal::LocalShare, L"", {}},
        {"the IPv6 loopback", L"\\\\::1\\share\\a", AnchorRefusal::LocalShare, L"", {}},
        {"this machine's name", L"\\\\" + computerName() + L"\\share\\a",
         AnchorRefusal::LocalShare, L"", {}},
        {"an administrative share anywhere", L"\\\\server\\C$\\Windows", AnchorRefusal::LocalShare,
         L"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Anchor anchor = anchorFolder(c.path, GuardUse::Request);
        EXPECT_EQ(anchor.refusal, c.refusal) << narrowPath(c.path) << ": "
                                             << narrowPath(refusalReason(anchor.refusal));
        if (anchor.refused()) continue;
        ASSERT_TRUE(anchor.folder);
        EXPECT_EQ(anchor.folder.path, c.opened);
        EXPECT_EQ(anchor.missing, c.missing);
    }

    // A short name is opened as the folder it names, and the anchor holds the name as listed.
    if (shortName.empty() || shortName == scratch / L"Long Folder Name") {
        GTEST_SKIP() << "no short name for a long folder name on this file system";
    }
    const Anchor viaShortName = anchorFolder(shortName, GuardUse::Request);
    EXPECT_EQ(viaShortName.refusal, AnchorRefusal::None) << narrowPath(shortName);
    EXPECT_EQ(viaShortName.folder.path, scratch / L"Long Folder Name");

    for (const wchar_t* link : {L"top", L"a\\b\\deep", L"win"}) removeLinkUnix(scratch / link);
    EXPECT_TRUE(exists(outside / L"keep"));
}

TEST(AnchoredFolder, CreatesAndMovesRelativeToItsHandles) {
    ScratchFolder scratch(L"anchor");
    Anchor anchor = anchorFolder(scratch / L"new\\deeper", GuardUse::Request);
    ASSERT_EQ(anchor.refusal, AnchorRefusal::None);
    ASSERT_EQ(anchor.missing.size(), 2u);
    ASSERT_TRUE(createMissingFolders(anchor, DELETE));
    EXPECT_TRUE(anchor.exists());
    EXPECT_EQ(anchor.folder.path, scratch / L"new\\deeper");
    EXPECT_TRUE(isDirectory(scratch / L"new\\deeper"));

    ASSERT_TRUE(writeFile(scratch / L"new\\deeper\\file", "x"));
    Anchor destination = anchorFolder(scratch.path(), GuardUse::Request);
    ASSERT_TRUE(destination.exists());
    ASSERT_TRUE(moveFolderInto(anchor.folder.get(), destination.folder.get(), L"moved"));
    anchor.folder.handle.reset();
    EXPECT_EQ(readFile(scratch / L"moved\\file"), "x");
    EXPECT_FALSE(exists(scratch / L"new\\deeper"));

    // Never over an existing entry.
    ASSERT_TRUE(::CreateDirectoryW((scratch / L"other").c_str(), nullptr));
    Anchor other = anchorFolder(scratch / L"other", GuardUse::Request, DELETE);
    ASSERT_TRUE(other.exists());
    EXPECT_FALSE(moveFolderInto(other.folder.get(), destination.folder.get(), L"moved"));
    EXPECT_TRUE(exists(scratch / L"moved\\file"));

    EXPECT_TRUE(deleteChildFile(destination.folder.get(), L"moved") == false) << "a folder stays";
    Anchor moved = anchorFolder(scratch / L"moved", GuardUse::Request);
    ASSERT_TRUE(moved.exists());
    EXPECT_TRUE(deleteChildFile(moved.folder.get(), L"file"));
    EXPECT_FALSE(exists(scratch / L"moved\\file"));
}

}  // namespace
}  // namespace tendril::test
