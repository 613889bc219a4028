// ApplyShortcuts from end to end: a recorded installation gets its numbered shortcuts in the
// all-users Start menu and its program group, and entries that delete take them away again.
#include "common/unique_handle.h"
#include "e2e_support.h"
#include "support/shell_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tendril::test {
namespace {

using launch::Request;
using launch::RunOptions;
using launch::RunResult;

// Writes the install-directory record of one slot (the others stay free) as the client
// installation stores it: HKLM\<regPath>\Install, "Directory" or "Directory<n>".
void recordInstallation(const std::wstring& regPath, int slot, const std::wstring& folder) {
    UniqueKey install;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (regPath + L"\\Install").c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE, nullptr, install.put(), nullptr),
              ERROR_SUCCESS);
    for (int i = 0; i < 10; ++i) {
        const std::wstring value = i == 0 ? L"Directory" : L"Directory" + std::to_wstring(i);
        const std::wstring text = i == slot ? folder : std::wstring();
        ASSERT_EQ(::RegSetValueExW(install.get(), value.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(text.c_str()),
                                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
}

class ApplyShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(::CreateDirectoryW((install / L"bin").c_str(), nullptr));
        ASSERT_TRUE(writeFile(install / L"bin\\app.exe", "MZ"));
    }

    Request request(bool create, bool startMenu, bool programs) const {
        Request request;
        request.command = ApplyShortcuts;
        Request::setText(request.record.installFolder, install.path());
        Request::setText(request.record.regPath, key.path());
        Request::setText(request.record.longName, names.name());
        Request::setText(request.record.iconName, iconEntryName());
        request.record.startMenuShortcuts = startMenu ? 1 : 0;
        request.record.programsShortcuts = programs ? 1 : 0;
        request.record.iconShortcutFlag = 1;
        request.entries.push_back(Request::entry(iconEntryName(), L"bin\\app.exe", create));
        request.entries.push_back(Request::entry(entryName(), L"bin\\app.exe", create));
        return request;
    }

    RunResult run(const Request& request) const {
        RunOptions options;
        options.tendrilPath = tendril.path();
        return launch::runCommand(options, request);
    }

    // Progress 50, progress 100, then the result (5, 0), and nothing else.
    static void expectFinishedCleanly(const RunResult& result) {
        ASSERT_TRUE(result.result.has_value()) << describe(result.messages);
        EXPECT_EQ(*result.result, std::make_pair(static_cast<std::int32_t>(ApplyShortcuts), 0));
        const auto status = messagesOf(result.messages, WM_ASSISTANT_STATUS);
        ASSERT_EQ(status.size(), 3u) << describe(result.messages);
        EXPECT_EQ(std::make_pair(status[0].wParam, status[0].lParam),
                  std::make_pair(std::int64_t{STATUS_PROGRESS}, std::int64_t{50}));
        EXPECT_EQ(std::make_pair(status[1].wParam, status[1].lParam),
                  std::make_pair(std::int64_t{STATUS_PROGRESS}, std::int64_t{100}));
        EXPECT_EQ(status[2].wParam, ApplyShortcuts);
    }

    // Two entries with names no other Start menu entry has; the first one gives the icon.
    std::wstring iconEntryName() const { return names.name() + L"-App"; }
    std::wstring entryName() const { return names.name() + L"-X"; }
    std::wstring target() const { return install / L"bin\\app.exe"; }

    TendrilCopy tendril;
    ScratchFolder install{L"client"};
    ScratchRegistryKey key;
    UniqueShortcutNames names;
};

