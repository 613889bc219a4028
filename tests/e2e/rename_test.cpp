// SetLongName (command 8) from end to end: the move, the records under the same or a new
// registry path, the old registration cleared, the re-registration, guests, and refusals.
#include "e2e_support.h"
#include "product_fixture.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

namespace tendril::test {
namespace {

using launch::Request;
using launch::RunResult;

std::wstring argumentFor(const std::wstring& destination, const TestProduct& old) {
    return L"\"" + destination + L"\" \"short\" \"" + old.longName + L"\" \"" + old.regPath +
           L"\" \"" + old.iconName + L"\"";
}

// A rename request: the current folder, the new names of renamed, the old ones of old.
Request renameRequest(const TestProduct& renamed, const TestProduct& old,
                      const std::wstring& source, const std::wstring& destination) {
    Request request = renamed.request(SetLongName, source);
    Request::setText(request.record.argument, argumentFor(destination, old));
    return request;
}

void registerWith(const TendrilCopy& tendril, const TestProduct& product,
                  const std::wstring& folder) {
    const RunResult run = product.run(tendril, product.request(RefreshRegistration, folder));
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    ASSERT_EQ(run.result->second, 0) << describe(run.messages);
}

std::int32_t errorOf(const RunResult& run) {
    EXPECT_TRUE(run.result.has_value()) << describe(run.messages);
    if (!run.result) return -1;
    EXPECT_EQ(run.result->first, SetLongName);
    return run.result->second;
}

TEST(SetLongName, TheSameRegistryPathRenamesTheRecordInPlace) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder a(L"a"), b(L"b"), scratch(L"ren");
    for (const ScratchFolder* f : {&a, &b}) ASSERT_TRUE(writeFile(*f / L"x", "x"));
    const std::wstring source = scratch / L"Old", destination = scratch / L"New";
    ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\client.exe", "x"));
    product.setSlots({a.path(), b.path(), source});
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, product.uninstallKey(2).c_str(), &key), 0);
    ::RegCloseKey(key);
    TestProduct renamed;  // new long name, same registry path
    renamed.regPath = product.regPath;

    const RunResult run =
        renamed.run(tendril, renameRequest(renamed, product, source, destination));
    EXPECT_EQ(errorOf(run), 0);
    EXPECT_TRUE(exists(destination + L"\\client.exe"));
    EXPECT_FALSE(exists(source));
    EXPECT_EQ(renamed.slots()[2], destination);
    const auto values = valuesOf(renamed.uninstallKey(2));
    ASSERT_EQ(values.size(), 7u);
    EXPECT_EQ(dataOf(values, L"DisplayName"), renamed.longName + L" (3)");
    EXPECT_EQ(dataOf(values, L"InstallLocation"), destination);
    EXPECT_TRUE(keyExists(product.uninstallKey(2)))
        << "the old long name's key is not ours to delete";

    // The log, in order.
    const std::string log = tendril.log();
    const std::string lines[] = {
        "SetLongName - begin\r\n" + narrow(argumentFor(destination, product)) + "\r\n\r\n",
        "sInstallFolderSrc = " + narrow(source) + "\r\n",
        "sInstallFolderDst = " + narrow(destination) + "\r\n",
        "sOldShortName = short\r\nsNewShortName = \r\n",
        "sOldLongName = " + narrow(product.longName) +
            "\r\nsNewLongName = " + narrow(renamed.longName),
        "sCutInstallFolder = " + narrow(scratch.path()) + "\\\r\n\r\n",
        "MoveFiles from \"" + narrow(source) + "\" to \"" + narrow(destination) +
            "\" result ok\r\n",
        "RenameInstallDirectoryes: index = 2\r\n",
        "deleteAllShortcut\r\n",
        "InstallClient: index = 2\r\n",
        "SetLongName - end\r\n",
    };
    std::size_t at = 0;
    for (const std::string& line : lines) {
        const std::size_t found = log.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << "\n--- log ---\n" << log;
        if (found != std::string::npos) at = found + line.size();
    }
}

