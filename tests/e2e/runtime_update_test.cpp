// InstallRuntimeUpdate from end to end: Tendril gives "KB2999226.msu" beside its executable to
// the system folder's wusa.exe (here our stand-in installer, told by the package what exit code
// to give and how long to run, or Wine's own), waits for it, logs its exit code and deletes the
// package. No file association is ever followed.
#include "e2e_support.h"
#include "support/system_programs.h"

#include <gtest/gtest.h>
#include <tendril_launcher/testing.h>

#include <cstdint>
#include <regex>

namespace tendril::test {
namespace {

using launch::ReceivedMessage;
using launch::Request;
// Some runs here play a misbehaving launcher: the test knobs.
using RunOptions = launch::TestRunOptions;
using launch::RunResult;

using Result = std::pair<std::int32_t, std::int32_t>;

// A Tendril that waited for a request record after the code would wait until this limit.
constexpr DWORD kRunLimitMs = 30000;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start) + "<no line end>");
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// The log's lines after the banner and the OpenPipe line. The Windows error in a
// "setLastAssistantError" line is whatever the failing call left; it is replaced by "*".
std::vector<std::string> bodyOf(const TendrilCopy& tendril) {
    const std::string log = tendril.log();
    const std::string head =
        expectedLogHead(launch::LauncherPipe::nameFor(tendril.fileName()), true);
    if (log.compare(0, head.size(), head) != 0) return {"<log head differs>", log};
    std::vector<std::string> lines = linesOf(log.substr(head.size()));
    const std::regex errorLine("^(setLastAssistantError: error = -?[0-9]+, lastError = )-?[0-9]+$");
    for (std::string& line : lines) line = std::regex_replace(line, errorLine, "$1*");
    return lines;
}

// The WM_ASSISTANT_STATUS messages as (wParam, lParam), in order.
std::vector<Result> statusOf(const RunResult& run) {
    std::vector<Result> status;
    for (const ReceivedMessage& m : messagesOf(run.messages, WM_ASSISTANT_STATUS))
        status.emplace_back(static_cast<std::int32_t>(m.wParam),
                            static_cast<std::int32_t>(m.lParam));
    return status;
}

// Waits up to timeoutMs for a file to appear.
bool appears(const std::wstring& path, DWORD timeoutMs) {
    for (DWORD waited = 0; !exists(path); waited += 20) {
        if (waited >= timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

// "<package>.started", which the stand-in writes, shows that it ran as the system folder's
// installer (its own path names that file, however it reads) and was given the package alone.
::testing::AssertionResult ranAsInstaller(const std::wstring& started,
                                          const std::wstring& installer,
                                          const std::wstring& package) {
    const std::string text = readFile(started);
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd == std::string::npos)
        return ::testing::AssertionFailure() << "\"" << text << "\" names no program and argument";
    const std::string program = text.substr(0, lineEnd);
    if (!sameFile(std::wstring(program.begin(), program.end()), installer))
        return ::testing::AssertionFailure() << program << " ran, not " << narrow(installer);
    if (text.substr(lineEnd + 1) != narrow(package))
        return ::testing::AssertionFailure()
               << "it was given \"" << text.substr(lineEnd + 1) << "\"";
    return ::testing::AssertionSuccess();
}

class RuntimeUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(installer.ok()) << "cannot put the stand-in in place of wusa.exe";
    }

    // Each run gets its own copy of Tendril, so its package, its markers and its log are its own.
    struct Run {
        TendrilCopy tendril;
        std::wstring package = tendril.folder() / L"KB2999226.msu";
        std::wstring started = package + L".started";
        std::wstring done = package + L".done";
        RunResult result;
    };

    // Runs command 2 with the package given (none when contents is empty); fails unless Tendril
    // ended within the limit and sent a result.
    ::testing::AssertionResult run(Run& r, const std::string& contents,
                                   RunOptions options = RunOptions()) {
        if (!contents.empty() && !writeFile(r.package, contents))
            return ::testing::AssertionFailure() << "cannot write the package";
        options.tendrilPath = r.tendril.path();
        options.timeoutMs = kRunLimitMs;
        Request request;
        request.command = InstallRuntimeUpdate;
        r.result = launch::runCommand(options, request);
        if (!r.result.exited)
            return ::testing::AssertionFailure()
                   << "Tendril did not end: " << describe(r.result.messages);
        if (!r.result.result)
            return ::testing::AssertionFailure() << "no result: " << describe(r.result.messages);
        return ::testing::AssertionSuccess();
    }

    StandInUpdateInstaller installer{buildPath(E2E_UPDATE_PACKAGE_EXE)};
};

