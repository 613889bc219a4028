// Faults from end to end: files an uninstall cannot delete, a launcher that dies while Tendril
// works, and cancels at random points of a long uninstall. Times are measured from Tendril's
// own messages where they can be, so that its start-up on a busy machine does not count.
#include "e2e_support.h"
#include "filetree/users_descriptor.h"
#include "product_fixture.h"
#include "support/security_traces.h"
#include "support/system_programs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <sstream>

namespace tendril::test {
namespace {

using launch::ReceivedMessage;
using launch::Request;
using launch::RunResult;

constexpr std::int32_t kUninstalled = UninstallClient;

// The records command 1 leaves, written directly: slot i holds folders[i] and has its Uninstall
// key. The commands here only look the slot up and remove the key.
void recordInstallations(const TestProduct& product, const std::vector<std::wstring>& folders) {
    product.setSlots(folders);
    for (std::size_t slot = 0; slot < folders.size(); ++slot) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE,
                                  product.uninstallKey(static_cast<int>(slot)).c_str(), &key),
                  0);
        // The entry names its folder, as every entry Tendril writes does.
        const std::pair<const wchar_t*, std::wstring> values[] = {
            {L"DisplayName", product.longName}, {L"InstallLocation", folders[slot]}};
        for (const auto& [name, data] : values)
            ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
}

// Under Wine a file's access list is kept in its Unix permissions, and so is its read-only mark:
// securing an entry gives it write permission and so takes the mark off, whatever Tendril does.
bool securingKeepsReadOnly() {
    ScratchFolder probe(L"roprobe");
    const std::wstring file = probe / L"file";
    EXPECT_TRUE(writeFile(file, "x") && markReadOnly(file) && buildUsersSecurityDescriptor());
    ::SetFileSecurityW(file.c_str(), DACL_SECURITY_INFORMATION, usersSecurityDescriptor.get());
    return isReadOnly(file);
}

