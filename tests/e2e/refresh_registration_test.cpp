// RefreshRegistration (command 1) from end to end: the folder, the slot, the Uninstall entry
// with its seven values, the records, the data files, the shortcuts and the message sequence.
#include "e2e_support.h"
#include "product_fixture.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>

namespace tendril::test {
namespace {

using launch::RunResult;

// 0 first, then only the throttled reports of the command, rising, then 100, then the result.
void expectSequence(const RunResult& run, std::int32_t error) {
    SCOPED_TRACE(describe(run.messages));
    ASSERT_TRUE(run.result.has_value());
    EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(RefreshRegistration), error));
    const auto status = messagesOf(run.messages, WM_ASSISTANT_STATUS);
    ASSERT_GE(status.size(), 3u);
    EXPECT_EQ(status.back().wParam, RefreshRegistration);
    const std::vector<std::int64_t> progress = progressOf(run.messages);
    ASSERT_EQ(progress.size(), status.size() - 1) << "only progress before the result";
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 100);
    const std::vector<std::int64_t> allowed = {5, 10, 15, 70, 80, 95};
    std::int64_t last = 0;
    for (std::size_t i = 1; i + 1 < progress.size(); ++i) {
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), progress[i]), allowed.end());
        EXPECT_GT(progress[i], last);
        last = progress[i];
    }
}

void makeClientFiles(const std::wstring& folder) {
    ASSERT_TRUE(::CreateDirectoryW((folder + L"\\tools").c_str(), nullptr));
    for (const wchar_t* name :
         {L"client.exe", L"tools\\editor.exe", L"guest.dat", L"addpkg.dat", L"applist.dat"})
        ASSERT_TRUE(writeFile(folder + L"\\" + name, "x"));
}

TEST(RefreshRegistration, TheFirstInstallationTakesSlotZeroAndWritesTheSevenValues) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder folder(L"install");
    makeClientFiles(folder.path());
    const RunResult run = product.run(tendril, product.request(RefreshRegistration, folder.path()));
    expectSequence(run, NoError);

    const std::wstring exe = folder / L"client.exe";
    std::vector<RegistryValue> expected = {
        {L"DisplayName", REG_SZ, product.longName},
        {L"UninstallString", REG_SZ,
         L"\"" + exe + L"\" /uninstall \"" + product.shortcutFolder.path() + L"\\" +
             product.iconName + L".lnk\""},
        {L"DisplayIcon", REG_SZ, L"\"" + exe + L"\",0"},
        {L"InstallLocation", REG_SZ, folder.path()},
        {L"HelpLink", REG_SZ, L""},
        {L"URLInfoAbout", REG_SZ, L"https://example.com/about"},
        {L"URLUpdateInfo", REG_SZ, L"https://example.com/update"},
    };
    std::sort(expected.begin(), expected.end(),
              [](const RegistryValue& a, const RegistryValue& b) { return a.name < b.name; });
    EXPECT_EQ(valuesOf(product.uninstallKey(0)), expected) << "exactly these seven values";
    const auto slots = product.slots();
    EXPECT_EQ(slots[0], folder.path());
    for (int i = 1; i < 10; ++i) EXPECT_EQ(slots[i], L"") << "slot " << i;
    for (const wchar_t* name : {L"guest.dat", L"addpkg.dat", L"applist.dat"})
        EXPECT_FALSE(exists(folder / name)) << narrow(name);
    EXPECT_TRUE(exists(folder / L"client.exe"));
    for (const std::wstring& name : {product.iconName, product.editorName}) {
        EXPECT_TRUE(exists(product.startMenuShortcut(name, 0))) << narrow(name);
        EXPECT_TRUE(exists(product.groupShortcut(name, 0))) << narrow(name);
    }
    EXPECT_NE(tendril.log().find("InstallClient: index = -1\r\n"), std::string::npos);
}