TEST_F(RuntimeUpdate, TheLauncherSendsOnlyTheCommandCode) {
    Request request;
    request.command = InstallRuntimeUpdate;
    Request::setText(request.record.installFolder, L"C:\\ignored");
    request.entries.push_back(Request::entry(L"name", L"path", true));
    const std::int32_t code = InstallRuntimeUpdate;
    EXPECT_EQ(request.serialize(), std::string(reinterpret_cast<const char*>(&code), sizeof code));
}

// Every run below writes the code alone and keeps the pipe open until Tendril exits: one that
// waited for a record would never get there, and the run would end at kRunLimitMs unfinished.
TEST_F(RuntimeUpdate, TheExitCodeIsLoggedAndThePackageDeleted) {
    struct Case {
        const char* contents;
        std::int32_t error;
        const char* exitLine;
    } cases[] = {
        {"exit=0\r\nsleep=300\r\n", NoError, "Process exit code: 0"},
        {"exit=3\r\nsleep=300\r\n", UpdateExitCodeNonZero, "Process exit code: 3"},
        // Above INT_MAX, as an installer that crashed reports: logged unsigned.
        {"exit=3221225477\r\n", UpdateExitCodeNonZero, "Process exit code: 3221225477"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitLine);
        Run r;
        ASSERT_TRUE(run(r, c.contents));
        EXPECT_EQ(*r.result.result, Result(InstallRuntimeUpdate, c.error));

        // Progress 0 and 100 from the dispatcher around the handler; 5 before the wait unless
        // the throttle dropped it; the result last.
        std::vector<Result> status = statusOf(r.result);
        std::erase(status, Result(STATUS_PROGRESS, 5));
        EXPECT_EQ(status, (std::vector<Result>{{STATUS_PROGRESS, 0},
                                               {STATUS_PROGRESS, 100},
                                               {InstallRuntimeUpdate, c.error}}))
            << describe(r.result.messages);

        std::vector<std::string> expected = {
            "Installing KB: " + narrow(r.package), "ShellExecuteEx succeeded",
            "Waiting for process to complete", "Process completed", c.exitLine};
        if (c.error != NoError)
            expected.push_back("setLastAssistantError: error = 17, lastError = *");
        expected.push_back("Pipe closed");
        EXPECT_EQ(joined(bodyOf(r.tendril)), joined(expected));

        // The system folder's installer was given exactly the package, ran to its end, and the
        // package went after it.
        EXPECT_TRUE(ranAsInstaller(r.started, installer.path(), r.package));
        EXPECT_TRUE(exists(r.done));
        EXPECT_FALSE(exists(r.package));
    }
}

TEST_F(RuntimeUpdate, NoPackageIsUpdateLaunchFailed) {
    Run r;
    ASSERT_TRUE(run(r, ""));
    EXPECT_EQ(*r.result.result, Result(InstallRuntimeUpdate, UpdateLaunchFailed));
    EXPECT_EQ(statusOf(r.result), (std::vector<Result>{{STATUS_PROGRESS, 0},
                                                       {STATUS_PROGRESS, 100},
                                                       {InstallRuntimeUpdate, UpdateLaunchFailed}}))
        << describe(r.result.messages);
    EXPECT_EQ(joined(bodyOf(r.tendril)),
              joined({"Installing KB: " + narrow(r.package), "ShellExecuteEx failed",
                      "setLastAssistantError: error = 15, lastError = *", "Pipe closed"}));
    EXPECT_FALSE(exists(r.started)) << "nothing was started";
}