TEST_F(ApplyShortcutsTest, TheSlotNumbersTheShortcutsAndDeleteEntriesRemoveThem) {
    const struct {
        int slot;
        std::wstring suffix;
    } cases[] = {{1, L" (2)"}, {0, L""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slot);
        recordInstallation(key.path(), c.slot, install.path());
        const std::wstring shortcut = entryName() + c.suffix;
        const std::wstring inMenu = names.startMenu() + L"\\" + shortcut + L".lnk";
        const std::wstring inGroup = names.group() + L"\\" + shortcut + L".lnk";

        expectFinishedCleanly(run(request(true, true, true)));
        EXPECT_EQ(readShortcut(inMenu).path, target());
        EXPECT_EQ(readShortcut(inGroup).path, target());
        EXPECT_EQ(readShortcut(inGroup).workingDirectory, install / L"bin");
        std::vector<std::wstring> expected{iconEntryName() + c.suffix + L".lnk", shortcut + L".lnk",
                                           L"desktop.ini"};
        std::sort(expected.begin(), expected.end());
        std::vector<std::wstring> held = folderNames(names.group());
        // The shell names the file as it likes; the file system ignores the case.
        for (std::wstring& name : held)
            if (_wcsicmp(name.c_str(), L"desktop.ini") == 0) name = L"desktop.ini";
        std::sort(held.begin(), held.end());
        EXPECT_EQ(held, expected);
        // The icon comes from the entry named like iconName.
        EXPECT_NE(
            readFile(names.group() + L"\\Desktop.ini").find("IconResource=" + narrowPath(target())),
            std::string::npos);

        expectFinishedCleanly(run(request(false, true, true)));
        EXPECT_FALSE(exists(inMenu));
        EXPECT_FALSE(exists(names.startMenu() + L"\\" + iconEntryName() + c.suffix + L".lnk"));
        EXPECT_FALSE(exists(names.group())) << "the group held only its Desktop.ini";
        EXPECT_TRUE(isDirectory(names.startMenu()));
        EXPECT_TRUE(isDirectory(names.programs()));
    }
}

TEST_F(ApplyShortcutsTest, EachFlagActsInItsOwnPlace) {
    recordInstallation(key.path(), 1, install.path());
    const std::wstring shortcut = entryName() + L" (2).lnk";
    expectFinishedCleanly(run(request(true, true, false)));
    EXPECT_TRUE(exists(names.startMenu() + L"\\" + shortcut));
    EXPECT_FALSE(exists(names.group()));
    expectFinishedCleanly(run(request(true, false, true)));
    EXPECT_TRUE(exists(names.group() + L"\\" + shortcut));

    // With both flags zero nothing happens, not even deletion.
    expectFinishedCleanly(run(request(false, false, false)));
    EXPECT_TRUE(exists(names.startMenu() + L"\\" + shortcut));
    EXPECT_TRUE(exists(names.group() + L"\\" + shortcut));
}

TEST_F(ApplyShortcutsTest, AnInstallationInNoSlotGetsNothing) {
    ScratchFolder other(L"other");
    recordInstallation(key.path(), 1, other.path());
    expectFinishedCleanly(run(request(true, true, true)));
    EXPECT_FALSE(exists(names.startMenu() + L"\\" + entryName() + L" (2).lnk"));
    EXPECT_FALSE(exists(names.startMenu() + L"\\" + entryName() + L".lnk"));
    EXPECT_FALSE(exists(names.group()));

    // A registry path that does not exist, and an empty installation folder (which would match
    // the first free slot), are no recorded installation either.
    Request missingKey = request(true, true, true);
    Request::setText(missingKey.record.regPath, key.path() + L"\\Missing");
    expectFinishedCleanly(run(missingKey));
    Request noFolder = request(true, true, true);
    Request::setText(noFolder.record.installFolder, L"");
    expectFinishedCleanly(run(noFolder));
    EXPECT_FALSE(exists(names.group()));
    EXPECT_FALSE(exists(names.startMenu() + L"\\" + entryName() + L".lnk"));
}

