// UninstallClient (command 3) from end to end, on installations registered by command 1: what it
// removes, what it leaves, its progress, cancel, and every way a request or the installation's
// own files could aim it at something else.
#include "e2e_support.h"
#include "product_fixture.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace tendril::test {
namespace {

using launch::ReceivedMessage;
using launch::Request;
using launch::RunResult;

std::string appListOf(const std::vector<std::pair<std::wstring, std::wstring>>& records) {
    std::string bytes;
    for (const auto& [name, path] : records) {
        const RequestEntry entry = Request::entry(name, path, false);
        bytes.append(reinterpret_cast<const char*>(&entry), 652);
    }
    return bytes;
}

// An installation folder with files and two sub-folders, one of which may hold a file named like
// the executable.
struct Installed {
    ScratchFolder folder{L"inst"};
    void make(bool executableNameInSubFolder = false) {
        for (const wchar_t* sub : {L"tools", L"data"})
            ASSERT_TRUE(::CreateDirectoryW((folder / sub).c_str(), nullptr));
        for (const wchar_t* name :
             {L"client.exe", L"tools\\editor.exe", L"data\\settings.ini", L"readme.txt"})
            ASSERT_TRUE(writeFile(folder / name, "x"));
        if (executableNameInSubFolder) {
            ASSERT_TRUE(writeFile(folder / L"data\\client.exe", "x"));
        }
    }
};

void registerWith(const TendrilCopy& tendril, const TestProduct& product,
                  const std::wstring& folder) {
    const RunResult run = product.run(tendril, product.request(RefreshRegistration, folder));
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    ASSERT_EQ(run.result->second, 0) << describe(run.messages);
}

bool endsWith100ThenResult(const RunResult& run) {
    const auto status = messagesOf(run.messages, WM_ASSISTANT_STATUS);
    return status.size() >= 2 && status[status.size() - 2].wParam == STATUS_PROGRESS &&
           status[status.size() - 2].lParam == 100 && status.back().wParam == UninstallClient;
}

TEST(UninstallClient, RemovesOneInstallationAndLeavesTheOthers) {
    TendrilCopy tendril;
    TestProduct product;
    Installed first, second, third;
    for (Installed* i : {&first, &second, &third}) {
        i->make();
        registerWith(tendril, product, i->folder.path());
    }
    ASSERT_EQ(product.slots()[2], third.folder.path());
    ASSERT_TRUE(writeFile(third.folder / L"applist.dat",
                          appListOf({{product.editorName, L"tools\\editor.exe"}, {L"", L"x"}})));
    // The shortcuts that others make and the uninstall removes too.
    const std::wstring group = specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + product.longName;
    const std::wstring uninstallLink = group + L"\\Uninstall " + product.iconName + L" (3).lnk";
    const std::wstring entryLink = product.shortcutFolder / (product.iconName + L" (3).lnk");
    ASSERT_TRUE(::CopyFileW(product.groupShortcut(product.iconName, 2).c_str(),
                            uninstallLink.c_str(), FALSE));
    ASSERT_TRUE(writeFile(entryLink, "link"));
    ASSERT_TRUE(writeFile(product.shortcutFolder / (product.editorName + L" (3).lnk"), "link"));

    const RunResult run =
        product.run(tendril, product.request(UninstallClient, third.folder.path()));
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(UninstallClient), 0));
    EXPECT_TRUE(endsWith100ThenResult(run)) << describe(run.messages);
    const auto progress = progressOf(run.messages);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);

    EXPECT_FALSE(exists(third.folder.path()));
    EXPECT_FALSE(keyExists(product.uninstallKey(2)));
    EXPECT_EQ(product.slots()[2], L"");
    for (const std::wstring& name : {product.iconName, product.editorName}) {
        EXPECT_FALSE(exists(product.startMenuShortcut(name, 2))) << narrow(name);
        EXPECT_FALSE(exists(product.groupShortcut(name, 2))) << narrow(name);
        EXPECT_TRUE(exists(product.startMenuShortcut(name, 1))) << narrow(name);
        EXPECT_TRUE(exists(product.groupShortcut(name, 0))) << narrow(name);
    }
    EXPECT_FALSE(exists(uninstallLink));
    EXPECT_FALSE(exists(entryLink));
    EXPECT_FALSE(exists(product.shortcutFolder / (product.editorName + L" (3).lnk")));
    EXPECT_EQ(product.slots()[0], first.folder.path());
    EXPECT_EQ(product.slots()[1], second.folder.path());
    EXPECT_TRUE(keyExists(product.uninstallKey(0)) && keyExists(product.uninstallKey(1)));
}

