// RegistryKey against real keys of the prefix's registry, below a scratch key.
#include "install/registry_key.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tendril {
namespace {

using test::ScratchRegistryKey;

// Stores raw bytes under a value, bypassing RegistryKey, so that malformed data can be planted.
void setRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes));
}

struct RawValue {
    LSTATUS status;
    DWORD type;
    std::vector<BYTE> bytes;
};

RawValue queryRaw(HKEY key, const wchar_t* name) {
    RawValue value{};
    DWORD size = 0;
    value.status = ::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (value.status != ERROR_SUCCESS) return value;
    value.bytes.resize(size);
    value.status = ::RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size);
    value.bytes.resize(size);
    return value;
}

class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegistryKeyResult created = createRegistryKey(HKEY_LOCAL_MACHINE, scratch.path().c_str());
        ASSERT_EQ(ERROR_SUCCESS, created.status);
        key = std::move(created.key);
    }
    ScratchRegistryKey scratch;
    RegistryKey key;
};

TEST_F(RegistryKeyTest, ReadStringFollowsTheSizeAndTypeRules) {
    const wchar_t games[] = L"C:\\Games";  // 8 characters + NUL = 18 bytes
    // RegSetValueExW adds a NUL to string data that the caller's memory continues with one, so
    // the unterminated samples are cut out of a longer text.
    const wchar_t abcd[] = L"abcd";
    const DWORD number = 7;
    struct Case {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD bytes;
        DWORD capacity;
        LSTATUS status;
        DWORD length;
        std::wstring text;
    } cases[] = {
        {L"zero", REG_SZ, L"", 0, 16, ERROR_SUCCESS, 0, L""},
        {L"nul", REG_SZ, L"", 2, 16, ERROR_SUCCESS, 1, L""},
        {L"text", REG_SZ, games, sizeof games, 16, ERROR_SUCCESS, 9, games},
        {L"expand", REG_EXPAND_SZ, L"%TEMP%", 14, 16, ERROR_SUCCESS, 7, L"%TEMP%"},
        {L"exact", REG_SZ, games, sizeof games, 9, ERROR_SUCCESS, 9, games},
        {L"odd", REG_SZ, abcd, 7, 16, ERROR_INVALID_DATA, 0, L""},
        {L"noNul", REG_SZ, abcd, 6, 16, ERROR_INVALID_DATA, 0, L""},
        {L"dword", REG_DWORD, &number, sizeof number, 16, ERROR_INVALID_DATA, 0, L""},
        {L"multi", REG_MULTI_SZ, L"a\0", 6, 16, ERROR_INVALID_DATA, 0, L""},
        {L"long", REG_SZ, games, sizeof games, 8, ERROR_MORE_DATA, 0, L""},
        {L"missing", REG_NONE, nullptr, 0, 16, ERROR_FILE_NOT_FOUND, 0, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.data) {
            setRaw(key.get(), c.name, c.type, c.data, c.bytes);
            ASSERT_EQ(c.bytes, queryRaw(key.get(), c.name).bytes.size());
        }
        wchar_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), L'x');
        DWORD length = c.capacity;
        EXPECT_EQ(c.status, key.readString(c.name, buffer, length));
        EXPECT_EQ(c.length, length);
        // Whatever the outcome, the caller is left a terminated text within its capacity.
        EXPECT_EQ(c.text, std::wstring(buffer));
        if (c.capacity < 16) {
            EXPECT_EQ(L'x', buffer[c.capacity]);
        }
    }
}

TEST_F(RegistryKeyTest, ReadStringWithoutRoomWritesNothing) {
    setRaw(key.get(), L"zero", REG_SZ, L"", 0);
    wchar_t sentinel = L'x';
    DWORD length = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.readString(L"zero", &sentinel, length));
    EXPECT_EQ(L'x', sentinel);

    // A null buffer asks for the size only.
    setRaw(key.get(), L"text", REG_SZ, L"C:\\Games", 18);
    length = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.readString(L"text", nullptr, length));
    EXPECT_EQ(9u, length);
}