// A file already there under an entry's shortcut name, in the all-users Start menu and in the
// program group: only a shortcut into the installation's folder is replaced by the create entry
// and taken away by the delete entry. Another product's stays as it was, whoever the launcher is
// (nothing here depends on the launcher's rights), and the pass goes on without an error.
TEST_F(ApplyShortcutsTest, OnlyTheInstallationsOwnShortcutsAreReplacedOrDeleted) {
    recordInstallation(key.path(), 0, install.path());
    ScratchFolder other(L"other");
    const std::string installation = narrowPath(install.path());
    std::string upperCase = installation;
    for (char& c : upperCase)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const std::string otherName = narrowPath(other.path().substr(other.path().rfind(L'\\') + 1));
    const struct {
        const char* what;
        std::string stored;  // the stored target, byte by byte; empty: a file that is no shortcut
        bool ours;
    } cases[] = {
        {"another product's shortcut", narrowPath(other / L"bin\\app.exe"), false},
        {"a folder whose name begins like the installation's", installation + "-2\\bin\\app.exe",
         false},
        {"the installation folder itself", installation, false},
        {"a target that climbs out of the installation",
         installation + "\\..\\" + otherName + "\\bin\\app.exe", false},
        {"a file that is no shortcut", "", false},
        {"an older shortcut into the installation", installation + "\\bin\\old.exe", true},
        {"one written in capitals and with a slash", upperCase + "/bin\\\\old.exe", true},
    };
    const std::wstring inMenu = names.startMenu() + L"\\" + entryName() + L".lnk";
    const std::wstring inGroup = names.group() + L"\\" + entryName() + L".lnk";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(::CreateDirectoryW(names.group().c_str(), nullptr));
        for (const std::wstring& file : {inMenu, inGroup})
            ASSERT_TRUE(c.stored.empty() ? writeFile(file, "not a shortcut")
                                         : writeRawShortcut(file, c.stored));
        const std::string before = readFile(inMenu);
        ASSERT_EQ(readFile(inGroup), before);
        const auto unchanged = [&](const std::wstring& file) {
            if (!exists(file)) return ::testing::AssertionFailure() << "deleted";
            if (readFile(file) != before)
                return ::testing::AssertionFailure()
                       << "rewritten to start " << narrowPath(readShortcut(file).path);
            return ::testing::AssertionSuccess();
        };

        expectFinishedCleanly(run(request(true, true, true)));
        EXPECT_TRUE(exists(names.group() + L"\\" + iconEntryName() + L".lnk"));
        for (const std::wstring& file : {inMenu, inGroup}) {
            SCOPED_TRACE(narrowPath(file));
            if (c.ours)
                EXPECT_EQ(readShortcut(file).path, target());
            else
                EXPECT_TRUE(unchanged(file));
        }

        expectFinishedCleanly(run(request(false, true, true)));
        EXPECT_FALSE(exists(names.startMenu() + L"\\" + iconEntryName() + L".lnk"));
        for (const std::wstring& file : {inMenu, inGroup}) {
            SCOPED_TRACE(narrowPath(file));
            if (c.ours)
                EXPECT_FALSE(exists(file));
            else
                EXPECT_TRUE(unchanged(file));
        }
        // A group that keeps another product's shortcut stays with it.
        EXPECT_EQ(isDirectory(names.group()), !c.ours);
        ::DeleteFileW(inMenu.c_str());
        removeTree(names.group());
    }
}

TEST_F(ApplyShortcutsTest, NamesAndGroupsThatClimbOutCreateNothing) {
    recordInstallation(key.path(), 0, install.path());
    const std::wstring startup = specialFolder(CSIDL_COMMON_STARTUP);
    const std::wstring startupName = startup.substr(names.programs().size() + 1);
    const std::vector<std::wstring> startupBefore = folderNames(startup);

    Request climbing = request(true, true, true);
    climbing.entries = {Request::entry(L"..\\" + names.name(), L"bin\\app.exe", true),
                        Request::entry(L"..", L"bin\\app.exe", true)};
    Request::setText(climbing.record.longName, L"..\\..\\" + names.name());
    expectFinishedCleanly(run(climbing));

    Request intoStartup = request(true, false, true);
    Request::setText(intoStartup.record.longName, startupName);
    expectFinishedCleanly(run(intoStartup));

    for (const std::wstring& folder :
         {names.startMenu(), names.programs(), names.startMenu() + L"\\..",
          names.startMenu() + L"\\..\\.."})
        for (const std::wstring& entry : folderNames(folder))
            EXPECT_EQ(entry.find(names.name()), std::wstring::npos)
                << narrowPath(folder) << " holds " << narrowPath(entry);
    EXPECT_EQ(folderNames(startup), startupBefore);

    // In slot 1 a name gets " (2)": the number must not make a name that names nothing usable.
    recordInstallation(key.path(), 1, install.path());
    Request numbered = request(true, true, true);
    numbered.entries = {Request::entry(L".", L"bin\\app.exe", true),
                        Request::entry(L"..", L"bin\\app.exe", true),
                        Request::entry(L"...", L"bin\\app.exe", true)};
    expectFinishedCleanly(run(numbered));
    for (const std::wstring& folder : {names.startMenu(), names.programs() + L"\\" + names.name()})
        for (const wchar_t* name : {L". (2).lnk", L".. (2).lnk", L"... (2).lnk"})
            EXPECT_FALSE(exists(folder + L"\\" + name)) << narrowPath(folder + L"\\" + name);
}

}  // namespace
}  // namespace tendril::test
