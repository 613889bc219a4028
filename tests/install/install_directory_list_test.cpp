// The install-directory records in a scratch client key, and the two path functions they use.
#include "install/install_directory_list.h"
#include "launcher_link/launcher_user.h"

#include "install/install_path.h"
#include "install/registry_key.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tendril {
namespace {

using test::ScratchFolder;
using test::ScratchRegistryKey;

struct Stored {
    LSTATUS status;
    DWORD type;
    DWORD bytes;
    std::wstring text;  // up to the first NUL
};

Stored queryStored(const std::wstring& keyPath, int slot) {
    Stored stored{};
    HKEY key = nullptr;
    stored.status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key);
    if (stored.status != ERROR_SUCCESS) return stored;
    UniqueKey owner(key);
    wchar_t data[2048] = {};
    stored.bytes = sizeof data - sizeof(wchar_t);
    stored.status = ::RegQueryValueExW(key, InstallDirectoryList::valueName(slot).c_str(), nullptr,
                                       &stored.type, reinterpret_cast<BYTE*>(data), &stored.bytes);
    stored.text = data;
    return stored;
}

class InstallDirectoryListTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The launcher's user is the test process itself, an administrator.
        ASSERT_TRUE(takeLauncherUser(::GetCurrentProcess()));
        RegistryKeyResult client = createRegistryKey(HKEY_LOCAL_MACHINE, scratch.path().c_str());
        ASSERT_EQ(ERROR_SUCCESS, client.status);
        list.open(scratch.path());
        ASSERT_TRUE(list.opened());
    }
    // Creates "Install" and sets raw values in it.
    HKEY install() {
        if (!installKey.isOpen())
            installKey = createRegistryKey(HKEY_LOCAL_MACHINE, installPath().c_str()).key;
        return installKey.get();
    }
    void setSlotText(int slot, const std::wstring& text) {
        install();
        installKey.writeString(InstallDirectoryList::valueName(slot).c_str(), text.c_str());
    }
    std::wstring installPath() const { return scratch.path() + L"\\Install"; }

    ScratchRegistryKey scratch;
    RegistryKey installKey;
    InstallDirectoryList list;
};

TEST_F(InstallDirectoryListTest, FreshKeyThenStoreWritesTenStringValues) {
    EXPECT_EQ(-1, list.indexOf(L"C:\\Games\\Client"));
    EXPECT_EQ(0, list.indexOf(L""));
    HKEY probe = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, installPath().c_str(), 0, KEY_READ, &probe));

    list.slots()[3] = L"C:\\Games\\Client";
    list.store();
    EXPECT_EQ(L"Directory", InstallDirectoryList::valueName(0));
    for (int i = 0; i < InstallDirectoryList::kSlotCount; ++i) {
        SCOPED_TRACE(i);
        const Stored stored = queryStored(installPath(), i);
        EXPECT_EQ(ERROR_SUCCESS, stored.status);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
        EXPECT_EQ(i == 3 ? 32u : 2u, stored.bytes);
        EXPECT_EQ(i == 3 ? L"C:\\Games\\Client" : L"", stored.text);
    }
    EXPECT_EQ(3, list.indexOf(L"c:\\games\\client"));
}

TEST_F(InstallDirectoryListTest, MissingClientKeyIsCreatedOnlyByStore) {
    const std::wstring path = scratch.path() + L"\\Missing";
    InstallDirectoryList missing;
    missing.open(path);
    EXPECT_FALSE(missing.opened());
    EXPECT_EQ(0, missing.indexOf(L""));
    EXPECT_EQ(-1, missing.indexOf(L"C:\\Games"));
    missing.slots()[1] = L"C:\\Games";
    missing.store();
    EXPECT_TRUE(missing.opened());
    EXPECT_EQ(L"C:\\Games", queryStored(path + L"\\Install", 1).text);
}