TEST(UninstallClient, AFileNamedLikeTheExecutableInASubFolderStays) {
    TendrilCopy tendril;
    TestProduct product;
    Installed installed;
    installed.make(true);
    registerWith(tendril, product, installed.folder.path());
    const RunResult run =
        product.run(tendril, product.request(UninstallClient, installed.folder.path()));
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(run.result->second, 0);
    EXPECT_TRUE(exists(installed.folder / L"data\\client.exe"));
    EXPECT_FALSE(exists(installed.folder / L"data\\settings.ini"));
    EXPECT_FALSE(exists(installed.folder / L"client.exe"));
    EXPECT_FALSE(exists(installed.folder / L"tools"));
    EXPECT_FALSE(keyExists(product.uninstallKey(0)));
}

TEST(UninstallClient, ACorruptApplicationListIsDeletedAndRemovesNoShortcut) {
    TendrilCopy tendril;
    TestProduct product;
    Installed installed;
    installed.make();
    registerWith(tendril, product, installed.folder.path());
    // The list is read before anything is deleted: an editor shortcut it would name survives in
    // the launcher's shortcut folder, where only the list could name it.
    const std::wstring named = product.shortcutFolder / (product.editorName + L".lnk");
    ASSERT_TRUE(writeFile(named, "link"));
    ASSERT_TRUE(writeFile(installed.folder / L"applist.dat",
                          appListOf({{product.editorName, L"tools\\editor.exe"}}) + "!"));
    ::SetFileAttributesW((installed.folder / L"applist.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    const RunResult run =
        product.run(tendril, product.request(UninstallClient, installed.folder.path()));
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(run.result->second, 0);
    EXPECT_TRUE(exists(named));
    EXPECT_FALSE(exists(installed.folder.path()));
}

TEST(UninstallClient, WhatIsNotRecordedOrTooShortIsLeftAlone) {
    TendrilCopy tendril;
    {
        SCOPED_TRACE("a folder in no slot: no code, no progress, nothing removed");
        TestProduct product;
        Installed installed;
        installed.make();
        const RunResult run =
            product.run(tendril, product.request(UninstallClient, installed.folder.path()));
        ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
        EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(UninstallClient), 0));
        EXPECT_TRUE(progressOf(run.messages).empty()) << describe(run.messages);
        EXPECT_TRUE(exists(installed.folder / L"readme.txt"));
    }
    {
        SCOPED_TRACE("a recorded folder of three characters");
        TestProduct product;
        product.setSlots({L"C:\\"});
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, product.uninstallKey(0).c_str(), &key), 0);
        ::RegCloseKey(key);
        const RunResult run = product.run(tendril, product.request(UninstallClient, L"C:\\"));
        ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
        EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(UninstallClient),
                                              static_cast<std::int32_t>(InstallFolderTooShort)));
        EXPECT_EQ(progressOf(run.messages), (std::vector<std::int64_t>{0, 100}));
        EXPECT_TRUE(keyExists(product.uninstallKey(0)));
        EXPECT_EQ(product.slots()[0], L"C:\\");
    }
    {
        SCOPED_TRACE("records reached through a registry link: refused with 2, nothing removed");
        TestProduct product;
        Installed installed;
        installed.make();
        // Records that name the folder, in a key that a link Users planted in theirs leads to.
        ScratchRegistryKey holder, target;
        product.regPath = target.path() + L"\\client";
        product.setSlots({installed.folder.path()});
        const ScratchRegistryLink link(holder.path() + L"\\L", target.path());
        ASSERT_TRUE(link.created());
        product.regPath = link.path() + L"\\client";
        ASSERT_EQ(product.slots()[0], installed.folder.path()) << "the link leads nowhere";
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, product.uninstallKey(0).c_str(), &key), 0);
        ::RegCloseKey(key);
        const RunResult run =
            product.run(tendril, product.request(UninstallClient, installed.folder.path()));
        ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
        EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(UninstallClient),
                                              static_cast<std::int32_t>(InstallFolderTooShort)));
        EXPECT_TRUE(exists(installed.folder / L"readme.txt"));
        EXPECT_TRUE(keyExists(product.uninstallKey(0)));
        EXPECT_EQ(product.slots()[0], installed.folder.path());
        EXPECT_NE(tendril.log().find("Refused registry path: " + narrow(product.regPath) +
                                     ": a link on the way (" + narrow(link.path()) + ")\r\n"),
                  std::string::npos)
            << tendril.log();
    }
}

