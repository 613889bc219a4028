// tendril_launcher.dll from end to end, as a launcher written in C uses it: e2e_c_launcher (C11,
// linked against the DLL's import library alone) runs every command against the real tendril.exe
// and prints what it saw; one table says what each run must end with. Below it, the C
// interface's own rules that no run shows: refused arguments, refused text, a failed start and
// the end of the message queue, called from here directly (the last two through launcher.hpp).
#include "e2e_support.h"
#include "product_fixture.h"
#include "support/system_programs.h"

#include <gtest/gtest.h>
#include <tendril_launcher/tendril_launcher.h>
#include <tendril_launcher/launcher.hpp>

#include <cstddef>
#include <functional>
#include <optional>
#include <sstream>

namespace tendril::test {
namespace {

// A Windows command-line argument that the C runtime's parser gives back unchanged.
std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

// What e2e_c_launcher printed, line by line, and how it ended.
struct Printed {
    DWORD exitCode = 0;
    std::vector<std::string> lines;
    std::string text;

    std::string value(const std::string& key) const {
        for (const std::string& line : lines)
            if (line.compare(0, key.size() + 1, key + " ") == 0) return line.substr(key.size() + 1);
        return "<no " + key + " line>";
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> picked;
        for (const std::string& line : lines)
            if (line.compare(0, 8, "message ") == 0) picked.push_back(line.substr(8));
        return picked;
    }
};

Printed runCLauncher(const TendrilCopy& tendril, std::int32_t command,
                     const std::vector<std::wstring>& arguments) {
    Printed printed;
    std::wstring commandLine = quoted(buildPath(E2E_C_LAUNCHER_EXE)) + L" " +
                               quoted(tendril.path()) + L" " + std::to_wstring(command);
    for (const std::wstring& argument : arguments) commandLine += L" " + quoted(argument);
    const std::wstring outputPath = tendril.folder() / uniqueName(L"printed");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    launch::Handle output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        &inherit, CREATE_ALWAYS, 0, nullptr));
    if (!output) {
        ADD_FAILURE() << "cannot create " << narrow(outputPath);
        return printed;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &info)) {
        ADD_FAILURE() << "cannot start e2e_c_launcher: " << ::GetLastError();
        return printed;
    }
    launch::Handle process(info.hProcess), thread(info.hThread);
    if (::WaitForSingleObject(process.get(), 180000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "e2e_c_launcher did not end";
        ::TerminateProcess(process.get(), 1);
    }
    ::GetExitCodeProcess(process.get(), &printed.exitCode);
    output.reset();
    printed.text = readFile(outputPath);
    std::istringstream in(printed.text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        printed.lines.push_back(line);
    }
    return printed;
}

// A request as e2e_c_launcher takes it: "field=value" for every text field that is set, the
// three flags, and "entry=<create>|<name>|<path>".
std::vector<std::wstring> argumentsOf(const launch::Request& request) {
    static const struct {
        const wchar_t* name;
        std::size_t offset;
    } fields[] = {
        {L"installFolder", offsetof(AssistantRequest, installFolder)},
        {L"reservedText", offsetof(AssistantRequest, reservedText)},
        {L"shortName", offsetof(AssistantRequest, shortName)},
        {L"longName", offsetof(AssistantRequest, longName)},
        {L"iconName", offsetof(AssistantRequest, iconName)},
        {L"regPath", offsetof(AssistantRequest, regPath)},
        {L"helpLink", offsetof(AssistantRequest, helpLink)},
        {L"urlInfoAbout", offsetof(AssistantRequest, urlInfoAbout)},
        {L"urlUpdateInfo", offsetof(AssistantRequest, urlUpdateInfo)},
        {L"shortcutFolder", offsetof(AssistantRequest, shortcutFolder)},
        {L"exeName", offsetof(AssistantRequest, exeName)},
        {L"argument", offsetof(AssistantRequest, argument)},
    };
    std::vector<std::wstring> arguments;
    const auto* record = reinterpret_cast<const char*>(&request.record);
    for (const auto& field : fields) {
        const std::wstring text(reinterpret_cast<const wchar_t*>(record + field.offset));
        if (!text.empty()) arguments.push_back(field.name + (L"=" + text));
    }
    const auto flag = [](const wchar_t* name, std::uint8_t value) {
        return std::wstring(name) + L"=" + std::to_wstring(value);
    };
    arguments.push_back(flag(L"programsShortcuts", request.record.programsShortcuts));
    arguments.push_back(flag(L"iconShortcutFlag", request.record.iconShortcutFlag));
    arguments.push_back(flag(L"startMenuShortcuts", request.record.startMenuShortcuts));
    for (const RequestEntry& entry : request.entries)
        arguments.push_back(L"entry=" + std::to_wstring(entry.create) + L"|" + entry.name + L"|" +
                            entry.path);
    return arguments;
}