// Held open for reading and writing by others, but not for deleting.
launch::Handle holdWithoutDeleteSharing(const std::wstring& path) {
    return launch::Handle(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Milliseconds from the first progress message to the result message of command.
double commandSpanMs(const std::vector<ReceivedMessage>& messages, std::int32_t command) {
    const auto status = messagesOf(messages, WM_ASSISTANT_STATUS);
    if (status.size() < 2 || status.front().wParam != STATUS_PROGRESS ||
        status.back().wParam != command)
        return -1;
    return status.back().atMs - status.front().atMs;
}

bool endsWithPipeClosed(const std::string& log) {
    const std::string last = "Pipe closed\r\n";
    return log.size() >= last.size() &&
           log.compare(log.size() - last.size(), last.size(), last) == 0;
}

// A tree of folders and files below root, with the client's executable at its top. fill() makes
// whatever is missing, so that one tree serves several uninstalls that each delete part of it.
struct FileTree {
    std::wstring root;
    std::vector<std::wstring> folders, files;

    FileTree(std::wstring rootPath, int topFolders, int subFolders, int filesEach)
        : root(std::move(rootPath)) {
        files.push_back(root + L"\\client.exe");
        for (int t = 0; t < topFolders; ++t) {
            const std::wstring top = root + L"\\d" + std::to_wstring(t);
            folders.push_back(top);
            for (int s = 0; s < subFolders; ++s) {
                const std::wstring sub = top + L"\\s" + std::to_wstring(s);
                folders.push_back(sub);
                for (int f = 0; f < filesEach; ++f)
                    files.push_back(sub + L"\\f" + std::to_wstring(f) + L".bin");
            }
        }
    }
    bool fill() const {
        ::CreateDirectoryW(root.c_str(), nullptr);
        for (const std::wstring& folder : folders) ::CreateDirectoryW(folder.c_str(), nullptr);
        for (const std::wstring& file : files)
            if (!exists(file) && !writeFile(file, "x")) return false;
        return true;
    }
    std::size_t filesLeft() const {
        return static_cast<std::size_t>(
            std::count_if(files.begin(), files.end(), [](const auto& f) { return exists(f); }));
    }
};

// Files held without delete sharing stay, after six attempts 100 ms apart each; read-only entries
// go unless something holds them. The same installation without the holders is uninstalled first
// to measure what the retries add.
TEST(Faults, UndeletableFilesStayAndTheUninstallStillSucceedsInBoundedTime) {
    const struct Entry {
        const wchar_t* name;
        bool folder, readOnly, held, stays;
    } entries[] = {
        {L"client.exe", false, false, false, false},
        {L"plain.txt", false, false, false, false},
        {L"held.bin", false, false, true, true},
        {L"readonly.txt", false, true, false, false},
        {L"readonly-held.bin", false, true, true, true},
        {L"sub", true, false, false, true},
        {L"sub\\held.bin", false, false, true, true},
        {L"sub\\plain.txt", false, false, false, false},
        {L"rosub", true, true, false, false},
        {L"rosub\\f.txt", false, false, false, false},
        {L"roheld", true, true, false, true},
        {L"roheld\\held.bin", false, false, true, true},
    };
    constexpr int kHeldFiles = 4;
    std::string notShown;  // what the run could not judge here, and why
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"locked");
    const std::wstring control = scratch / L"control", locked = scratch / L"locked";
    for (const std::wstring& folder : {control, locked}) {
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        for (const Entry& e : entries) {
            const std::wstring path = folder + L"\\" + e.name;
            ASSERT_TRUE(e.folder ? ::CreateDirectoryW(path.c_str(), nullptr) != FALSE
                                 : writeFile(path, "x"));
        }
        // Marked read-only once their contents are in place; a file's mark must take.
        for (const Entry& e : entries)
            if (e.readOnly && !markReadOnly(folder + L"\\" + e.name)) {
                ASSERT_TRUE(e.folder) << narrow(e.name);
                notShown = "Read-only folders: Wine keeps no read-only mark on a folder. ";
            }
    }
    std::vector<launch::Handle> held;
    for (const Entry& e : entries)
        if (e.held) {
            held.push_back(holdWithoutDeleteSharing(locked + L"\\" + e.name));
            ASSERT_TRUE(held.back()) << narrow(e.name);
        }
    ASSERT_EQ(held.size(), static_cast<std::size_t>(kHeldFiles));
    recordInstallations(product, {control, locked});

    const RunResult free = product.run(tendril, product.request(UninstallClient, control));
    ASSERT_TRUE(free.result.has_value()) << describe(free.messages);
    EXPECT_EQ(free.result->second, 0);
    EXPECT_FALSE(exists(control)) << "without holders everything goes, read-only or not";

    const RunResult run = product.run(tendril, product.request(UninstallClient, locked));
    held.clear();
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, std::make_pair(kUninstalled, 0));
    const auto progress = progressOf(run.messages);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    const bool marksSurviveTheGrant = securingKeepsReadOnly();
    if (!marksSurviveTheGrant)
        notShown += "Read-only files: under Wine the grant takes the marks off before the delete.";
    for (const Entry& e : entries) {
        SCOPED_TRACE(narrow(e.name));
        const std::wstring path = locked + L"\\" + e.name;
        EXPECT_EQ(exists(path), e.stays);
        if (e.stays && e.readOnly && marksSurviveTheGrant) {
            EXPECT_TRUE(isReadOnly(path))
                << "a mark taken off for a delete that failed is put back";
        }
    }
    EXPECT_TRUE(exists(locked));
    EXPECT_EQ(product.slots()[1], L"") << "the command succeeded: its record goes";
    EXPECT_FALSE(keyExists(product.uninstallKey(1)));

    const double freeMs = commandSpanMs(free.messages, kUninstalled);
    const double lockedMs = commandSpanMs(run.messages, kUninstalled);
    std::printf("uninstall without holders %.0f ms, with %d held files %.0f ms\n", freeMs,
                kHeldFiles, lockedMs);
    ASSERT_GE(freeMs, 0) << describe(free.messages);
    ASSERT_GE(lockedMs, 0) << describe(run.messages);
    EXPECT_GE(lockedMs, kHeldFiles * 500.0 - 20) << "five waits of 100 ms for each held file";
    EXPECT_LE(lockedMs, freeMs + kHeldFiles * 600.0 + 1500) << "six attempts per file, no more";

    for (const Entry& e : entries)
        ::SetFileAttributesW((locked + L"\\" + e.name).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!notShown.empty()) GTEST_SKIP() << notShown;
}