TEST(UninstallClient, TheRunningClientIsEndedFirst) {
    TendrilCopy tendril;
    TestProduct product;
    Installed installed;
    installed.make();
    registerWith(tendril, product, installed.folder.path());
    ASSERT_TRUE(::CopyFileW(buildPath(E2E_SLEEPER_EXE).c_str(),
                            (installed.folder / L"client.exe").c_str(), FALSE));
    launch::Handle running = launch::startTendril(installed.folder / L"client.exe", L"",
                                                  launch::StartMethod::CreateProcess);
    ASSERT_TRUE(running);
    ::Sleep(500);
    const RunResult run =
        product.run(tendril, product.request(UninstallClient, installed.folder.path()));
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(run.result->second, 0);
    EXPECT_EQ(::WaitForSingleObject(running.get(), 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(exists(installed.folder / L"client.exe"));
}

// Files held open without delete sharing make the delete walk slow (six attempts each); a cancel
// written once the walks report progress stops it.
TEST(UninstallClient, ACancelDuringTheWalksKeepsTheRecordAndTheKey) {
    TendrilCopy tendril;
    TestProduct product;
    Installed installed;
    installed.make();
    std::vector<launch::Handle> held;
    for (int i = 0; i < 12; ++i) {
        const std::wstring file = installed.folder / (L"locked" + std::to_wstring(i) + L".bin");
        ASSERT_TRUE(writeFile(file, "x"));
        held.emplace_back(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    }
    registerWith(tendril, product, installed.folder.path());
    Request request = product.request(UninstallClient, installed.folder.path());
    launch::RunOptions options;
    options.tendrilPath = tendril.path();
    options.cancelAfterMs = 1500;
    const RunResult run = launch::runCommand(options, request);
    held.clear();
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(run.result->second, 0);
    const auto progress = progressOf(run.messages);
    EXPECT_TRUE(std::find(progress.begin(), progress.end(), 100) == progress.end())
        << describe(run.messages);
    EXPECT_EQ(product.slots()[0], installed.folder.path());
    EXPECT_TRUE(keyExists(product.uninstallKey(0)));
    EXPECT_TRUE(exists(installed.folder / L"locked11.bin") ||
                exists(installed.folder / L"locked0.bin"));
}

// Names and values that Users or the request control, aimed at a sentinel outside.
TEST(UninstallClient, NothingOutsideTheInstallationIsDeleted) {
    TendrilCopy tendril;
    ScratchFolder outside(L"outside");
    ASSERT_TRUE(writeFile(outside / L"sentinel.txt", "keep"));
    ASSERT_TRUE(writeFile(outside / L"sentinel.lnk", "keep"));
    // From an installation folder or the shortcut folder, both beside it: "..\<outside>\...".
    const std::wstring up =
        L"..\\" + outside.path().substr(outside.path().rfind(L'\\') + 1) + L"\\";
    const struct {
        const char* what;
        std::wstring exeName;          // empty: client.exe
        std::wstring uninstallString;  // empty: as command 1 wrote it
        std::vector<std::pair<std::wstring, std::wstring>> appList;
        bool linkInside;
        std::wstring iconName = L"";  // empty: the product's own
    } cases[] = {
        {"an exeName that climbs out", up + L"sentinel.txt", L"", {}, false},
        {"an UninstallString naming no .lnk",
         L"",
         L"\"x\" /uninstall \"" + outside.path() + L"\\sentinel.txt\"",
         {},
         false},
        {"an UninstallString with one quoted path",
         L"",
         L"\"" + outside.path() + L"\\sentinel.lnk\"",
         {},
         false},
        {"applist names that climb out",
         L"",
         L"",
         {{up + L"sentinel", L"x"}, {L"..", L"x"}},
         false},
        {"a folder link inside the installation", L"", L"", {}, true},
        // No main shortcut, so no "Uninstall " one of an empty name in the program group either.
        {"an icon name that names no file", L"", L"", {}, false, L"a\\b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestProduct product;
        Installed installed;
        installed.make();
        registerWith(tendril, product, installed.folder.path());
        const std::wstring link = installed.folder / L"link";
        if (c.linkInside) {
            runUnix("/bin/ln", {"-s", unixPath(outside.path()), unixPath(link)});
            for (int i = 0; i < 50 && !exists(link); ++i) ::Sleep(20);
            ASSERT_TRUE(exists(link));
        }
        if (!c.uninstallString.empty()) {
            HKEY key = nullptr;
            ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, product.uninstallKey(0).c_str(), 0,
                                      KEY_SET_VALUE, &key),
                      0);
            ::RegSetValueExW(key, L"UninstallString", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(c.uninstallString.c_str()),
                             static_cast<DWORD>((c.uninstallString.size() + 1) * 2));
            ::RegCloseKey(key);
        }
        if (!c.appList.empty()) {
            ASSERT_TRUE(writeFile(installed.folder / L"applist.dat", appListOf(c.appList)));
        }
        Request request = product.request(UninstallClient, installed.folder.path());
        if (!c.exeName.empty()) {
            Request::setText(request.record.exeName, c.exeName);
        }
        const std::wstring unnamed =
            specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + product.longName + L"\\Uninstall .lnk";
        if (!c.iconName.empty()) {
            Request::setText(request.record.iconName, c.iconName);
            ASSERT_TRUE(writeShortcut(unnamed, installed.folder / L"client.exe"));
        }
        const RunResult run = product.run(tendril, request);
        ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
        EXPECT_EQ(run.result->second, 0);
        if (!c.iconName.empty()) {
            EXPECT_TRUE(exists(unnamed));
        }
        if (c.linkInside && exists(link)) runUnix("/bin/rm", {unixPath(link)});
        EXPECT_TRUE(exists(outside / L"sentinel.txt"));
        EXPECT_TRUE(exists(outside / L"sentinel.lnk"));
        EXPECT_FALSE(keyExists(product.uninstallKey(0)));
    }
}

// After a grant the launcher's user may empty the installation and turn the folder itself into a
// link to another folder: nothing there is deleted, and the refusal is no success.
TEST(UninstallClient, AnInstallationTurnedIntoALinkIsRefused) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"turned");
    ScratchFolder other(L"other");
    const std::wstring folder = scratch / L"client";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(writeFile(folder + L"\\client.exe", "x"));
    registerWith(tendril, product, folder);
    removeTree(folder);
    ASSERT_TRUE(writeFile(other / L"client.exe", "keep"));
    ASSERT_TRUE(writeFile(other / L"applist.dat", "corrupt"));
    ASSERT_TRUE(makeDirectoryLink(other.path(), folder));

    Request request = product.request(UninstallClient, folder);
    Request::setText(request.record.argument, L"");  // no program to end first
    const RunResult run = product.run(tendril, request);
    removeDirectoryLink(folder);
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(UninstallClient),
                                          static_cast<std::int32_t>(InstallFolderTooShort)));
    EXPECT_EQ(readFile(other / L"client.exe"), "keep");
    EXPECT_EQ(readFile(other / L"applist.dat"), "corrupt");
    EXPECT_EQ(product.slots()[0], folder) << "the record stays with what it names";
    EXPECT_NE(tendril.log().find("Refused " + narrow(folder) + ": a link on the way"),
              std::string::npos)
        << tendril.log();
}

