#include "filetree/access_grant.h"
#include "common/unique_handle.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/error_store.h"
#include "support/test_support.h"
#include "tree_fixture.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

#include <sddl.h>
#include <windows.h>

namespace tendril::test {
namespace {

bool keyExists(const std::wstring& path) {
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

TEST(UsersDescriptor, HoldsExactlyTheFourEntriesInOrder) {
    for (int build = 1; build <= 2; ++build) {
        SCOPED_TRACE(testing::Message() << "build " << build);
        ASSERT_TRUE(buildUsersSecurityDescriptor());
        PSECURITY_DESCRIPTOR descriptor = usersSecurityDescriptor.get();
        ASSERT_NE(descriptor, nullptr);
        EXPECT_TRUE(::IsValidSecurityDescriptor(descriptor));

        LPWSTR text = nullptr;
        ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                SACL_SECURITY_INFORMATION,
            &text, nullptr));
        const std::wstring sddl = text;
        ::LocalFree(text);
        // No owner, no group, no system list: the discretionary list alone.
        EXPECT_EQ(sddl, kUsersDaclText);

        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
        EXPECT_EQ(revision, 1u);
        EXPECT_EQ(control, SE_DACL_PRESENT) << "absolute, list present and not defaulted";

        // The list: revision 4, sized exactly (8 + 4 x 8 + SIDs of 16, 16, 12 and 12 bytes).
        const ACL* acl = usersSecurityDescriptor.acl();
        ASSERT_NE(acl, nullptr);
        EXPECT_EQ(acl->AclRevision, ACL_REVISION_DS);
        EXPECT_EQ(acl->AceCount, 4);
        EXPECT_EQ(acl->AclSize, 96);
        const DWORD masks[] = {GENERIC_ALL, GENERIC_ALL, GENERIC_ALL, 0x1};
        for (DWORD i = 0; i < 4; ++i) {
            void* ace = nullptr;
            ASSERT_TRUE(::GetAce(const_cast<ACL*>(acl), i, &ace));
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
            EXPECT_EQ(allowed->Header.AceFlags, 3);
            EXPECT_EQ(allowed->Mask, masks[i]);
        }
    }
    usersSecurityDescriptor.reset();
    EXPECT_EQ(usersSecurityDescriptor.get(), nullptr);
    EXPECT_EQ(usersSecurityDescriptor.acl(), nullptr);
}

class AccessGrant : public FileTreeTest {
protected:
    void SetUp() override {
        FileTreeTest::SetUp();
        lastAssistantError = 0;
    }
    void TearDown() override {
        lastAssistantError = 0;
        FileTreeTest::TearDown();
    }
};

TEST_F(AccessGrant, RefusesWhatIsNoFolderAndChangesNothing) {
    ScratchFolder root(L"grantno");
    makeEntries(root.path(), {L"file.txt", L"folder\\"});
    ASSERT_TRUE(denyOthers(root.path()));
    ScratchRegistryKey key;
    for (const std::wstring& path :
         {root / L"missing", root / L"file.txt", root / L"folder\\", root / L"fold*"}) {
        SCOPED_TRACE(testing::Message() << "path \"" << path << "\"");
        lastAssistantError = 0;
        EXPECT_FALSE(grantInstallAccess(path, key.path(), true, walk()));
        EXPECT_EQ(lastAssistantError, FolderNotFound);
        EXPECT_FALSE(keyExists(key.path())) << "no registry key touched";
        EXPECT_EQ(takeTicks(), 0);
    }
    EXPECT_FALSE(everyoneCanRead(root / L"file.txt"));
    EXPECT_FALSE(everyoneCanRead(root / L"folder"));
}

TEST_F(AccessGrant, SecuresTheTreeAndBothKeysTheSameEachTime) {
    ScratchFolder root(L"grant");
    makeEntries(root.path(), {L"client.exe", L"sub\\", L"sub\\data.bin", L"sub\\empty\\"});
    ASSERT_TRUE(denyOthers(root.path()));
    ScratchRegistryKey key;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        EXPECT_TRUE(grantInstallAccess(root.path(), key.path(), false, walk()));
        EXPECT_EQ(lastAssistantError, 0);
        EXPECT_EQ(takeTicks(), 0) << "no progress asked for";
        EXPECT_EQ(keyDaclText(key.path()), kUsersDaclText);
        EXPECT_EQ(keyDaclText(key.path() + L"\\Install"), kUsersDaclText);
        for (const wchar_t* name :
             {L"", L"\\client.exe", L"\\sub", L"\\sub\\data.bin", L"\\sub\\empty"})
            EXPECT_TRUE(everyoneCanRead(root.path() + name)) << name;
    }
}

TEST_F(AccessGrant, TicksOncePerFileWhenAskedAndKeepsExistingValues) {
    ScratchFolder root(L"grantticks");
    makeEntries(root.path(), {L"a", L"b", L"s\\", L"s\\c", L"s\\t\\", L"s\\t\\d"});
    ScratchRegistryKey key;
    {
        UniqueKey created;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.path().c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, created.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(created.get(), L"Keep", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(L"yes"), 8),
                  ERROR_SUCCESS);
    }
    EXPECT_TRUE(grantInstallAccess(root.path(), key.path(), true, walk()));
    EXPECT_EQ(takeTicks(), 4);
    EXPECT_EQ(keyDaclText(key.path()), kUsersDaclText);
    wchar_t value[8] = {};
    DWORD size = sizeof value;
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, key.path().c_str(), L"Keep", RRF_RT_REG_SZ,
                             nullptr, value, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(value, L"yes");
}

