// AnchoredKey and deleteKeyTree against real keys of the prefix, below scratch keys, with registry
// links planted the way Users who control a key could plant them.
#include "install/anchored_key.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <memory>
#include <string>

namespace tendril {
namespace {

using test::ScratchRegistryKey;
using test::ScratchRegistryLink;

// Opened by its whole path, as a plain call would: through any link on the way.
bool keyExists(const std::wstring& path) {
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

bool createKey(const std::wstring& path) {
    UniqueKey key;
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, key.put(), nullptr) == ERROR_SUCCESS;
}

bool setDacl(const std::wstring& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                                nullptr))
        return false;
    UniqueKey key;
    const bool set =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, key.put()) ==
            ERROR_SUCCESS &&
        ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    ::LocalFree(descriptor);
    return set;
}

// base\plain\deep is an ordinary key; base\L is a link to target, which holds "svc".
class AnchoredKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(createKey(base.path() + L"\\plain\\deep"));
        ASSERT_TRUE(createKey(target.path() + L"\\svc"));
        link = std::make_unique<ScratchRegistryLink>(base.path() + L"\\L", target.path());
        ASSERT_TRUE(link->created());
        ASSERT_TRUE(keyExists(base.path() + L"\\L\\svc")) << "the link leads nowhere";
    }
    std::wstring at(const std::wstring& relative) const { return base.path() + L"\\" + relative; }

    ScratchRegistryKey target;
    ScratchRegistryKey base;
    std::unique_ptr<ScratchRegistryLink> link;  // removed first, before the keys are deleted
};