// Under the same registry path a new long name gets a new Uninstall entry: the installation's
// entry under the old name goes, or the list of programs would keep one for a folder now gone.
TEST(SetLongName, ANewLongNameTakesTheInstallationsOldEntryAway) {
    TendrilCopy tendril;
    TestProduct old;
    ScratchFolder scratch(L"ren");
    const std::wstring source = scratch / L"Old", destination = scratch / L"New";
    ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\client.exe", "x"));
    registerWith(tendril, old, source);
    ASSERT_TRUE(keyExists(old.uninstallKey(0)));
    TestProduct renamed;
    renamed.regPath = old.regPath;

    EXPECT_EQ(errorOf(renamed.run(tendril, renameRequest(renamed, old, source, destination))), 0);
    EXPECT_FALSE(keyExists(old.uninstallKey(0)));
    EXPECT_EQ(renamed.slots()[0], destination);
    EXPECT_EQ(dataOf(valuesOf(renamed.uninstallKey(0)), L"InstallLocation"), destination);
}

TEST(SetLongName, ANewRegistryPathMovesTheRegistration) {
    TendrilCopy tendril;
    TestProduct old, renamed;
    ScratchFolder scratch(L"ren");
    const std::wstring source = scratch / L"Old", destination = scratch / L"New";
    ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\client.exe", "x"));
    registerWith(tendril, old, source);
    ASSERT_TRUE(keyExists(old.uninstallKey(0)));

    EXPECT_EQ(errorOf(renamed.run(tendril, renameRequest(renamed, old, source, destination))), 0);
    EXPECT_FALSE(keyExists(old.uninstallKey(0)));
    EXPECT_EQ(old.slots()[0], L"");
    EXPECT_EQ(renamed.slots()[0], destination);
    EXPECT_TRUE(keyExists(renamed.uninstallKey(0)));
    EXPECT_TRUE(exists(renamed.startMenuShortcut(renamed.iconName, 0)));
}

TEST(SetLongName, ALetterCaseChangeMovesNothingAndRegistersTheNewCase) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"ren");
    const std::wstring source = scratch / L"client", destination = scratch / L"CLIENT";
    ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\client.exe", "x"));
    registerWith(tendril, product, source);
    EXPECT_EQ(errorOf(product.run(tendril, renameRequest(product, product, source, destination))),
              0);
    EXPECT_EQ(tendril.log().find("MoveFiles"), std::string::npos);
    EXPECT_EQ(dataOf(valuesOf(product.uninstallKey(0)), L"InstallLocation"), destination);
}

