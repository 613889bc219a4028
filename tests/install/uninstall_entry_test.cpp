// Uninstall entries in the prefix's own Uninstall key, under names no other test uses.
#include "install/uninstall_entry.h"

#include "install/client_installation.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <memory>
#include <string>

namespace tendril {
namespace {

using test::ScratchRegistryKey;
using test::ScratchRegistryLink;

std::wstring entryPath(const std::wstring& name) {
    return std::wstring(kUninstallRoot) + L"\\" + name;
}

// Opened by its whole path, as a plain call would: through any link on the way.
bool keyExists(const std::wstring& path) {
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

DWORD valueCount(const std::wstring& path) {
    UniqueKey key;
    DWORD values = 0;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS)
        ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                           nullptr, nullptr, nullptr, nullptr);
    return values;
}

// Removes the test's entries: by name, never through a link (the links are gone by then).
struct EntryNames {
    std::wstring base = test::uniqueName(L"Entry");
    ~EntryNames() {
        for (const wchar_t* tail : {L" 0", L" 1"})
            ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, entryPath(base + tail).c_str());
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, entryPath(base).c_str());
    }
};

// The entry is named after the request's long name: it is one key of the Uninstall root or
// nothing, and a registry link there is neither written, emptied nor deleted through.
TEST(UninstallEntry, IsOneKeyOfTheRootAndNeverReachedThroughALink) {
    EntryNames names;
    ScratchRegistryKey target;
    {
        UniqueKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (target.path() + L"\\sub").c_str(), 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    // "<base> 1" is a link to target; "<base> 0" an ordinary entry with a value of someone else's.
    const ScratchRegistryLink link(entryPath(names.base + L" 1"), target.path());
    ASSERT_TRUE(link.created());
    {
        AnchoredKey made = recreateUninstallEntry(uninstallEntryName(names.base, 0));
        ASSERT_TRUE(made.isOpen());
        ASSERT_EQ(made.key().writeString(L"Added", L"by others"), ERROR_SUCCESS);
    }
    EXPECT_EQ(valueCount(entryPath(names.base + L" 0")), 1u);

    // Rebuilt from scratch: what others added is gone.
    EXPECT_TRUE(recreateUninstallEntry(names.base + L" 0").isOpen());
    EXPECT_EQ(valueCount(entryPath(names.base + L" 0")), 0u);

    const struct {
        std::wstring name;
        KeyRefusal refusal;
    } refused[] = {
        {uninstallEntryName(names.base + L"\\x", 0), KeyRefusal::NotOneName},
        {uninstallEntryName(L"..\\" + names.base, 0), KeyRefusal::NotOneName},
        {names.base + L" 1", KeyRefusal::LinkOnTheWay},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(openUninstallEntry(c.name).refusal(), c.refusal);
        EXPECT_EQ(recreateUninstallEntry(c.name).refusal(), c.refusal);
        EXPECT_EQ(deleteUninstallEntry(c.name), ERROR_ACCESS_DENIED);
    }
    EXPECT_FALSE(keyExists(entryPath(names.base))) << "a key named by the first part";
    EXPECT_TRUE(keyExists(target.path() + L"\\sub")) << "the link's target was emptied";
    EXPECT_TRUE(refuseUninstallEntryName(names.base + L"\\x"));
    EXPECT_FALSE(refuseUninstallEntryName(names.base + L"/x"));

    EXPECT_EQ(deleteUninstallEntry(names.base + L" 0"), ERROR_SUCCESS);
    EXPECT_FALSE(keyExists(entryPath(names.base + L" 0")));
    EXPECT_EQ(deleteUninstallEntry(names.base + L" 0"), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace tendril