// An Uninstall entry of the installation's name that names another folder is another product's:
// it stays, and so does everything else, whoever the launcher is.
TEST(UninstallClient, AnotherProductsUninstallEntryIsRefused) {
    TendrilCopy tendril;
    TestProduct product;
    Installed installed;
    installed.make();
    registerWith(tendril, product, installed.folder.path());
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, product.uninstallKey(0).c_str(), 0,
                              KEY_SET_VALUE, &key),
              0);
    const std::wstring other = L"C:\\Program Files\\Another Product";
    ::RegSetValueExW(key, L"InstallLocation", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(other.c_str()),
                     static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    const auto entryBefore = valuesOf(product.uninstallKey(0));

    const RunResult run =
        product.run(tendril, product.request(UninstallClient, installed.folder.path()));
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(UninstallClient),
                                          static_cast<std::int32_t>(InstallFolderTooShort)));
    EXPECT_EQ(valuesOf(product.uninstallKey(0)), entryBefore);
    EXPECT_TRUE(exists(installed.folder / L"readme.txt"));
    EXPECT_EQ(product.slots()[0], installed.folder.path());
    EXPECT_NE(tendril.log().find("Refused Uninstall entry " + narrow(product.longName) +
                                 " 0: it names another folder"),
              std::string::npos)
        << tendril.log();
}

