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

// After a first grant Users control the installation's key and may plant a registry link in it:
// as its "Install" key, or as a key on the way to a registry path a later request names. Whatever
// the link leads to (an existing key, or one the grant would create), the grant is refused before
// anything is touched: no access list lands on the link, on its target or on the folder, and
// nothing is created at the target.
TEST_F(AccessGrant, ARegistryLinkOnTheWayIsRefusedBeforeAnythingIsTouched) {
    struct Case {
        const char* name;
        const wchar_t* link;     // below the client key
        const wchar_t* regPath;  // below the client key, empty: the client key itself
        bool targetExists;
    } cases[] = {
        {"Install is a link", L"Install", L"", true},
        {"Install is a link to a missing key", L"Install", L"", false},
        {"the registry path runs through a link", L"L", L"L\\svc", true},
        {"the registry path is a link", L"L", L"L", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder root(L"grantreglink");
        ASSERT_TRUE(denyOthers(root.path()));
        ScratchRegistryKey key;
        ScratchRegistryKey target;
        {
            UniqueKey created;
            ASSERT_EQ(
                ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key.path() + L"\\x").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, created.put(), nullptr),
                ERROR_SUCCESS);
            if (c.targetExists) {
                ASSERT_EQ(
                    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (target.path() + L"\\svc").c_str(), 0,
                                      nullptr, 0, KEY_ALL_ACCESS, nullptr, created.put(), nullptr),
                    ERROR_SUCCESS);
            }
        }
        const ScratchRegistryLink link(key.path() + L"\\" + c.link, target.path());
        ASSERT_TRUE(link.created());
        ASSERT_EQ(keyExists(link.path() + L"\\svc"), c.targetExists) << "the link leads nowhere";
        const std::wstring regPath = *c.regPath ? key.path() + L"\\" + c.regPath : key.path();
        const std::wstring keyBefore = keyDaclText(key.path());
        const std::wstring linkBefore = keyDaclText(link.path());
        const std::wstring targetBefore = keyDaclText(target.path());

        EXPECT_FALSE(grantInstallAccess(root.path(), regPath, false, walk()));
        EXPECT_EQ(lastAssistantError, AccessNotGranted);
        EXPECT_FALSE(everyoneCanRead(root.path())) << "the folder was secured";
        // Nor does the key step alone reach through the link.
        ASSERT_TRUE(buildUsersSecurityDescriptor());
        EXPECT_FALSE(setRegistryKeySecurity(regPath + L"\\Install"));
        if (*c.regPath) {
            EXPECT_FALSE(setRegistryKeySecurity(regPath));
        }

        EXPECT_EQ(keyDaclText(key.path()), keyBefore);
        EXPECT_EQ(keyDaclText(link.path()), linkBefore);
        EXPECT_EQ(keyDaclText(target.path()), targetBefore);
        EXPECT_EQ(keyExists(target.path()), c.targetExists) << "an elevated create went through";
        EXPECT_FALSE(keyExists(target.path() + L"\\Install"));
        EXPECT_FALSE(keyExists(target.path() + L"\\svc\\Install"));
    }
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

}  // namespace
}  // namespace tendril::test
