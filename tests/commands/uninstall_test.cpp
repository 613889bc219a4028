// The uninstall's reading of applist.dat and the progress total it gives its walks, in-process.
#include "commands/uninstall.h"
#include "commands/app_list.h"

#include "install/install_directory_list.h"
#include "launcher_link/link_fixture.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

namespace tendril {
namespace {

std::string records(int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        AppListRecord record{};
        record.name[0] = static_cast<wchar_t>(L'A' + i);
        wcscpy(record.path, L"bin\\app.exe");
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    return bytes;
}

TEST(ReadAppList, RecordsCorruptFilesAndMissingOnes) {
    const struct {
        const char* what;
        std::string bytes;  // empty: no file
        bool result;
        std::size_t records;
        bool fileStays;
    } cases[] = {
        {"no file is an empty list", "", true, 0, false},
        {"1304 bytes are two records", records(2), true, 2, true},
        {"1305 bytes are corrupt and deleted", records(2) + "!", false, 99, false},
        {"651 bytes are corrupt and deleted", records(1).substr(1), false, 99, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScratchFolder folder(L"applist");
        const std::wstring file = folder / L"applist.dat";
        if (!c.bytes.empty()) {
            ASSERT_TRUE(test::writeFile(file, c.bytes));
            ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        std::vector<AppListRecord> list(99);
        EXPECT_EQ(readAppList(folder.path(), list), c.result);
        ASSERT_EQ(list.size(), c.records);
        if (c.records == 2) {
            EXPECT_EQ(std::wstring(list[1].name), L"B");
            EXPECT_EQ(std::wstring(list[1].path), L"bin\\app.exe");
        }
        EXPECT_EQ(test::exists(file), c.fileStays);
        ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

class UninstallProgress : public test::LinkStateTest {};

// Securing ticks once per file and deleting once per entry: the total is twice the entries.
TEST_F(UninstallProgress, TheTotalIsTwiceTheEntriesOfTheFolder) {
    test::ScratchFolder folder(L"uninstall");
    test::ScratchRegistryKey key;
    for (const wchar_t* sub : {L"a", L"b"})
        ASSERT_TRUE(::CreateDirectoryW((folder / sub).c_str(), nullptr));
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(
            test::writeFile(folder / ((i % 2 ? L"a\\f" : L"b\\f") + std::to_wstring(i)), "x"));
    InstallDirectoryList list;
    list.open(key.path());
    list.slots()[0] = folder.path();
    list.store();
    wcscpy(assistantRequest.installFolder, folder.path().c_str());
    wcscpy(assistantRequest.regPath, key.path().c_str());
    wcscpy(assistantRequest.longName, L"TendrilUnitTest");
    wcscpy(assistantRequest.exeName, L"client.exe");

    EXPECT_TRUE(uninstallClient());
    EXPECT_EQ(progressTotal, 24);
    EXPECT_FALSE(test::exists(folder.path()));
    EXPECT_EQ(lastAssistantError, 0);
}

}  // namespace
}  // namespace tendril