// Everything a row may need; each row gets a fresh one.
struct World {
    TendrilCopy tendril;
    TestProduct product;
    TestProduct renamed;  // the new names of a rename
    ScratchFolder installation{L"cinst"};
    ScratchFolder scratch{L"cabi"};
    std::optional<StandInUpdateInstaller> installer;
    launch::Handle sleeper;
    std::vector<launch::Handle> held;  // files held open: a slow uninstall

    std::wstring package() const { return tendril.folder() / L"KB2999226.msu"; }

    void makeInstallation() {
        ASSERT_TRUE(::CreateDirectoryW((installation / L"tools").c_str(), nullptr));
        for (const wchar_t* name : {L"client.exe", L"tools\\editor.exe", L"readme.txt"})
            ASSERT_TRUE(writeFile(installation / name, "x"));
    }
    void registerInstallation() {
        const launch::RunResult run =
            product.run(tendril, product.request(RefreshRegistration, installation.path()));
        ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
        ASSERT_EQ(run.result->second, 0) << describe(run.messages);
    }
    // Files held open without delete sharing make the delete walk slow (six attempts each).
    void holdFiles() {
        for (int i = 0; i < 12; ++i) {
            const std::wstring file = installation / (L"locked" + std::to_wstring(i) + L".bin");
            ASSERT_TRUE(writeFile(file, "x"));
            held.emplace_back(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        }
    }
    void standInInstaller(const std::string& package) {
        installer.emplace(buildPath(E2E_UPDATE_PACKAGE_EXE));
        ASSERT_TRUE(installer->ok()) << "cannot put the stand-in in place of wusa.exe";
        ASSERT_TRUE(writeFile(this->package(), package));
    }
};

struct Row {
    const char* name;
    std::int32_t command;
    // Prepares the world and gives e2e_c_launcher's arguments after the command.
    std::function<std::vector<std::wstring>(World&)> prepare;
    const char* outcome;
    const char* result;
    // What must hold afterwards, besides the outcome.
    std::function<void(World&, const Printed&)> check;
};

TEST(CInterface, ALauncherInCDrivesEveryCommand) {
    const Row rows[] = {
        {"register", RefreshRegistration,
         [](World& w) {
             w.makeInstallation();
             return argumentsOf(w.product.request(RefreshRegistration, w.installation.path()));
         },
         "result", "1 0",
         [](World& w, const Printed&) {
             EXPECT_EQ(w.product.slots()[0], w.installation.path());
             EXPECT_TRUE(exists(w.product.startMenuShortcut(w.product.iconName, 0)));
         }},
        {"runtime update, the code alone", InstallRuntimeUpdate,
         [](World& w) {
             w.standInInstaller("exit=0\r\n");
             return std::vector<std::wstring>{L"--no-request"};
         },
         "result", "2 0",
         [](World& w, const Printed&) {
             EXPECT_TRUE(exists(w.package() + L".done")) << "the update did not run";
             EXPECT_FALSE(exists(w.package()));
         }},
        {"uninstall", UninstallClient,
         [](World& w) {
             w.makeInstallation();
             w.registerInstallation();
             return argumentsOf(w.product.request(UninstallClient, w.installation.path()));
         },
         "result", "3 0",
         [](World& w, const Printed&) {
             EXPECT_FALSE(exists(w.installation / L"client.exe"));
             EXPECT_FALSE(keyExists(w.product.uninstallKey(0)));
             EXPECT_EQ(w.product.slots()[0], L"");
         }},
        {"grant access", GrantUsersAccess,
         [](World& w) {
             w.makeInstallation();
             launch::Request request;
             request.command = GrantUsersAccess;
             launch::Request::setText(request.record.installFolder, w.installation.path());
             launch::Request::setText(request.record.regPath, w.product.regPath);
             return argumentsOf(request);
         },
         "result", "4 0",
         [](World& w, const Printed&) {
             EXPECT_TRUE(keyExists(w.product.regPath + L"\\Install"));
         }},
        {"shortcuts", ApplyShortcuts,
         [](World& w) {
             w.makeInstallation();
             w.product.setSlots({w.installation.path()});
             return argumentsOf(w.product.request(ApplyShortcuts, w.installation.path()));
         },
         "result", "5 0",
         [](World& w, const Printed&) {
             EXPECT_TRUE(exists(w.product.startMenuShortcut(w.product.editorName, 0)));
             EXPECT_TRUE(exists(w.product.groupShortcut(w.product.editorName, 0)));
         }},
        {"no operation", NoOperation, [](World&) { return std::vector<std::wstring>{}; },
         "no result", "none",
         [](World& w, const Printed&) {
             EXPECT_NE(w.tendril.log().find("Pipe closed"), std::string::npos) << w.tendril.log();
         }},
        {"terminate", TerminateProcesses,
         [](World& w) {
             const std::wstring program = w.scratch / L"sleeper.exe";
             EXPECT_TRUE(::CopyFileW(buildPath(E2E_SLEEPER_EXE).c_str(), program.c_str(), FALSE));
             w.sleeper = launch::startTendril(program, L"", launch::StartMethod::CreateProcess);
             EXPECT_TRUE(w.sleeper);
             ::Sleep(500);  // let it map its executable
             return std::vector<std::wstring>{L"argument=" + program};
         },
         "result", "7 0",
         [](World& w, const Printed&) {
             EXPECT_EQ(::WaitForSingleObject(w.sleeper.get(), 5000), WAIT_OBJECT_0);
         }},
        {"rename", SetLongName,
         [](World& w) {
             const std::wstring source = w.scratch / L"Old";
             EXPECT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
             EXPECT_TRUE(writeFile(source + L"\\client.exe", "x"));
             w.product.setSlots({source});
             w.renamed.regPath = w.product.regPath;
             launch::Request request = w.renamed.request(SetLongName, source);
             launch::Request::setText(request.record.argument,
                                      L"\"" + (w.scratch / L"New") + L"\" \"short\" \"" +
                                          w.product.longName + L"\" \"" + w.product.regPath +
                                          L"\" \"" + w.product.iconName + L"\"");
             return argumentsOf(request);
         },
         "result", "8 0",
         [](World& w, const Printed&) {
             EXPECT_TRUE(exists(w.scratch / L"New\\client.exe"));
             EXPECT_FALSE(exists(w.scratch / L"Old"));
             EXPECT_EQ(w.renamed.slots()[0], w.scratch / L"New");
         }},
        // The callback cancels at the first progress message: the walks stop, the uninstall
        // keeps the record and the key, and the result still comes.
        {"the caller's cancel during an uninstall", UninstallClient,
         [](World& w) {
             w.makeInstallation();
             w.holdFiles();
             w.registerInstallation();
             auto arguments =
                 argumentsOf(w.product.request(UninstallClient, w.installation.path()));
             arguments.push_back(L"--cancel-on-progress");
             return arguments;
         },
         "cancelled", "3 0",
         [](World& w, const Printed& printed) {
             w.held.clear();
             for (const std::string& m : printed.messages()) EXPECT_NE(m, "2325 6 100");
             EXPECT_EQ(w.product.slots()[0], w.installation.path());
             EXPECT_TRUE(keyExists(w.product.uninstallKey(0)));
         }},
        // The update runs 7 s; tendril_wait gives up after 3 s and writes Cancel. Tendril is
        // waiting for the update by then (or finds the cancel before it starts waiting): either
        // way it answers with its result within the grace period.
        {"the time-out during an update", InstallRuntimeUpdate,
         [](World& w) {
             w.standInInstaller("exit=0\r\nsleep=7000\r\n");
             return std::vector<std::wstring>{L"--no-request", L"--timeout=3000"};
         },
         "timed out", "2 0",
         [](World& w, const Printed&) {
             EXPECT_TRUE(exists(w.package() + L".started")) << "the update did not start";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        World world;
        const std::vector<std::wstring> arguments = row.prepare(world);
        if (::testing::Test::HasFatalFailure()) return;
        const Printed printed = runCLauncher(world.tendril, row.command, arguments);
        ASSERT_EQ(printed.exitCode, 0u) << printed.text;
        EXPECT_EQ(printed.value("outcome"), row.outcome) << printed.text;
        EXPECT_EQ(printed.value("result"), row.result) << printed.text;
        EXPECT_EQ(printed.value("exited"), "1 0") << printed.text;
        EXPECT_EQ(printed.value("windowsError"), "0") << printed.text;
        // Every message reached the callback and the queue, the announcement first, and the
        // queue ended with -1 once empty.
        const std::vector<std::string> messages = printed.messages();
        EXPECT_EQ(printed.value("callbacks"), std::to_string(messages.size())) << printed.text;
        EXPECT_EQ(printed.value("end"), "-1") << printed.text;
        ASSERT_FALSE(messages.empty()) << printed.text;
        EXPECT_EQ(messages.front().compare(0, 5, "2324 "), 0) << printed.text;
        EXPECT_EQ(messages.front().substr(messages.front().size() - 2), " 0") << printed.text;
        row.check(world, printed);
    }
}

TEST(CInterface, InvalidArgumentsStartNoRun) {
    TendrilRequest request{};
    TendrilEntry entry{};
    const wchar_t* path = L"C:\\nowhere\\tendril.exe";
    const struct {
        const char* what;
        std::function<TendrilRun*()> start;
    } cases[] = {
        {"no path",
         [&] { return tendril_run_start(nullptr, 6, &request, nullptr, 0, nullptr, nullptr); }},
        {"an empty path",
         [&] { return tendril_run_start(L"", 6, &request, nullptr, 0, nullptr, nullptr); }},
        {"a negative count",
         [&] { return tendril_run_start(path, 5, &request, &entry, -1, nullptr, nullptr); }},
        {"no entries with a count",
         [&] { return tendril_run_start(path, 5, &request, nullptr, 1, nullptr, nullptr); }},
        {"no request for command 1",
         [&] { return tendril_run_start(path, 1, nullptr, nullptr, 0, nullptr, nullptr); }},
    };
    for (const auto& c : cases) {
        TendrilRun* run = c.start();
        EXPECT_EQ(run, nullptr) << c.what;
        tendril_run_close(run);
    }
}

TEST(CInterface, TextThatDoesNotFitWithItsNulIsRefusedWhole) {
    wchar_t field[5];
    std::fill(std::begin(field), std::end(field), L'x');
    EXPECT_EQ(tendril_set_text(field, 5, L"abcd"), 1);
    EXPECT_EQ(std::wstring(field, 5), std::wstring(L"abcd\0", 5));

    std::fill(std::begin(field), std::end(field), L'x');
    EXPECT_EQ(tendril_set_text(field, 5, L"abcde"), 0);
    EXPECT_EQ(std::wstring(field, 5), std::wstring(5, L'\0')) << "a refused text leaves it empty";

    EXPECT_EQ(tendril_set_text(field, 5, L"ab"), 1);
    EXPECT_EQ(std::wstring(field, 5), std::wstring(L"ab\0\0\0", 5));
    EXPECT_EQ(tendril_set_text(nullptr, 5, L"ab"), 0);
    EXPECT_EQ(tendril_set_text(field, 5, nullptr), 0);
}

// A tendril.exe that is not there: the run exists, ends at once as failed to start with the
// Windows error of the start, and has no message to give.
TEST(CInterface, AMissingTendrilFailsToStartWithTheWindowsError) {
    ScratchFolder empty(L"cmissing");
    client::Run run =
        client::Run::start(empty / L"tendril.exe", client::Request(TENDRIL_NO_OPERATION));
    ASSERT_TRUE(run);
    EXPECT_EQ(run.wait(10000), TENDRIL_OUTCOME_FAILED_TO_START);
    const TendrilOutcome outcome = run.outcome();
    EXPECT_EQ(outcome.kind, TENDRIL_OUTCOME_FAILED_TO_START);
    EXPECT_EQ(outcome.windowsError, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(outcome.exited, 0);
    EXPECT_EQ(outcome.hasResult, 0);
    EXPECT_FALSE(run.next(1000));
    EXPECT_TRUE(run.ended());
}

// Once a run has ended and its messages are taken, tendril_next_message answers -1 at once,
// every time, whatever time-out it is given; the queue held what the callback was given.
TEST(CInterface, TheQueueEndsWithMinusOneAfterTheLastMessage) {
    TendrilCopy tendril;
    std::vector<TendrilMessage> called;  // written on the library's thread until the run ends
    client::Run run = client::Run::start(tendril.path(), client::Request(TENDRIL_NO_OPERATION),
                                         [&](const TendrilMessage& m) { called.push_back(m); });
    ASSERT_TRUE(run);
    ASSERT_EQ(run.wait(60000), TENDRIL_OUTCOME_NO_RESULT);
    std::vector<TendrilMessage> taken;
    while (auto message = run.next(0)) taken.push_back(*message);
    ASSERT_TRUE(run.ended());
    ASSERT_EQ(taken.size(), called.size());
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(taken.front().message, TENDRIL_WM_CONNECTED);
    for (std::size_t i = 0; i < taken.size(); ++i) {
        EXPECT_EQ(taken[i].message, called[i].message);
        EXPECT_EQ(taken[i].wParam, called[i].wParam);
        EXPECT_EQ(taken[i].lParam, called[i].lParam);
    }
    for (int i = 0; i < 2; ++i) {
        const ULONGLONG before = ::GetTickCount64();
        EXPECT_FALSE(run.next(TENDRIL_INFINITE));
        EXPECT_TRUE(run.ended());
        EXPECT_LT(::GetTickCount64() - before, 1000u);
    }
}

}  // namespace
}  // namespace tendril::test