TEST_F(RegistryKeyTest, WriteStringStoresTheNul) {
    key.writeString(L"empty", L"");
    key.writeString(L"null", nullptr);
    key.writeString(L"text", L"ab");
    for (const wchar_t* name : {L"empty", L"null"}) {
        const RawValue value = queryRaw(key.get(), name);
        EXPECT_EQ(ERROR_SUCCESS, value.status);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type);
        EXPECT_EQ((std::vector<BYTE>{0, 0}), value.bytes);
    }
    const RawValue text = queryRaw(key.get(), L"text");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), text.type);
    EXPECT_EQ((std::vector<BYTE>{'a', 0, 'b', 0, 0, 0}), text.bytes);

    RegistryKey closed;
    EXPECT_EQ(ERROR_INVALID_HANDLE, closed.writeString(L"x", L"y"));
}

TEST_F(RegistryKeyTest, OpenKeepsTheHeldKeyOnFailureAndCloseIsIdempotent) {
    key.writeString(L"marker", L"here");
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TendrilTest\\none"));
    wchar_t buffer[8];
    DWORD length = 8;
    EXPECT_EQ(ERROR_SUCCESS, key.readString(L"marker", buffer, length));
    EXPECT_STREQ(L"here", buffer);

    // A successful open replaces the key.
    ASSERT_EQ(ERROR_SUCCESS, createRegistryKey(key.get(), L"child").status);
    EXPECT_EQ(ERROR_SUCCESS, key.open(HKEY_LOCAL_MACHINE, (scratch.path() + L"\\child").c_str()));
    length = 8;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.readString(L"marker", buffer, length));

    EXPECT_EQ(ERROR_SUCCESS, key.close());
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(ERROR_SUCCESS, key.close());
    length = 8;
    EXPECT_EQ(ERROR_INVALID_HANDLE, key.readString(L"marker", buffer, length));
}

TEST_F(RegistryKeyTest, CreateLegacyOpenAndDeleteTree) {
    const std::wstring deep = scratch.path() + L"\\a\\b\\c";
    RegistryKeyResult created = createRegistryKey(HKEY_LOCAL_MACHINE, deep.c_str());
    ASSERT_EQ(ERROR_SUCCESS, created.status);
    created.key.writeString(L"v", L"1");

    RegistryKeyResult legacy = openRegistryKeyLegacy(HKEY_LOCAL_MACHINE, deep.c_str());
    EXPECT_EQ(ERROR_SUCCESS, legacy.status);
    wchar_t buffer[4];
    DWORD length = 4;
    EXPECT_EQ(ERROR_SUCCESS, legacy.key.readString(L"v", buffer, length));
    EXPECT_STREQ(L"1", buffer);

    // The moved-to owner holds the key, the moved-from one is closed.
    RegistryKey moved = std::move(legacy.key);
    EXPECT_TRUE(moved.isOpen());
    EXPECT_FALSE(legacy.key.isOpen());
    moved.close();
    created.key.close();

    const std::wstring a = scratch.path() + L"\\a";
    EXPECT_EQ(ERROR_SUCCESS, deleteRegistryTree(HKEY_LOCAL_MACHINE, a.c_str()));
    RegistryKeyResult gone = openRegistryKeyLegacy(HKEY_LOCAL_MACHINE, a.c_str());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, gone.status);
    EXPECT_FALSE(gone.key.isOpen());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, deleteRegistryTree(HKEY_LOCAL_MACHINE, a.c_str()));

    // An empty sub-key never aliases or deletes the parent.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, openRegistryKeyLegacy(key.get(), L"").status);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, createRegistryKey(key.get(), nullptr).status);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, deleteRegistryTree(key.get(), L""));
    EXPECT_TRUE(key.isOpen());
}

}  // namespace
}  // namespace tendril