// A folder inside a profile (recorded by someone) is somebody's files, not an installation.
TEST(UninstallClient, ProtectedLocationsAreRefused) {
    TendrilCopy tendril;
    TestProduct product;
    const std::wstring inProfile = specialFolder(CSIDL_PROFILE) + L"\\" + uniqueName(L"files");
    ASSERT_TRUE(::CreateDirectoryW(inProfile.c_str(), nullptr));
    ASSERT_TRUE(writeFile(inProfile + L"\\letter.txt", "keep"));
    product.setSlots({inProfile});
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, product.uninstallKey(0).c_str(), &key), 0);
    ::RegCloseKey(key);
    const RunResult run = product.run(tendril, product.request(UninstallClient, inProfile));
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(UninstallClient),
                                          static_cast<std::int32_t>(InstallFolderTooShort)));
    EXPECT_EQ(progressOf(run.messages), (std::vector<std::int64_t>{0, 100}));
    EXPECT_TRUE(keyExists(product.uninstallKey(0)));
    EXPECT_TRUE(exists(inProfile + L"\\letter.txt"));
    removeTree(inProfile);

    // A system key's "Install" is no record of ours: looking for the folder there must not
    // rewrite its values.
    const std::wstring systemKey = L"SOFTWARE\\Microsoft\\" + uniqueName(L"records");
    ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, (systemKey + L"\\Install").c_str(), &key), 0);
    ::RegCloseKey(key);
    ScratchFolder folder(L"client");
    launch::Request request = product.request(UninstallClient, folder.path());
    launch::Request::setText(request.record.regPath, systemKey);
    const RunResult refused = product.run(tendril, request);
    ASSERT_TRUE(refused.result.has_value()) << describe(refused.messages);
    EXPECT_EQ(*refused.result, std::make_pair(static_cast<std::int32_t>(UninstallClient),
                                              static_cast<std::int32_t>(InstallFolderTooShort)))
        << "a refusal is no success";
    EXPECT_EQ(progressOf(refused.messages), (std::vector<std::int64_t>{0, 100}));
    EXPECT_TRUE(valuesOf(systemKey + L"\\Install").empty());
    EXPECT_NE(tendril.log().find("Refused protected location: " + narrow(systemKey)),
              std::string::npos);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, systemKey.c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, systemKey.c_str());
}

}  // namespace
}  // namespace tendril::test