// Which slot a new folder takes, given the records that stand before.
TEST(RefreshRegistration, ANewFolderTakesTheFirstSlotThatPruningLeavesFree) {
    TendrilCopy tendril;
    ScratchFolder first(L"first"), second(L"second"), third(L"third"), fresh(L"fresh");
    for (const ScratchFolder* f : {&first, &second, &third}) ASSERT_TRUE(writeFile(*f / L"x", "x"));
    const struct {
        const char* what;
        std::vector<std::wstring> recorded;
        int slot;
    } cases[] = {
        {"a second folder of the product", {first.path()}, 1},
        {"the second of three recorded folders is gone",
         {first.path(), second.path() + L"-deleted", third.path()},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestProduct product;
        product.setSlots(c.recorded);
        const RunResult run =
            product.run(tendril, product.request(RefreshRegistration, fresh.path()));
        expectSequence(run, NoError);
        EXPECT_EQ(product.slots()[c.slot], fresh.path());
        const auto values = valuesOf(product.uninstallKey(c.slot));
        ASSERT_FALSE(values.empty());
        EXPECT_EQ(dataOf(values, L"DisplayName"),
                  product.longName + L" (" + std::to_wstring(c.slot + 1) + L")");
        EXPECT_NE(
            dataOf(values, L"UninstallString")
                .find(L"\\" + product.iconName + L" (" + std::to_wstring(c.slot + 1) + L").lnk\""),
            std::wstring::npos);
        EXPECT_TRUE(exists(product.groupShortcut(product.iconName, c.slot)));
    }
}

TEST(RefreshRegistration, ARecordedFolderKeepsItsSlotAndGetsItsKeyRebuilt) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder a(L"a"), b(L"b"), c(L"c"), folder(L"slot3");
    for (const ScratchFolder* f : {&a, &b, &c, &folder}) ASSERT_TRUE(writeFile(*f / L"x", "x"));
    product.setSlots({a.path(), b.path(), c.path(), folder.path()});
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, product.uninstallKey(3).c_str(), &key), 0);
    ::RegSetValueExW(key, L"AddedByOthers", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    // The installation's own entry: it names the folder.
    ::RegSetValueExW(key, L"InstallLocation", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(folder.path().c_str()),
                     static_cast<DWORD>((folder.path().size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);

    expectSequence(product.run(tendril, product.request(RefreshRegistration, folder.path())),
                   NoError);
    EXPECT_EQ(product.slots()[3], folder.path());
    const auto values = valuesOf(product.uninstallKey(3));
    ASSERT_EQ(values.size(), 7u);
    EXPECT_EQ(dataOf(values, L"DisplayName"), product.longName + L" (4)");
    for (const RegistryValue& value : values) EXPECT_NE(value.name, L"AddedByOthers");
}

// What fails, and that nothing was registered then.
TEST(RefreshRegistration, FailuresRegisterNothing) {
    TendrilCopy tendril;
    ScratchFolder scratch(L"fail");
    std::vector<std::unique_ptr<ScratchFolder>> full;
    std::vector<std::wstring> tenFolders;
    for (int i = 0; i < 10; ++i) {
        full.push_back(std::make_unique<ScratchFolder>(L"full"));
        ASSERT_TRUE(writeFile(*full.back() / L"x", "x"));
        tenFolders.push_back(full.back()->path());
    }
    ASSERT_TRUE(writeFile(scratch / L"file", "x"));
    // A folder link: it exists, but the grant refuses to secure through it.
    ScratchFolder outside(L"outside");
    const std::wstring link = scratch / L"link";
    runUnix("/bin/ln", {"-s", unixPath(outside.path()), unixPath(link)});
    for (int i = 0; i < 50 && !exists(link); ++i) ::Sleep(20);
    ASSERT_TRUE(writeFile(outside / L"guest.dat", "x"));
    // A registry link that Users planted in a key they control.
    ScratchRegistryKey linkHolder, linkTarget;
    const ScratchRegistryLink registryLink(linkHolder.path() + L"\\L", linkTarget.path());
    ASSERT_TRUE(registryLink.created());

    const struct {
        const char* what;
        std::wstring folder;
        std::wstring regPath;  // empty: the product's own
        std::vector<std::wstring> recorded;
        std::int32_t error;
        std::wstring longNameTail = L"";  // added to the product's long name
    } cases[] = {
        {"every slot holds a folder with files", scratch / L"eleventh", L"", tenFolders,
         NoFreeInstallSlot},
        {"a file stands where a parent folder should be",
         scratch / L"file\\client",
         L"",
         {},
         InstallFolderUnavailable},
        {"the grant fails on a folder that exists", link, L"", {}, AccessNotGranted},
        {"a protected folder", specialFolder(CSIDL_PROGRAM_FILES), L"", {}, AccessNotGranted},
        {"a protected registry path",
         scratch / L"new",
         L"SOFTWARE\\Microsoft\\Windows",
         {},
         AccessNotGranted},
        {"a registry path through a link",
         scratch / L"new",
         registryLink.path() + L"\\client",
         {},
         AccessNotGranted},
        {"a long name that names no single Uninstall entry",
         scratch / L"new",
         L"",
         {},
         AccessNotGranted,
         L"\\x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestProduct product;
        if (!c.recorded.empty()) product.setSlots(c.recorded);
        const auto slotsBefore = product.slots();
        launch::Request request = product.request(RefreshRegistration, c.folder);
        if (!c.regPath.empty()) launch::Request::setText(request.record.regPath, c.regPath);
        launch::Request::setText(request.record.longName, product.longName + c.longNameTail);
        expectSequence(product.run(tendril, request), c.error);
        EXPECT_EQ(product.slots(), slotsBefore);
        for (int slot = 0; slot < 10; ++slot) EXPECT_FALSE(keyExists(product.uninstallKey(slot)));
        const std::wstring entry = product.uninstallKey(0);
        EXPECT_FALSE(keyExists(entry.substr(0, entry.size() - 2))) << "an entry named in two";
        EXPECT_FALSE(exists(product.startMenuShortcut(product.iconName, 0)));
        if (!c.regPath.empty()) {
            EXPECT_FALSE(keyExists(c.regPath + L"\\Install"));
        }
    }
    EXPECT_FALSE(exists(scratch / L"new")) << "a refused folder is not created";
    EXPECT_FALSE(keyExists(linkTarget.path())) << "a key created through the link";
    EXPECT_TRUE(exists(outside / L"guest.dat")) << "nothing deleted through the link";
    runUnix("/bin/rm", {unixPath(link)});
    for (int i = 0; i < 50 && exists(link); ++i) ::Sleep(20);
}

// The records live below the client key: when that key cannot be created, the folder is not
// recorded, whatever the list still holds in memory.
TEST(RefreshRegistration, AClientKeyThatCannotBeCreatedRecordsNothing) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"nokey");
    launch::Request request = product.request(RefreshRegistration, scratch / L"client");
    // Longer than a key name may be.
    launch::Request::setText(request.record.regPath, L"T\\" + std::wstring(257, L'k'));
    expectSequence(product.run(tendril, request), InstallRecordNotStored);
}

}  // namespace
}  // namespace tendril::test