// What a launcher that dies in the middle of a command leaves to be seen.
struct Death {
    DWORD launcherExit = 0;               // 3: it ended as planned
    bool tendrilRunningAtDeath = false;   // the command had not ended when the launcher went
    std::vector<DWORD> watchCandidates;   // Tendril's threads at the death, new since the request
    bool watchEndedWhileRunning = false;  // every candidate ended before Tendril did
    double watchEndMs = -1;               // from the death to that
    bool exited = false;
    DWORD exitCode = 0;
    double exitMs = -1;  // from the death to Tendril's exit
};

std::vector<DWORD> idsOf(const std::string& line) {
    std::vector<DWORD> ids;
    std::istringstream in(line);
    for (unsigned long id; in >> id;) ids.push_back(static_cast<DWORD>(id));
    return ids;
}

std::vector<std::string> reportLines(const std::wstring& path) {
    std::vector<std::string> lines;
    const std::string text = readFile(path);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// Runs request through e2e_dying_launcher, which ends itself at the first progress message of
// dieAt percent or more (-1: right after the request). atDeath runs once the launcher is gone.
Death runWithDyingLauncher(
    const TendrilCopy& tendril, const Request& request, int dieAt,
    const std::function<void()>& atDeath = [] {}) {
    Death death;
    ScratchFolder work(L"dying");
    const std::wstring requestFile = work / L"request.bin", report = work / L"report.txt";
    if (!writeFile(requestFile, request.serialize())) {
        ADD_FAILURE() << "cannot write the request";
        return death;
    }
    const std::wstring parameters = L"\"" + tendril.path() + L"\" \"" + requestFile + L"\" \"" +
                                    report + L"\" " + std::to_wstring(dieAt);
    launch::Handle launcher = launch::startTendril(buildPath(E2E_DYING_LAUNCHER_EXE), parameters,
                                                   launch::StartMethod::CreateProcess);
    if (!launcher) {
        ADD_FAILURE() << "cannot start the launcher: " << ::GetLastError();
        return death;
    }
    // The first line comes before the request is written, and Tendril is opened as soon as it
    // is there. A launcher that dies at the first progress message may be gone by the next look.
    std::vector<std::string> lines;
    for (int i = 0; i < 30000 && lines.empty(); ++i) {
        lines = reportLines(report);
        if (lines.empty() && ::WaitForSingleObject(launcher.get(), 2) == WAIT_OBJECT_0) break;
    }
    if (lines.empty()) lines = reportLines(report);
    const std::vector<DWORD> first = lines.empty() ? std::vector<DWORD>() : idsOf(lines[0]);
    launch::Handle process;
    if (!first.empty())
        process = launch::Handle(
            ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, first[0]));
    const bool launcherEnded = ::WaitForSingleObject(launcher.get(), 60000) == WAIT_OBJECT_0;
    const ULONGLONG died = ::GetTickCount64();
    ::GetExitCodeProcess(launcher.get(), &death.launcherExit);
    if (!process || !launcherEnded) {
        ADD_FAILURE() << "the launcher did not hand the request over and die (exit "
                      << death.launcherExit << ")";
        return death;
    }
    death.tendrilRunningAtDeath = ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
    lines = reportLines(report);
    if (lines.size() == 2) {
        const std::vector<DWORD> before(first.begin() + 1, first.end());
        for (DWORD id : idsOf(lines[1]))
            if (!contains(before, id)) death.watchCandidates.push_back(id);
    }
    atDeath();
    auto running = [&] { return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; };
    if (!death.watchCandidates.empty()) {
        for (;;) {
            const std::vector<DWORD> now = threadsOf(first[0]);
            const bool allGone =
                std::none_of(death.watchCandidates.begin(), death.watchCandidates.end(),
                             [&](DWORD id) { return contains(now, id); });
            if (!running()) break;
            if (allGone) {
                death.watchEndedWhileRunning = true;
                death.watchEndMs = static_cast<double>(::GetTickCount64() - died);
                break;
            }
            ::Sleep(2);
        }
    }
    death.exited = ::WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0;
    death.exitMs = static_cast<double>(::GetTickCount64() - died);
    ::GetExitCodeProcess(process.get(), &death.exitCode);
    return death;
}