TEST_F(InstallDirectoryListTest, LoadRewritesUnusableValuesAndCreatesMissingOnes) {
    const DWORD number = 5;
    const std::wstring tooLong(1023, L'a');  // 1024 units with the NUL: one more than we read
    const std::wstring longest(1022, L'b');
    HKEY key = install();
    struct Case {
        int slot;
        DWORD type;
        const void* data;
        DWORD bytes;
        const wchar_t* expected;  // null: rewritten as an empty 2-byte string
    } cases[] = {
        {0, REG_EXPAND_SZ, L"\"D:/Games//Client\"", 38, L"D:\\Games\\Client"},
        {1, REG_SZ, L"", 0, L""},          // accepted as it stands: stays 0 bytes
        {2, REG_SZ, L"abcd", 7, nullptr},  // "abcd": no NUL follows the stored part
        {3, REG_DWORD, &number, 4, nullptr},
        {4, REG_SZ, L"abcd", 6, nullptr},
        {5, REG_SZ, tooLong.c_str(), 2048, nullptr},
        {6, REG_SZ, longest.c_str(), 2046, longest.c_str()},
        {7, REG_BINARY, "\0\0", 2, nullptr},
        // 8 and 9 are missing
    };
    for (const Case& c : cases)
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key, InstallDirectoryList::valueName(c.slot).c_str(), 0, c.type,
                                   static_cast<const BYTE*>(c.data), c.bytes));
    list.slots()[8] = L"stale";
    list.load();

    for (int i = 0; i < InstallDirectoryList::kSlotCount; ++i) {
        SCOPED_TRACE(i);
        const Case* c = i < 8 ? &cases[i] : nullptr;
        const Stored stored = queryStored(installPath(), i);
        if (c && c->expected) {
            EXPECT_EQ(c->expected, list.slots()[i]);
            EXPECT_EQ(c->type, stored.type);  // left untouched
            EXPECT_EQ(c->bytes, stored.bytes);
        } else {
            EXPECT_EQ(L"", list.slots()[i]);
            EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
            EXPECT_EQ(2u, stored.bytes);
        }
    }
}

TEST_F(InstallDirectoryListTest, IndexOfComparesNormalisedPathsAndAsciiCaseOnly) {
    setSlotText(2, L"\"D:/Games//Client\"");
    setSlotText(5, L"D:\\Games\\Client");
    setSlotText(6, L"D:\\Spiele\\\x00C4pfel");  // Ä
    const struct {
        const wchar_t* path;
        int slot;
    } cases[] = {
        {L"d:\\games\\client", 2},
        {L"\"D:/GAMES/client\"", 2},
        {L"D:\\\\Games\\\\\\Client", 2},
        {L"D:\\Games\\Client\\", -1},
        {L"D:\\Games\\Clients", -1},
        {L"D:\\Spiele\\\x00C4pfel", 6},
        {L"d:\\spiele\\\x00E4pfel", -1},  // ä: only A to Z are folded
        {L"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.slot, list.indexOf(c.path)) << c.path;
}

TEST_F(InstallDirectoryListTest, RemoveEmptiesTheFirstHolderOnly) {
    setSlotText(1, L"\"C:/Keep\"");
    setSlotText(2, L"C:\\Games\\Client");
    setSlotText(5, L"c:\\games\\client");
    EXPECT_FALSE(list.remove(L"C:\\Games\\Client"));
    EXPECT_EQ(L"", queryStored(installPath(), 2).text);
    EXPECT_EQ(L"c:\\games\\client", queryStored(installPath(), 5).text);
    EXPECT_EQ(L"C:\\Keep", queryStored(installPath(), 1).text);  // stored as loaded

    setSlotText(1, L"\"C:/Keep\"");
    EXPECT_TRUE(list.remove(L"C:\\Elsewhere"));
    EXPECT_EQ(L"\"C:/Keep\"", queryStored(installPath(), 1).text);  // no store happened
    EXPECT_TRUE(list.remove(L"C:\\GAMES\\CLIENT"));
    EXPECT_EQ(L"", queryStored(installPath(), 5).text);
}

// After a grant Users control the client key: they can put a registry link where "Install" was,
// and a later request can name a registry path that runs through a link they planted. The records
// must then be neither read from the key a link points at (they would name folders of the link's
// choosing) nor written into it (an elevated write into any key of the machine); the list says it
// refused, and refuseClientKey refuses the same paths before anything is opened for writing.
TEST_F(InstallDirectoryListTest, ALinkOnTheWayToTheRecordsIsRefused) {
    // Records of someone else's: as "Install" itself, below "Install" and below "client\Install".
    ScratchRegistryKey target;
    for (const wchar_t* records : {L"", L"\\Install", L"\\client\\Install"}) {
        RegistryKeyResult created =
            createRegistryKey(HKEY_LOCAL_MACHINE, (target.path() + records).c_str());
        ASSERT_EQ(ERROR_SUCCESS, created.status);
        ASSERT_EQ(ERROR_SUCCESS, created.key.writeString(L"Directory", L"C:\\Elsewhere"));
    }
    const struct {
        const char* name;
        const wchar_t* link;     // below the client key; null: no link
        const wchar_t* regPath;  // below the client key
    } cases[] = {
        {"no link", nullptr, L""},
        {"Install is a link", L"Install", L""},
        {"the path runs through a link", L"L", L"L\\client"},
        {"the path is a link", L"L", L"L"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchRegistryKey client;
        ASSERT_EQ(ERROR_SUCCESS,
                  createRegistryKey(HKEY_LOCAL_MACHINE, client.path().c_str()).status);
        std::unique_ptr<test::ScratchRegistryLink> link;
        if (c.link) {
            link = std::make_unique<test::ScratchRegistryLink>(client.path() + L"\\" + c.link,
                                                               target.path());
            ASSERT_TRUE(link->created());
        }
        const std::wstring regPath = *c.regPath ? client.path() + L"\\" + c.regPath : client.path();
        const bool refused = c.link != nullptr;
        EXPECT_EQ(refuseClientKey(regPath), refused);

        InstallDirectoryList records;
        records.open(regPath);
        EXPECT_EQ(-1, records.indexOf(L"C:\\Elsewhere"));
        records.slots()[3] = L"C:\\Games";
        records.store();
        EXPECT_TRUE(records.remove(L"C:\\Elsewhere"));
        EXPECT_EQ(records.refused(), refused);
        EXPECT_EQ(queryStored(regPath + L"\\Install", 3).text, refused ? L"" : L"C:\\Games");
        for (const wchar_t* records : {L"", L"\\Install", L"\\client\\Install"}) {
            SCOPED_TRACE(records);
            for (int slot = 0; slot < InstallDirectoryList::kSlotCount; ++slot)
                EXPECT_EQ(slot == 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND,
                          queryStored(target.path() + records, slot).status)
                    << "slot " << slot;
            EXPECT_EQ(L"C:\\Elsewhere", queryStored(target.path() + records, 0).text);
        }
    }
}

TEST_F(InstallDirectoryListTest, PruneKeepsOnlyFoldersThatHoldSomething) {
    ScratchFolder folder;
    ASSERT_TRUE(::CreateDirectoryW((folder / L"empty").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder / L"nested").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder / L"nested\\inner").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder / L"full").c_str(), nullptr));
    ASSERT_TRUE(test::writeFile(folder / L"full\\a.txt", "a"));
    const struct {
        std::wstring path;
        bool kept;
    } slots[InstallDirectoryList::kSlotCount] = {
        {L"C:\\", false},  // the drive root: too short, although it exists
        {folder / L"empty", false},
        {folder / L"nested", true},  // holds an empty sub-folder
        {folder / L"full", true},
        {folder / L"gone", false},
        {folder / L"full\\a.txt", false},
        {folder / L"full\\", false},  // a trailing backslash finds nothing
        {L"C:", false},
        {L"", false},
        {folder.path(), true},
    };
    for (int i = 0; i < 10; ++i) setSlotText(i, slots[i].path);
    list.prune();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(slots[i].kept ? slots[i].path : L"", queryStored(installPath(), i).text) << i;
}