// The cancel is written in the same write as the code, so it is in the pipe before Tendril reads
// the code. The watch thread starts before the handler and finds it at once, while the handler
// still has a whole process start (ShellExecuteExW) ahead of its one look at the flag. Should the
// watch thread ever lose that race, the test fails on the log ("Waiting for process to
// complete"), it never passes by luck: the update runs for seconds, and a Tendril that waited
// would delete the package.
TEST_F(RuntimeUpdate, ACancelBeforeTheWaitLeavesTheUpdateRunningAndThePackage) {
    Run r;
    RunOptions options;
    const std::int32_t codes[] = {InstallRuntimeUpdate, Cancel};
    options.rawRequest = std::string(reinterpret_cast<const char*>(codes), sizeof codes);
    ASSERT_TRUE(run(r, "exit=3\r\nsleep=5000\r\n", options));
    const bool updateStillRunning = !exists(r.done);

    // Success: the update was started, and its exit code is never seen.
    EXPECT_EQ(*r.result.result, Result(InstallRuntimeUpdate, NoError));
    EXPECT_EQ(statusOf(r.result),
              (std::vector<Result>{
                  {STATUS_PROGRESS, 0}, {STATUS_PROGRESS, 100}, {InstallRuntimeUpdate, NoError}}))
        << describe(r.result.messages);
    EXPECT_EQ(joined(bodyOf(r.tendril)), joined({"Installing KB: " + narrow(r.package),
                                                 "ShellExecuteEx succeeded", "Pipe closed"}));
    EXPECT_TRUE(appears(r.started, 20000)) << "the update was not started";
    EXPECT_TRUE(ranAsInstaller(r.started, installer.path(), r.package));
    EXPECT_TRUE(updateStillRunning) << "Tendril ended before the update did";
    EXPECT_TRUE(exists(r.package));

    // The update goes on to its end on its own; nobody deletes the package afterwards.
    EXPECT_TRUE(appears(r.done, 20000));
    ::Sleep(200);
    EXPECT_TRUE(exists(r.package));
}

// A program registered for ".msu" is never what runs: not one the user registered for themselves
// (HKCU\Software\Classes, which Windows shows that user first, and which any unelevated program
// of theirs can write), nor the machine's. Wine 8 shows only HKLM\Software\Classes as HKCR (the
// user's classes are not merged in, probed), so here the machine-wide registration is the one a
// shell look-up would follow; both name a program of their own.
TEST_F(RuntimeUpdate, NoFileAssociationIsFollowed) {
    ScratchFolder elsewhere(L"redirect");
    const std::wstring redirected = elsewhere / L"redirected.exe";
    ASSERT_TRUE(::CopyFileW(buildPath(E2E_UPDATE_PACKAGE_EXE).c_str(), redirected.c_str(), FALSE));
    MsuAssociation user(HKEY_CURRENT_USER, redirected);
    MsuAssociation machine(HKEY_LOCAL_MACHINE, redirected);
    ASSERT_TRUE(user.ok() && machine.ok()) << "cannot register .msu";

    Run r;
    ASSERT_TRUE(run(r, "exit=0\r\n"));
    EXPECT_EQ(*r.result.result, Result(InstallRuntimeUpdate, NoError));
    EXPECT_TRUE(ranAsInstaller(r.started, installer.path(), r.package));
}

// Wine's own wusa.exe, as Tendril finds it in the system folder: given a file that is not an
// update package, it ends with exit code 1 (probed), which Tendril reports as error 17, deleting
// the package as after every update that ran to its end.
TEST(RuntimeUpdateWithTheSystemsInstaller, AFileThatIsNoPackageEndsWithItsExitCode) {
    SystemFolderLock asItIs;
    ASSERT_TRUE(asItIs.held());
    TendrilCopy tendril;
    const std::wstring package = tendril.folder() / L"KB2999226.msu";
    ASSERT_TRUE(writeFile(package, "not an update package"));
    RunOptions options;
    options.tendrilPath = tendril.path();
    options.timeoutMs = kRunLimitMs;
    Request request;
    request.command = InstallRuntimeUpdate;
    const RunResult result = launch::runCommand(options, request);
    ASSERT_TRUE(result.exited && result.result) << describe(result.messages);
    EXPECT_EQ(*result.result, Result(InstallRuntimeUpdate, UpdateExitCodeNonZero));
    EXPECT_EQ(
        joined(bodyOf(tendril)),
        joined({"Installing KB: " + narrow(package), "ShellExecuteEx succeeded",
                "Waiting for process to complete", "Process completed", "Process exit code: 1",
                "setLastAssistantError: error = 17, lastError = *", "Pipe closed"}));
    EXPECT_FALSE(exists(package));
}

}  // namespace
}  // namespace tendril::test