// What every command shows once its launcher died: Tendril went on without it, closed the pipe
// and exited. The watch thread leaves no log line of its own; "Pipe closed" without the line of
// a watch that could not be stopped shows it had ended by then, and where the threads new since
// the request can be told apart, they are seen to end while the command still runs.
void expectTendrilEndedOnItsOwn(const Death& death, const TendrilCopy& tendril, bool watchSeen) {
    std::printf(
        "  watch threads %zu, ended %.0f ms after the launcher; Tendril exited after %.0f ms\n",
        death.watchCandidates.size(), death.watchEndMs, death.exitMs);
    EXPECT_EQ(death.launcherExit, 3u) << "the launcher did not die as planned";
    EXPECT_TRUE(death.tendrilRunningAtDeath) << "the command ended before the launcher died";
    EXPECT_TRUE(death.exited) << "Tendril did not exit within 60 s of the launcher";
    EXPECT_EQ(death.exitCode, 0u);
    const std::string log = tendril.log();
    EXPECT_TRUE(endsWithPipeClosed(log)) << log;
    EXPECT_EQ(log.find("Pipe watch not stopped"), std::string::npos) << log;
    if (watchSeen) {
        EXPECT_EQ(death.watchCandidates.size(), 1u)
            << "the watch is the one thread the request adds";
        EXPECT_TRUE(death.watchEndedWhileRunning)
            << "the watch thread should end once the pipe is broken, not with the process";
    }
}

TEST(LauncherDies, DuringAnUninstallTheTreeIsStillRemoved) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"dyun");
    const FileTree tree(scratch / L"install", 4, 4, 40);
    ASSERT_TRUE(tree.fill());
    recordInstallations(product, {tree.root});
    bool treeThere = false;
    const Death death = runWithDyingLauncher(tendril, product.request(UninstallClient, tree.root),
                                             60, [&] { treeThere = tree.filesLeft() > 0; });
    expectTendrilEndedOnItsOwn(death, tendril, true);
    EXPECT_TRUE(treeThere) << "the delete walk had ended before the launcher died";
    EXPECT_FALSE(exists(tree.root));
    EXPECT_EQ(product.slots()[0], L"");
    EXPECT_FALSE(keyExists(product.uninstallKey(0)));
}