TEST(InstallPath, NormalizeInstallPath) {
    const struct {
        std::wstring in;
        std::wstring out;
        std::size_t changes;
    } cases[] = {
        {L"\"D:/Games//Client\"", L"D:\\Games\\Client", 6},
        // A network path keeps its leading pair; runs after it collapse.
        {L"\\\\server\\share", L"\\\\server\\share", 0},
        {L"//server//share/Client", L"\\\\server\\share\\Client", 6},
        {L"\\\\\\\\server\\share", L"\\\\server\\share", 2},
        {L"C:\\\\\\\\\\a\\", L"C:\\a\\", 4},  // any run; the trailing one stays
        {L" C:\\Program Files\\X ", L" C:\\Program Files\\X ", 0},
        {L"a\"\\\"\\b", L"a\\b", 3},
        {L"", L"", 0},
    };
    for (const auto& c : cases) {
        std::wstring text = c.in;
        EXPECT_EQ(c.changes, normalizeInstallPath(text)) << c.in;
        EXPECT_EQ(c.out, text) << c.in;
    }
}

TEST(InstallPath, IsFolderEmpty) {
    ScratchFolder folder;
    ASSERT_TRUE(test::writeFile(folder / L"file", "x"));
    ASSERT_TRUE(::CreateDirectoryW((folder / L"empty").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((folder / L"hidden").c_str(), nullptr));
    ASSERT_TRUE(test::writeFile(folder / L"hidden\\h", "x"));
    ::SetFileAttributesW((folder / L"hidden\\h").c_str(), FILE_ATTRIBUTE_HIDDEN);
    const struct {
        std::wstring path;
        bool empty;
    } cases[] = {
        {folder / L"file", true},
        {folder / L"empty", true},
        {folder / L"missing", true},
        {folder.path() + L"\\", true},
        {L"", true},
        {folder / L"hidden", false},
        {folder.path(), false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.empty, isFolderEmpty(c.path)) << c.path;
}

}  // namespace
}  // namespace tendril