TEST(SetLongName, AnExistingDestinationIsReplaced) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"ren");
    const std::wstring source = scratch / L"Old", destination = scratch / L"New";
    for (const std::wstring& f : {source, destination, destination + L"\\sub"})
        ASSERT_TRUE(::CreateDirectoryW(f.c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\client.exe", "new"));
    ASSERT_TRUE(writeFile(destination + L"\\sub\\stale.txt", "old"));
    registerWith(tendril, product, source);
    EXPECT_EQ(errorOf(product.run(tendril, renameRequest(product, product, source, destination))),
              0);
    EXPECT_EQ(readFile(destination + L"\\client.exe"), "new");
    EXPECT_FALSE(exists(destination + L"\\sub"));
    // The shortcuts of the same names that led into the old folder now lead into the new one.
    for (const std::wstring& link : {product.startMenuShortcut(product.iconName, 0),
                                     product.groupShortcut(product.iconName, 0)})
        EXPECT_EQ(readShortcut(link).path, destination + L"\\client.exe") << narrow(link);
}

// The move cannot happen: nothing of the registration changes.
TEST(SetLongName, AMoveThatCannotHappenChangesNothing) {
    TendrilCopy tendril;
    for (const bool holdSource : {false, true}) {
        SCOPED_TRACE(holdSource ? "the source folder is in use"
                                : "the destination cannot be removed");
        TestProduct product;
        ScratchFolder scratch(L"ren");
        const std::wstring source = scratch / L"Old", destination = scratch / L"New";
        ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
        ASSERT_TRUE(writeFile(source + L"\\client.exe", "x"));
        registerWith(tendril, product, source);
        const auto valuesBefore = valuesOf(product.uninstallKey(0));
        launch::Handle held;
        if (holdSource) {
            held = launch::Handle(
                ::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        } else {
            ASSERT_TRUE(::CreateDirectoryW(destination.c_str(), nullptr));
            ASSERT_TRUE(writeFile(destination + L"\\locked.txt", "x"));
            held =
                launch::Handle(::CreateFileW((destination + L"\\locked.txt").c_str(), GENERIC_READ,
                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        }
        ASSERT_TRUE(held);
        const ULONGLONG start = ::GetTickCount64();
        const RunResult run =
            product.run(tendril, renameRequest(product, product, source, destination));
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        held.reset();
        EXPECT_EQ(errorOf(run), InstallFolderUnavailable);
        const std::string log = tendril.log();
        if (holdSource) {
            EXPECT_GE(elapsed, 2400u) << "ten attempts 250 ms apart";
            // Progress 10 goes out just before the first attempt: from there to the result is
            // the ten attempts and their waits, without Tendril's start-up.
            const auto status = messagesOf(run.messages, WM_ASSISTANT_STATUS);
            ASSERT_GE(status.size(), 2u) << describe(run.messages);
            EXPECT_EQ(status.front().lParam, 10) << describe(run.messages);
            const double attempts = status.back().atMs - status.front().atMs;
            EXPECT_GE(attempts, 2400.0);
            EXPECT_LE(attempts, 4000.0) << "ten attempts take about 2.5 s";
            EXPECT_NE(log.find("MoveFiles from \"" + narrow(source) + "\" to \"" +
                               narrow(destination) + "\" result fail\r\n"),
                      std::string::npos)
                << log;
            EXPECT_FALSE(exists(destination));
        }
        const auto progress = progressOf(run.messages);
        EXPECT_EQ(std::find(progress.begin(), progress.end(), 100), progress.end())
            << describe(run.messages);
        EXPECT_TRUE(exists(source + L"\\client.exe"));
        EXPECT_EQ(product.slots()[0], source);
        EXPECT_EQ(valuesOf(product.uninstallKey(0)), valuesBefore);
        EXPECT_TRUE(exists(product.startMenuShortcut(product.iconName, 0)));
        EXPECT_TRUE(exists(product.groupShortcut(product.iconName, 0)));
        EXPECT_EQ(log.find("SetLongName - end"), std::string::npos);
    }
}

TEST(SetLongName, AGuestInstallationIsMovedButNotRegistered) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"ren");
    const std::wstring source = scratch / L"Old", destination = scratch / L"New";
    ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\Launcher.exe", "x"));
    Request install = product.request(RefreshRegistration, source);
    install.entries.push_back(
        Request::entry(product.iconName + L" launcher", L"Launcher.exe", true));
    ASSERT_EQ(product.run(tendril, install).result->second, 0);
    const std::wstring launcherLink = product.startMenuShortcut(product.iconName + L" launcher", 0);
    ASSERT_TRUE(exists(launcherLink));
    ASSERT_TRUE(writeFile(source + L"\\guest.dat", "guest"));
    const auto slotsBefore = product.slots();

    EXPECT_EQ(errorOf(product.run(tendril, renameRequest(product, product, source, destination))),
              0);
    EXPECT_TRUE(exists(destination + L"\\guest.dat"));
    EXPECT_FALSE(exists(launcherLink));
    EXPECT_EQ(product.slots(), slotsBefore);
    EXPECT_EQ(tendril.log().find("InstallClient:"), std::string::npos);
}

// An old name that is empty names nothing of the old registration: the rename goes on as for an
// installation with no old record, and the shortcut to the old launcher that an empty program
// group leaves at the top of the Programs folder goes with the rest.
TEST(SetLongName, EmptyOldNamesStillMoveAndRegister) {
    const struct {
        const char* what;
        bool oldRegPathGiven;  // false: the argument stops after the old short name
    } cases[] = {
        {"an empty old long name", true},
        {"an argument of two values: no old long name, no old registry path", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TendrilCopy tendril;
        TestProduct product;
        UniqueShortcutNames names;
        ScratchFolder scratch(L"ren");
        const std::wstring source = scratch / L"Old", destination = scratch / L"New";
        ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
        ASSERT_TRUE(writeFile(source + L"\\client.exe", "x"));
        const std::wstring oldLink = names.programs() + L"\\" + names.name() + L".lnk";
        ASSERT_TRUE(writeShortcut(oldLink, source + L"\\Launcher.exe"));
        Request request = product.request(SetLongName, source);
        Request::setText(request.record.argument,
                         L"\"" + destination + L"\" \"short\"" +
                             (c.oldRegPathGiven ? L" \"\" \"" + product.regPath + L"\" \"icon\""
                                                : L""));
        EXPECT_EQ(errorOf(product.run(tendril, request)), 0);
        EXPECT_TRUE(exists(destination + L"\\client.exe"));
        EXPECT_FALSE(exists(oldLink));
        EXPECT_TRUE(isDirectory(names.programs()));
        EXPECT_EQ(product.slots()[0], destination);
        EXPECT_EQ(dataOf(valuesOf(product.uninstallKey(0)), L"InstallLocation"), destination);
    }
}

TEST(SetLongName, RefusedLocationsChangeNothing) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"ren");
    const std::wstring source = scratch / L"Old";
    ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\client.exe", "x"));
    ASSERT_TRUE(::CreateDirectoryW((source + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\sub\\keep.txt", "x"));
    registerWith(tendril, product, source);
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    // A folder beside a system program named like it plus ".local" changes what it loads.
    const std::wstring intoWindows = std::wstring(windows) + L"\\" + uniqueName(L"new") + L".local";
    ASSERT_TRUE(makeDirectoryLink(windows, scratch / L"j"));
    // After the grant Users control the product's key, and can plant a registry link in it.
    ScratchRegistryKey linkTarget;
    const ScratchRegistryLink link(product.regPath + L"\\L", linkTarget.path());
    ASSERT_TRUE(link.created());
    const struct {
        const char* what;
        std::wstring destination;
        std::wstring newRegPath;  // empty: the product's own
    } cases[] = {
        {"an empty destination", L"", L""},
        {"a relative destination", L"Games\\Client", L""},
        {"a drive root", L"C:\\", L""},
        {"a destination too long for the request", scratch.path() + L"\\" + std::wstring(250, L'n'),
         L""},
        {"a protected destination", std::wstring(windows) + L"\\Client", L""},
        {"a protected registry path", scratch / L"New", L"SOFTWARE\\Microsoft\\Windows"},
        {"a registry path through a link", scratch / L"New", link.path() + L"\\x"},
        // Clearing any of these before the move would delete the installation itself.
        {"a destination holding the installation", scratch.path(), L""},
        {"a destination inside the installation", source + L"\\sub", L""},
        {"the installation written with a slash", scratch.path() + L"/Old", L""},
        {"the installation with a trailing dot", source + L".", L""},
        {"a new folder under a link to the Windows folder",
         scratch / L"j\\" + intoWindows.substr(intoWindows.rfind(L'\\') + 1), L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Request request = renameRequest(product, product, source, c.destination);
        if (!c.newRegPath.empty()) Request::setText(request.record.regPath, c.newRegPath);
        EXPECT_EQ(errorOf(product.run(tendril, request)), InstallFolderUnavailable);
        EXPECT_TRUE(exists(source + L"\\client.exe"));
        EXPECT_TRUE(exists(source + L"\\sub\\keep.txt"));
        EXPECT_EQ(product.slots()[0], source);
        EXPECT_TRUE(keyExists(product.uninstallKey(0)));
        EXPECT_TRUE(exists(product.startMenuShortcut(product.iconName, 0)));
    }
    EXPECT_FALSE(exists(scratch / L"New"));
    EXPECT_FALSE(exists(intoWindows)) << "moved into the Windows folder";
    EXPECT_NE(tendril.log().find("Refused " + narrow(scratch.path()) + "\\j\\"),
              std::string::npos)
        << tendril.log();
    removeDirectoryLink(scratch / L"j");
    EXPECT_FALSE(keyExists(linkTarget.path())) << "a key created through the link";
}

}  // namespace
}  // namespace tendril::test
