// The protocol from start-up to the closing steps, driven as a launcher drives it.
#include "e2e_support.h"

#include <gtest/gtest.h>
#include <tendril_launcher/testing.h>

#include <cstdio>
#include <cstring>
#include <regex>

namespace tendril::test {
namespace {

using launch::ReceivedMessage;
using launch::Request;
// Some runs here play a misbehaving launcher: the test knobs.
using RunOptions = launch::TestRunOptions;
using launch::RunResult;

constexpr const char* kBannerLine =
    "=============================== tendril started ================================\r\n";

RunOptions optionsFor(const TendrilCopy& tendril) {
    RunOptions options;
    options.tendrilPath = tendril.path();
    options.timeoutMs = 60000;
    return options;
}

std::string pipeNameOf(const TendrilCopy& tendril) {
    return narrow(launch::LauncherPipe::nameFor(tendril.fileName()));
}

// Tendril gave up on the pipe: exactly one message, (error, 11), and an OpenPipe line that ends
// in "fail" with no "Pipe closed" after it (an early end).
void expectConnectFailure(const TendrilCopy& tendril, launch::MessageWindow& window,
                          DWORD error) {
    window.drain();
    const auto messages = window.messages();
    ASSERT_EQ(messages.size(), 1u) << describe(messages);
    EXPECT_EQ(messages[0].message, WM_ASSISTANT_CONNECTED);
    EXPECT_EQ(messages[0].wParam, error);
    EXPECT_EQ(messages[0].lParam, PipeOpenFailed);
    EXPECT_EQ(tendril.log(),
              std::string(kBannerLine) + "OpenPipe '" + pipeNameOf(tendril) + "' - fail\r\n");
}

TEST(Startup, WrongArgumentCountSendsNothingAndWritesNoLog) {
    for (const wchar_t* parameters : {L"", L"12 34", L"\"1\" \"2\" \"3\""}) {
        TendrilCopy tendril;
        RunOptions options = optionsFor(tendril);
        options.parameters = parameters;
        options.method = launch::StartMethod::CreateProcess;
        options.timeoutMs = 20000;
        // What is checked here is what Tendril does once started. A start that failed before
        // Tendril ran (seen once, on the first start of a run, on a CI machine, with no error
        // printed) is retried, and every failed attempt is printed with its error.
        RunResult run;
        for (int attempt = 0; attempt < 3 && !run.started; ++attempt) {
            if (attempt > 0) ::Sleep(200);
            run = launch::runCommand(options, Request{});
            if (!run.pipeCreated)
                std::printf("CreateNamedPipeW failed: %lu\n", run.pipeError);
            else if (!run.started)
                std::printf("CreateProcessW failed: %lu\n", run.startError);
        }
        ASSERT_TRUE(run.pipeCreated) << "CreateNamedPipeW failed: " << run.pipeError;
        ASSERT_TRUE(run.started) << "CreateProcessW failed: " << run.startError;
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(run.messages.empty()) << describe(run.messages);
        EXPECT_FALSE(tendril.logExists());
    }
}

TEST(Startup, NotAnAdministratorGetsExactly2326AndNoLog) {
    TendrilCopy tendril;
    RunOptions options = optionsFor(tendril);
    options.method = launch::StartMethod::RestrictedToken;
    const RunResult run = launch::runCommand(options, Request{});
    ASSERT_TRUE(run.started) << "CreateProcessAsUserW failed: " << run.startError;
    EXPECT_TRUE(run.exited);
    ASSERT_EQ(run.messages.size(), 1u) << describe(run.messages);
    EXPECT_EQ(run.messages[0].message, WM_ASSISTANT_NOT_ELEVATED);
    EXPECT_EQ(run.messages[0].wParam, 0);
    EXPECT_EQ(run.messages[0].lParam, 0);
    EXPECT_FALSE(tendril.logExists());
}

TEST(Handshake, ConnectedMessageCarriesTendrilsProcessIdAndTheLogIsExact) {
    TendrilCopy tendril;
    // A log left from an earlier run must be truncated, not appended to.
    ASSERT_TRUE(writeFile(tendril.logPath(), std::string(5000, 'x')));
    Request request;
    request.command = NoOperation;
    const RunResult run = launch::runCommand(optionsFor(tendril), request);
    ASSERT_TRUE(run.connected) << describe(run.messages);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.messages.size(), 1u) << describe(run.messages);
    EXPECT_EQ(run.messages[0].message, WM_ASSISTANT_CONNECTED);
    EXPECT_EQ(run.messages[0].lParam, 0);
    EXPECT_NE(run.tendrilProcessId, 0u);
    EXPECT_NE(run.tendrilProcessId, ::GetCurrentProcessId());
    // The log: UTF-8 without a byte-order mark, CRLF line ends, nothing else.
    EXPECT_EQ(tendril.log(),
              std::string(kBannerLine) + "OpenPipe '" + pipeNameOf(tendril) + "' - ok\r\n" +
                  "Pipe closed\r\n");
}

// The pipe name comes from the executable's file name, which may hold any letter: the log
// writes it as UTF-8 and the launcher's pipe of the same name is found.
TEST(Handshake, ANonAsciiExecutableNameIsServedAndLoggedAsUtf8) {
    TendrilCopy tendril(L"tendr\u00eel-\u00e9t\u00e9.exe");
    Request request;
    request.command = NoOperation;
    const RunResult run = launch::runCommand(optionsFor(tendril), request);
    ASSERT_TRUE(run.connected) << describe(run.messages);
    EXPECT_EQ(tendril.log(), std::string(kBannerLine) +
                                 "OpenPipe '\\\\.\\pipe\\launcher_tendr\xc3\xael-\xc3\xa9t\xc3\xa9.exe' - ok\r\n"
                                 "Pipe closed\r\n");
}

TEST(Handshake, TheConnectedProcessIdIsTheProcessThatWasStarted) {
    TendrilCopy tendril;
    launch::MessageWindow window;
    launch::LauncherPipe pipe = launch::LauncherPipe::create(tendril.fileName());
    ASSERT_TRUE(pipe.valid()) << pipe.error();
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    ASSERT_TRUE(process) << ::GetLastError();
    const auto hello = window.waitFor(
        [](const ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; }, 30000);
    ASSERT_TRUE(hello.has_value());
    EXPECT_EQ(hello->wParam, static_cast<std::int64_t>(::GetProcessId(process.get())));
    EXPECT_EQ(hello->lParam, 0);
    ASSERT_TRUE(pipe.waitForClient(10000));
    const std::int32_t command = Cancel;
    Request request;
    request.command = command;
    const std::string bytes = request.serialize();
    ASSERT_TRUE(pipe.write(bytes.data(), bytes.size()));
    EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
}

TEST(Handshake, MissingPipeIsReportedWithItsErrorAnd11) {
    TendrilCopy tendril;
    launch::MessageWindow window;
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    ASSERT_TRUE(process);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    expectConnectFailure(tendril, window, ERROR_FILE_NOT_FOUND);
}

TEST(Handshake, PipeServedByAnotherProcessIsRefused) {
    TendrilCopy tendril;
    // The pipe belongs to a helper process; our window is the one Tendril is given.
    launch::Handle server = launch::startTendril(buildPath(E2E_PIPE_SERVER_EXE),
                                                 tendril.fileName() + L" 30",
                                                 launch::StartMethod::CreateProcess);
    ASSERT_TRUE(server);
    const std::wstring name = launch::LauncherPipe::nameFor(tendril.fileName());
    bool served = false;
    for (int i = 0; i < 100 && !served; ++i) {
        served = ::WaitNamedPipeW(name.c_str(), 0) || ::GetLastError() == ERROR_SEM_TIMEOUT;
        if (!served) ::Sleep(50);
    }
    ASSERT_TRUE(served) << "the helper did not create the pipe";

    launch::MessageWindow window;
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    ASSERT_TRUE(process);
    EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    ::TerminateProcess(server.get(), 0);
    expectConnectFailure(tendril, window, ERROR_ACCESS_DENIED);
}

TEST(Handshake, AWindowOfNoProcessIsRefused) {
    TendrilCopy tendril;
    launch::LauncherPipe pipe = launch::LauncherPipe::create(tendril.fileName());
    ASSERT_TRUE(pipe.valid());
    // 0 names no window at all: the messages go nowhere, but the log tells what happened.
    launch::Handle process =
        launch::startTendril(tendril.path(), L"0", launch::StartMethod::RunAs);
    ASSERT_TRUE(process);
    EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(tendril.log(),
              std::string(kBannerLine) + "OpenPipe '" + pipeNameOf(tendril) + "' - fail\r\n");
}

// A pipe whose only instance is taken by another client: Tendril waits, and connects once the
// instance is free again.
TEST(Handshake, BusyPipeIsWaitedForAndThenOpened) {
    TendrilCopy tendril;
    launch::MessageWindow window;
    launch::LauncherPipe pipe = launch::LauncherPipe::create(tendril.fileName());
    ASSERT_TRUE(pipe.valid());
    launch::Handle decoy(::CreateFileW(pipe.name().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(decoy);
    ASSERT_TRUE(pipe.waitForClient(1000));
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    ASSERT_TRUE(process);
    ::Sleep(1500);  // Tendril has met the busy pipe and waits for it
    EXPECT_TRUE(window.messages().empty()) << describe(window.messages());
    // Free the instance: drop the decoy and listen again.
    decoy.reset();
    pipe.disconnectClient();
    ASSERT_TRUE(pipe.waitForClient(15000));
    const auto hello = window.waitFor(
        [](const ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; }, 15000);
    ASSERT_TRUE(hello.has_value());
    EXPECT_EQ(hello->lParam, 0);
    Request request;
    request.command = NoOperation;
    const std::string bytes = request.serialize();
    ASSERT_TRUE(pipe.write(bytes.data(), bytes.size()));
    EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    EXPECT_NE(tendril.log().find("' - ok\r\n"), std::string::npos) << tendril.log();
}

// A pipe that stays busy: the 10-second wait fails and Tendril gives up after one wait.
TEST(Handshake, BusyPipeWhoseWaitTimesOutFails) {
    TendrilCopy tendril;
    launch::MessageWindow window;
    launch::LauncherPipe pipe = launch::LauncherPipe::create(tendril.fileName());
    ASSERT_TRUE(pipe.valid());
    launch::Handle decoy(::CreateFileW(pipe.name().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(decoy);
    const ULONGLONG start = ::GetTickCount64();
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    ASSERT_TRUE(process);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 40000), WAIT_OBJECT_0);
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    expectConnectFailure(tendril, window, ERROR_SEM_TIMEOUT);  // WaitNamedPipeW's time-out
    EXPECT_GE(elapsed, 10000u);
    EXPECT_LT(elapsed, 20000u) << "one wait, not five";
}

struct BadRequestCase {
    const char* what;
    std::string bytes;
    std::int32_t expectedWParam;
    std::int32_t expectedError;
    bool logsError;  // the command read failures are stored (and logged), record failures not
};

std::string commandBytes(std::int32_t command) {
    return std::string(reinterpret_cast<const char*>(&command), sizeof command);
}

std::string recordBytes(std::int32_t command, std::int32_t entryCount, std::size_t entries,
                        std::size_t cutAt = std::string::npos) {
    Request request;
    request.command = command;
    for (std::size_t i = 0; i < entries; ++i)
        request.entries.push_back(Request::entry(L"n", L"p", true));
    std::string bytes = request.serialize();
    std::memcpy(&bytes[4 + offsetof(AssistantRequest, entryCount)], &entryCount, 4);
    return bytes.substr(0, cutAt);
}

TEST(Request, UnreadableRequestsAreRefusedAndNoHandlerRuns) {
    const std::vector<BadRequestCase> cases = {
        {"command 0", commandBytes(0), 0, BadCommand, true},
        {"command 10", commandBytes(10), 10, BadCommand, true},
        {"command -1", commandBytes(-1), -1, BadCommand, true},
        {"command cut short", std::string("\x07\x00", 2), 7, PipeReadFailed, true},
        {"record cut short", recordBytes(TerminateProcesses, 0, 0, 4 + 3000), 7, PipeReadFailed,
         false},
        {"entries cut short", recordBytes(ApplyShortcuts, 3, 2), 5, PipeReadFailed, false},
        {"negative entry count", recordBytes(ApplyShortcuts, -1, 0), 5, PipeReadFailed, false},
        {"entry count too large", recordBytes(ApplyShortcuts, kMaxEntryCount + 1, 0), 5,
         PipeReadFailed, false},
        {"entry count at the limit, no entries", recordBytes(NoOperation, kMaxEntryCount, 0), 6,
         PipeReadFailed, false},
    };
    for (const BadRequestCase& c : cases) {
        SCOPED_TRACE(c.what);
        TendrilCopy tendril;
        RunOptions options = optionsFor(tendril);
        options.rawRequest = c.bytes;
        options.closeAfterRequest = true;
        Request request;
        request.command = c.expectedWParam;
        const RunResult run = launch::runCommand(options, request);
        ASSERT_TRUE(run.connected) << describe(run.messages);
        EXPECT_TRUE(run.exited);
        const auto status = messagesOf(run.messages, WM_ASSISTANT_STATUS);
        ASSERT_EQ(status.size(), 1u) << describe(run.messages);
        EXPECT_EQ(status[0].wParam, c.expectedWParam);
        EXPECT_EQ(status[0].lParam, c.expectedError);
        const std::string log = tendril.log();
        const std::string head = std::string(kBannerLine) + "OpenPipe '" + pipeNameOf(tendril) +
                                 "' - ok\r\n";
        if (c.logsError) {
            const std::regex line("setLastAssistantError: error = " +
                                  std::to_string(c.expectedError) + ", lastError = -?[0-9]+\r\n");
            ASSERT_EQ(log.substr(0, head.size()), head);
            EXPECT_TRUE(std::regex_match(log.substr(head.size()), line)) << log;
        } else {
            EXPECT_EQ(log, head) << "no log line and no \"Pipe closed\" on an early end";
        }
    }
}

TEST(Dispatch, NoOperationAndCancelSendNoResultAndCloseThePipe) {
    for (std::int32_t command : {NoOperation, Cancel}) {
        SCOPED_TRACE(command);
        TendrilCopy tendril;
        Request request;
        request.command = command;
        request.entries.push_back(Request::entry(L"a", L"b", true));
        const RunResult run = launch::runCommand(optionsFor(tendril), request);
        ASSERT_TRUE(run.connected);
        EXPECT_TRUE(run.exited);
        EXPECT_TRUE(messagesOf(run.messages, WM_ASSISTANT_STATUS).empty())
            << describe(run.messages);
        const std::string log = tendril.log();
        ASSERT_GE(log.size(), 13u);
        EXPECT_EQ(log.substr(log.size() - 13), "Pipe closed\r\n");
    }
}

TEST(Dispatch, TheDispatcherWrapsAHandlerInItsProgressAndTheResult) {
    // Progress before and after as the dispatcher sends it, then (command, 0): an empty shortcut
    // request does nothing of its own.
    struct Case {
        std::int32_t command;
        std::vector<std::int64_t> progress;
    };
    // InstallRuntimeUpdate has its handler now: runtime_update_test.cpp checks its 0 and 100.
    for (const Case& c : std::vector<Case>{{ApplyShortcuts, {50, 100}}}) {
        SCOPED_TRACE(c.command);
        TendrilCopy tendril;
        Request request;
        request.command = c.command;
        const RunResult run = launch::runCommand(optionsFor(tendril), request);
        ASSERT_TRUE(run.connected);
        const auto status = messagesOf(run.messages, WM_ASSISTANT_STATUS);
        ASSERT_EQ(status.size(), c.progress.size() + 1) << describe(run.messages);
        for (std::size_t i = 0; i < c.progress.size(); ++i) {
            EXPECT_EQ(status[i].wParam, STATUS_PROGRESS);
            EXPECT_EQ(status[i].lParam, c.progress[i]);
        }
        EXPECT_EQ(status.back().wParam, c.command);
        EXPECT_EQ(status.back().lParam, 0);
    }
}

// The launcher keeps its end open after the result: Tendril must still end at once.
TEST(Dispatch, TendrilExitsWhileTheLauncherKeepsThePipeOpen) {
    TendrilCopy tendril;
    launch::MessageWindow window;
    launch::LauncherPipe pipe = launch::LauncherPipe::create(tendril.fileName());
    launch::Handle process = launch::startTendril(
        tendril.path(), launch::windowArgument(window.handle()), launch::StartMethod::RunAs);
    ASSERT_TRUE(process);
    ASSERT_TRUE(window
                    .waitFor([](const ReceivedMessage& m) { return m.message == WM_ASSISTANT_CONNECTED; },
                             30000)
                    .has_value());
    ASSERT_TRUE(pipe.waitForClient(10000));
    Request request;
    request.command = TerminateProcesses;
    const std::string bytes = request.serialize();
    ASSERT_TRUE(pipe.write(bytes.data(), bytes.size()));
    EXPECT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(tendril.log().substr(tendril.log().size() - 13), "Pipe closed\r\n");
}

}  // namespace
}  // namespace tendril::test