// An empty registry path would name HKEY_LOCAL_MACHINE itself: its list is left alone.
TEST_F(AccessGrant, EmptyRegistryPathTouchesNoKey) {
    ScratchFolder root(L"grantnoreg");
    const std::wstring before = keyDaclText(L"");
    ASSERT_FALSE(before.empty());
    EXPECT_TRUE(grantInstallAccess(root.path(), L"", false, walk()));
    EXPECT_EQ(keyDaclText(L""), before);
    EXPECT_FALSE(setRegistryKeySecurity(L""));
    EXPECT_EQ(keyDaclText(L""), before);
}

// A registry link that Users planted as the "Install" subkey (they control the installation key
// after the first grant): the list goes on the link key, never on the key it points to.
TEST_F(AccessGrant, RegistryLinkIsSecuredItselfNotItsTarget) {
    ScratchFolder root(L"grantreglink");
    ScratchRegistryKey key;
    ScratchRegistryKey targetKey;
    {
        UniqueKey created;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, targetKey.path().c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, created.put(), nullptr),
                  ERROR_SUCCESS);
    }
    const std::wstring targetBefore = keyDaclText(targetKey.path());
    ASSERT_FALSE(targetBefore.empty());
    ASSERT_NE(targetBefore, kUsersDaclText);

    const ScratchRegistryLink linkKey(key.path() + L"\\Install", targetKey.path());
    ASSERT_TRUE(linkKey.created());
    // The link works: opened normally, it leads to the target.
    {
        UniqueKey through;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, linkKey.path().c_str(), 0, KEY_SET_VALUE,
                                  through.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(through.get(), L"Marker", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(L"x"), 4),
                  ERROR_SUCCESS);
        DWORD size = 0;
        ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, targetKey.path().c_str(), L"Marker",
                                 RRF_RT_REG_SZ, nullptr, nullptr, &size),
                  ERROR_SUCCESS);
    }

    EXPECT_TRUE(grantInstallAccess(root.path(), key.path(), false, walk()));
    EXPECT_EQ(keyDaclText(key.path()), kUsersDaclText);
    EXPECT_EQ(keyDaclText(targetKey.path()), targetBefore);
    EXPECT_EQ(keyDaclText(linkKey.path()), kUsersDaclText);
}

// A hard link gives one file two names. Users could give a system file a name inside the tree
// and have the grant open it up; a file with more than one name is left as it is.
TEST_F(AccessGrant, FileWithASecondNameOutsideIsLeftAlone) {
    ScratchFolder outside(L"hardoutside");
    ScratchFolder root(L"hardtree");
    makeEntries(outside.path(), {L"system.dll"});
    makeEntries(root.path(), {L"plain.txt"});
    ASSERT_TRUE(makeUnixHardLink(outside / L"system.dll", root / L"alias.dll"));
    ASSERT_TRUE(denyOthers(outside.path()));
    ASSERT_TRUE(denyOthers(root.path()));

    EXPECT_TRUE(grantInstallAccess(root.path(), L"", true, walk()));
    EXPECT_EQ(takeTicks(), 2) << "the skipped file still counts";
    EXPECT_TRUE(everyoneCanRead(root / L"plain.txt"));
    EXPECT_FALSE(everyoneCanRead(outside / L"system.dll"));
    EXPECT_FALSE(everyoneCanRead(root / L"alias.dll"));
}

// The grant creates the key when it is missing. A link planted at the name before that create
// (here one whose target does not exist) is opened itself: no key appears at the target, and the
// list goes on the link key.
TEST_F(AccessGrant, RegistryLinkToAMissingKeyMakesNothingAtItsTarget) {
    ScratchRegistryKey key;
    ScratchRegistryKey targetKey;  // never created: removed at the end should the grant make it
    const ScratchRegistryLink link(key.path() + L"\\Install", targetKey.path());
    ASSERT_TRUE(link.created());
    const std::wstring& linkPath = link.path();
    // The link works: a plain create through it makes the target (removed again here).
    {
        UniqueKey through;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, linkPath.c_str(), 0, nullptr, 0, KEY_READ,
                                    nullptr, through.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_TRUE(keyExists(targetKey.path()));
        through.reset();
        ASSERT_EQ(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, targetKey.path().c_str()), ERROR_SUCCESS);
        ASSERT_FALSE(keyExists(targetKey.path()));
    }

    ASSERT_TRUE(buildUsersSecurityDescriptor());
    EXPECT_TRUE(setRegistryKeySecurity(linkPath));
    EXPECT_FALSE(keyExists(targetKey.path())) << "an elevated create went through the link";
    EXPECT_EQ(keyDaclText(linkPath), kUsersDaclText);
}

}  // namespace
}  // namespace tendril::test