TEST_F(AnchoredKeyTest, OpensComponentByComponentAndRefusesALinkWhereverItStands) {
    enum Outcome { Open, Missing, Link, NotOneName };
    const struct {
        std::wstring path;
        KeyUse use;
        Outcome outcome;
        std::wstring refusedAt;
    } cases[] = {
        {at(L"plain\\deep"), KeyUse::Open, Open, L""},
        {L"\\" + base.path() + L"\\\\plain\\deep\\", KeyUse::Open, Open, L""},
        {at(L"plain\\missing\\x"), KeyUse::Open, Missing, L""},
        {at(L"L"), KeyUse::Open, Link, at(L"L")},
        {at(L"L\\svc"), KeyUse::Open, Link, at(L"L")},
        {at(L"L\\svc\\Install"), KeyUse::Create, Link, at(L"L")},
        {at(L"L\\new"), KeyUse::Create, Link, at(L"L")},
        {L"\\\\", KeyUse::Open, NotOneName, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        AnchoredKey key = AnchoredKey::open(HKEY_LOCAL_MACHINE, c.path, KEY_READ, c.use);
        EXPECT_EQ(key.isOpen(), c.outcome == Open);
        EXPECT_EQ(key.get() != nullptr, c.outcome == Open);
        EXPECT_EQ(key.refusal(), c.outcome == Link         ? KeyRefusal::LinkOnTheWay
                                 : c.outcome == NotOneName ? KeyRefusal::NotOneName
                                                           : KeyRefusal::None);
        EXPECT_EQ(key.refusedAt(), c.refusedAt);
        if (c.use == KeyUse::Create) {
            EXPECT_EQ(key.createMissing(), ERROR_ACCESS_DENIED);
        }
    }
    // Nothing was made at the link's target.
    EXPECT_FALSE(keyExists(target.path() + L"\\svc\\Install"));
    EXPECT_FALSE(keyExists(target.path() + L"\\new"));

    // A child is one key or nothing.
    const AnchoredKey plain = AnchoredKey::open(HKEY_LOCAL_MACHINE, at(L"plain"), KEY_READ);
    ASSERT_TRUE(plain.isOpen());
    EXPECT_TRUE(AnchoredKey::openChild(plain.get(), L"deep", KEY_READ).isOpen());
    for (const wchar_t* name : {L"", L"deep\\x", L"..\\L"})
        EXPECT_EQ(AnchoredKey::openChild(plain.get(), name, KEY_READ).refusal(),
                  KeyRefusal::NotOneName)
            << name;
}

// The missing part is created from the deepest key that was opened, relative to it: a link put
// at a missing name after the open is met as itself and refused, and nothing lands behind it.
TEST_F(AnchoredKeyTest, CreatesWhatIsMissingBelowTheKeyItHolds) {
    AnchoredKey made = AnchoredKey::open(HKEY_LOCAL_MACHINE, at(L"plain\\new\\deeper"),
                                         kRegistryKeyAccess, KeyUse::Create);
    EXPECT_FALSE(made.isOpen());
    EXPECT_EQ(made.createMissing(), ERROR_SUCCESS);
    ASSERT_TRUE(made.isOpen());
    EXPECT_EQ(made.key().writeString(L"v", L"1"), ERROR_SUCCESS);
    wchar_t value[4] = {};
    DWORD size = sizeof value;
    EXPECT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, at(L"plain\\new\\deeper").c_str(), L"v",
                             RRF_RT_REG_SZ, nullptr, value, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(value, L"1");

    AnchoredKey raced = AnchoredKey::open(HKEY_LOCAL_MACHINE, at(L"plain\\race\\x"),
                                          kRegistryKeyAccess, KeyUse::Create);
    ASSERT_FALSE(raced.isOpen());
    ASSERT_FALSE(raced.refused());
    const ScratchRegistryLink planted(at(L"plain\\race"), target.path());
    ASSERT_TRUE(planted.created());
    EXPECT_EQ(raced.createMissing(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(raced.refusal(), KeyRefusal::LinkOnTheWay);
    EXPECT_EQ(raced.refusedAt(), at(L"plain\\race"));
    EXPECT_FALSE(keyExists(target.path() + L"\\x"));
}

// A key that cannot even be asked whether it is a link is refused too.
TEST_F(AnchoredKeyTest, AKeyThatCannotBeOpenedIsRefusedAsUndecided) {
    ASSERT_TRUE(createKey(at(L"locked\\x")));
    // Everyone may change the list back and delete the key, and do nothing else.
    ASSERT_TRUE(setDacl(at(L"locked"), L"D:(A;;WDSDRC;;;WD)"));
    UniqueKey probe;
    const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, at(L"locked").c_str(),
                                           REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, probe.put());
    if (opened == ERROR_SUCCESS) {
        ASSERT_TRUE(setDacl(at(L"locked"), L"D:(A;;KA;;;WD)"));
        GTEST_SKIP() << "this Wine opened a key whose access list denies it";
    }
    const AnchoredKey key =
        AnchoredKey::open(HKEY_LOCAL_MACHINE, at(L"locked\\x"), KEY_READ, KeyUse::Create);
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(key.refusal(), KeyRefusal::Undecidable);
    EXPECT_EQ(key.refusedAt(), at(L"locked"));
    EXPECT_EQ(key.refusalStatus(), opened);
    EXPECT_TRUE(setDacl(at(L"locked"), L"D:(A;;KA;;;WD)"));
}

// A tree is deleted through handles: a link inside it goes itself, while deleting by name
// (RegDeleteTreeW, SHDeleteKeyW) would empty the link's target and keep the link.
TEST_F(AnchoredKeyTest, DeleteKeyTreeDeletesALinkInsideItNotItsTarget) {
    ASSERT_TRUE(createKey(at(L"entry\\a\\b")));
    const ScratchRegistryLink inside(at(L"entry\\a\\L"), target.path());
    ASSERT_TRUE(inside.created());
    AnchoredKey entry = AnchoredKey::open(HKEY_LOCAL_MACHINE, at(L"entry"),
                                          kRegistryKeyAccess | kKeyTreeDeleteAccess);
    ASSERT_TRUE(entry.isOpen());
    ASSERT_EQ(entry.key().writeString(L"DisplayName", L"x"), ERROR_SUCCESS);

    EXPECT_EQ(deleteKeyTree(entry.get()), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(at(L"entry")));
    EXPECT_TRUE(keyExists(target.path() + L"\\svc"));
    EXPECT_EQ(deleteKeyTree(nullptr), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace tendril