// The launcher dies after the first failed attempt; the folder is let go once it has gone, and a
// later attempt moves it.
TEST(LauncherDies, DuringARenameTheMoveAndTheRegistrationGoOn) {
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"dyren");
    const std::wstring source = scratch / L"Old", destination = scratch / L"New";
    ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
    ASSERT_TRUE(writeFile(source + L"\\client.exe", "x"));
    recordInstallations(product, {source});
    launch::Handle held = holdWithoutDeleteSharing(source);
    ASSERT_TRUE(held);
    Request request = product.request(SetLongName, source);
    Request::setText(request.record.argument, L"\"" + destination + L"\" \"short\" \"" +
                                                  product.longName + L"\" \"" + product.regPath +
                                                  L"\" \"" + product.iconName + L"\"");
    bool stillHere = false;
    const Death death = runWithDyingLauncher(tendril, request, 11, [&] {
        stillHere = exists(source + L"\\client.exe") && !exists(destination);
        held.reset();
    });
    expectTendrilEndedOnItsOwn(death, tendril, true);
    EXPECT_TRUE(stillHere) << "the folder moved before the launcher died";
    EXPECT_TRUE(exists(destination + L"\\client.exe"));
    EXPECT_FALSE(exists(source));
    EXPECT_EQ(product.slots()[0], destination);
    EXPECT_EQ(dataOf(valuesOf(product.uninstallKey(0)), L"InstallLocation"), destination);
    const std::string log = tendril.log();
    EXPECT_NE(log.find("\" result ok\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("SetLongName - end\r\n"), std::string::npos) << log;
}

// Commands 1 and 4 walk the tree to secure it; every entry starts without Everyone's access.
TEST(LauncherDies, DuringARegistrationOrAGrantTheTreeIsStillSecured) {
    const struct {
        const char* what;
        std::int32_t command;
        int dieAt;  // command 4 sends no progress: its launcher dies right after the request
    } cases[] = {{"registration", RefreshRegistration, 0}, {"grant", GrantUsersAccess, -1}};
    ScratchFolder scratch(L"dygrant");
    const FileTree tree(scratch / L"install", 5, 4, 50);
    ASSERT_TRUE(tree.fill());
    std::vector<std::wstring> entries = tree.folders;
    entries.insert(entries.end(), tree.files.begin(), tree.files.end());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::printf("%s:\n", c.what);
        TendrilCopy tendril;
        TestProduct product;
        for (const std::wstring& entry : entries) ASSERT_TRUE(denyOthersOn(entry));
        const Death death =
            runWithDyingLauncher(tendril, product.request(c.command, tree.root), c.dieAt);
        // Command 4's launcher may die before Tendril has even read the request: no thread of
        // the request to follow then.
        expectTendrilEndedOnItsOwn(death, tendril, c.dieAt >= 0);
        const std::size_t secured = static_cast<std::size_t>(
            std::count_if(entries.begin(), entries.end(), everyoneCanRead));
        EXPECT_EQ(secured, entries.size());
        if (c.command == RefreshRegistration) {
            EXPECT_EQ(product.slots()[0], tree.root);
            EXPECT_TRUE(keyExists(product.uninstallKey(0)));
            EXPECT_TRUE(exists(product.startMenuShortcut(product.iconName, 0)));
        }
    }
}

// The update runs for 1.5 s after the launcher has gone; Tendril still waits for it, logs its
// exit code and deletes the package.
TEST(LauncherDies, DuringARuntimeUpdateTheWaitGoesOn) {
    StandInUpdateInstaller installer{buildPath(E2E_UPDATE_PACKAGE_EXE)};
    ASSERT_TRUE(installer.ok()) << "cannot put the stand-in in place of wusa.exe";
    TendrilCopy tendril;
    const std::wstring package = tendril.folder() / L"KB2999226.msu";
    ASSERT_TRUE(writeFile(package, "exit=0\r\nsleep=1500\r\n"));
    Request request;
    request.command = InstallRuntimeUpdate;
    bool updateRunning = false;
    const Death death = runWithDyingLauncher(tendril, request, 0,
                                             [&] { updateRunning = !exists(package + L".done"); });
    // ShellExecuteExW may start threads of its own in Tendril by the time the launcher dies, so a
    // new thread then need not be the watch: only the log can tell.
    expectTendrilEndedOnItsOwn(death, tendril, false);
    EXPECT_TRUE(updateRunning) << "the update had ended before the launcher died";
    EXPECT_TRUE(exists(package + L".done"));
    EXPECT_FALSE(exists(package));
    const std::string log = tendril.log();
    EXPECT_NE(log.find("Process exit code: 0\r\nPipe closed\r\n"), std::string::npos) << log;
}

// One uninstall of the tree, cancelled at the first progress message of at percent or more.
struct CancelledRun {
    std::vector<ReceivedMessage> messages;
    std::int64_t cancelledAt = -1;  // the percentage that triggered the cancel
    bool exited = false;
};

CancelledRun uninstallCancelledAt(const TendrilCopy& tendril, const TestProduct& product,
                                  const std::wstring& folder, int at) {
    CancelledRun run;
    launch::MessageWindow window;
    launch::LauncherPipe pipe = launch::LauncherPipe::create(tendril.fileName());
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    if (!process) return run;
    window.waitFor([](const ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; },
                   30000);
    if (!pipe.waitForClient(10000)) return run;
    const std::string bytes = product.request(UninstallClient, folder).serialize();
    pipe.write(bytes.data(), bytes.size());
    const auto trigger = window.waitFor(
        [at](const ReceivedMessage& m) {
            return m.message == WM_ASSISTANT_STATUS &&
                   (m.wParam != STATUS_PROGRESS || m.lParam >= at);
        },
        60000);
    if (trigger && trigger->wParam == STATUS_PROGRESS) {
        run.cancelledAt = trigger->lParam;
        const std::int32_t cancel = Cancel;
        pipe.write(&cancel, sizeof cancel);
    }
    run.exited = ::WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0;
    window.drain();
    run.messages = window.messages();
    return run;
}

// A 2,000-file installation with a folder beside it that must never be touched; the cancel
// points are progress percentages drawn with a fixed seed. Securing the tree runs from 1 to
// about 48 percent, deleting it from there to 99.
TEST(Faults, ACancelAtAnyPointOfAnUninstallTouchesNothingOutsideAndKeepsTheRegistration) {
    constexpr unsigned kSeed = 20261209;
    constexpr int kPoints = 10;
    TendrilCopy tendril;
    TestProduct product;
    ScratchFolder scratch(L"cancel10");
    const FileTree tree(scratch / L"install", 10, 4, 50);
    ASSERT_EQ(tree.files.size(), 2001u);
    ASSERT_TRUE(tree.fill());
    const std::wstring outside = scratch / L"outside";
    ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((outside + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(writeFile(outside + L"\\keep.txt", "keep"));
    ASSERT_TRUE(writeFile(outside + L"\\readonly.txt", "read-only"));
    ASSERT_TRUE(writeFile(outside + L"\\sub\\inner.txt", "inner"));
    ASSERT_TRUE(
        ::SetFileAttributesW((outside + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    recordInstallations(product, {tree.root});

    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> point(0, 90);
    std::printf("cancel points drawn with seed %u\n", kSeed);
    int partlyDeleted = 0;
    for (int i = 0; i < kPoints; ++i) {
        const int at = point(random);
        SCOPED_TRACE(testing::Message() << "cancel at " << at << "%");
        ASSERT_TRUE(tree.fill());
        const CancelledRun run = uninstallCancelledAt(tendril, product, tree.root, at);
        const std::size_t left = tree.filesLeft();
        const double ms = commandSpanMs(run.messages, kUninstalled);
        std::printf("  at %d%% (cancelled on %lld%%): %zu of %zu files left, %.0f ms\n", at,
                    static_cast<long long>(run.cancelledAt), left, tree.files.size(), ms);
        EXPECT_TRUE(run.exited);
        ASSERT_GE(run.cancelledAt, at) << describe(run.messages);
        const auto status = messagesOf(run.messages, WM_ASSISTANT_STATUS);
        ASSERT_FALSE(status.empty());
        EXPECT_EQ(status.back().wParam, kUninstalled) << "the result is still sent";
        EXPECT_EQ(status.back().lParam, 0);
        const auto progress = progressOf(run.messages);
        EXPECT_EQ(std::find(progress.begin(), progress.end(), 100), progress.end())
            << describe(run.messages);
        EXPECT_EQ(product.slots()[0], tree.root);
        EXPECT_TRUE(keyExists(product.uninstallKey(0)));
        EXPECT_TRUE(exists(tree.root + L"\\client.exe")) << "the executable goes only at the end";
        EXPECT_EQ(readFile(outside + L"\\keep.txt"), "keep");
        EXPECT_EQ(readFile(outside + L"\\readonly.txt"), "read-only");
        EXPECT_TRUE(isReadOnly(outside + L"\\readonly.txt"));
        EXPECT_EQ(readFile(outside + L"\\sub\\inner.txt"), "inner");
        if (left > 1 && left < tree.files.size()) ++partlyDeleted;
    }
    EXPECT_GT(partlyDeleted, 0) << "no cancel stopped the delete walk part-way";
    ::SetFileAttributesW((outside + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace tendril::test
