// What people and scripts see of each message.
#include "message_format.h"
#include "reporter.h"

#include <gtest/gtest.h>

namespace tendril::tool {
namespace {

using launch::ReceivedMessage;

ReceivedMessage msg(UINT message, std::int64_t wParam, std::int64_t lParam, double atMs = 0) {
    ReceivedMessage m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.atMs = atMs;
    return m;
}

TEST(MessageFormat, JsonLinesAreExact) {
    const struct {
        ReceivedMessage message;
        std::int32_t command;
        std::string json;
    } cases[] = {
        {msg(WM_ASSISTANT_STATUS, 6, 50, 12.5), 7,
         R"({"t_ms":12.5,"message":"WM_ASSISTANT_STATUS","id":2325,"wParam":6,"lParam":50,"kind":"progress"})"},
        {msg(WM_ASSISTANT_CONNECTED, 4242, 0, 3.04), 7,
         R"({"t_ms":3.0,"message":"WM_ASSISTANT_CONNECTED","id":2324,"wParam":4242,"lParam":0,"kind":"connected","pid":4242})"},
        {msg(WM_ASSISTANT_CONNECTED, 2, 11, 100.26), 7,
         R"({"t_ms":100.3,"message":"WM_ASSISTANT_CONNECTED","id":2324,"wParam":2,"lParam":11,"kind":"pipe-open-failed","windows_error":2,"error":"PipeOpenFailed"})"},
        {msg(WM_ASSISTANT_NOT_ELEVATED, 0, 0, 7), 7,
         R"({"t_ms":7.0,"message":"WM_ASSISTANT_NOT_ELEVATED","id":2326,"wParam":0,"lParam":0,"kind":"not-elevated"})"},
        {msg(WM_ASSISTANT_STATUS, 7, 14, 80), 7,
         R"({"t_ms":80.0,"message":"WM_ASSISTANT_STATUS","id":2325,"wParam":7,"lParam":14,"kind":"result","command":"TerminateProcesses","error":"TerminateFailed"})"},
        // For command 6, wParam 6 with lParam 12 is the failed read, not 12 percent.
        {msg(WM_ASSISTANT_STATUS, 6, 12, 1), 6,
         R"({"t_ms":1.0,"message":"WM_ASSISTANT_STATUS","id":2325,"wParam":6,"lParam":12,"kind":"result","command":"NoOperation","error":"PipeReadFailed"})"},
        {msg(WM_ASSISTANT_STATUS, 6, 12, 1), 4,
         R"({"t_ms":1.0,"message":"WM_ASSISTANT_STATUS","id":2325,"wParam":6,"lParam":12,"kind":"progress"})"},
        {msg(WM_ASSISTANT_STATUS, 5, 0, 1), 4,
         R"({"t_ms":1.0,"message":"WM_ASSISTANT_STATUS","id":2325,"wParam":5,"lParam":0,"kind":"unexpected"})"},
        {msg(WM_ASSISTANT_STATUS, 4, 3, 1), 4,
         R"({"t_ms":1.0,"message":"WM_ASSISTANT_STATUS","id":2325,"wParam":4,"lParam":3,"kind":"result","command":"GrantUsersAccess","error":null})"},
    };
    for (const auto& c : cases) EXPECT_EQ(jsonLine(c.message, c.command), c.json);
}

TEST(MessageFormat, FinalJsonObject) {
    launch::RunResult run;
    run.pipeCreated = run.started = run.connected = run.requestWritten = run.exited = true;
    run.tendrilProcessId = 4242;
    Outcome outcome;
    outcome.exitStatus = 0;
    outcome.result = std::pair<std::int32_t, std::int32_t>(7, 0);
    outcome.summary = "command 7 (TerminateProcesses) -> 0 NoError";
    EXPECT_EQ(
        jsonFinal(run, outcome, 7),
        R"({"result":{"command":7,"name":"TerminateProcesses","code":0,"error":"NoError"},)"
        R"("command":7,"exit_status":0,"summary":"command 7 (TerminateProcesses) -> 0 NoError",)"
        R"("tendril_pid":4242,"tendril_exit_code":0})");

    launch::RunResult silent;
    silent.pipeCreated = silent.started = true;
    Outcome none;
    none.exitStatus = 107;
    none.summary = "still \"running\"";
    EXPECT_EQ(jsonFinal(silent, none, 3),
              R"({"result":null,"command":3,"exit_status":107,"summary":"still \"running\"",)"
              R"("tendril_pid":null,"tendril_exit_code":null})");
}

TEST(MessageFormat, ProgressBar) {
    EXPECT_EQ(progressBar(0), "[....................]    0%");
    EXPECT_EQ(progressBar(4), "[....................]    4%");
    EXPECT_EQ(progressBar(5), "[#...................]    5%");
    EXPECT_EQ(progressBar(50), "[##########..........]   50%");
    EXPECT_EQ(progressBar(99), "[###################.]   99%");
    EXPECT_EQ(progressBar(100), "[####################]  100%");
    EXPECT_EQ(progressBar(-3), "[....................]    0%");
    EXPECT_EQ(progressBar(250), "[####################]  100%");
}

TEST(Reporter, TextRedrawsTheBarInPlaceAndEndsItBeforeTheNextLine) {
    std::string shown;
    Reporter reporter([&](std::string_view text) { shown += text; }, false, 4);
    reporter.line("starting");
    reporter.message(msg(WM_ASSISTANT_CONNECTED, 4242, 0));
    reporter.message(msg(WM_ASSISTANT_STATUS, 6, 0));
    reporter.message(msg(WM_ASSISTANT_STATUS, 6, 50));
    reporter.message(msg(WM_ASSISTANT_STATUS, 4, 0));  // the result: named by the final line
    reporter.message(msg(WM_ASSISTANT_STATUS, 9, 1));
    Outcome outcome;
    outcome.summary = "command 4 (GrantUsersAccess) -> 0 NoError";
    reporter.finish(launch::RunResult{}, outcome);
    EXPECT_EQ(shown,
              "starting\n"
              "connected: Tendril pid 4242\n"
              "\r[....................]    0%"
              "\r[##########..........]   50%\n"
              "unexpected WM_ASSISTANT_STATUS: wParam 9, lParam 1\n"
              "result: command 4 (GrantUsersAccess) -> 0 NoError\n");
}

TEST(Reporter, JsonShowsOnlyMessagesAndTheFinalObject) {
    std::string shown;
    Reporter reporter([&](std::string_view text) { shown += text; }, true, 6);
    reporter.line("starting");
    reporter.message(msg(WM_ASSISTANT_CONNECTED, 17, 0, 2));
    launch::RunResult run;
    run.pipeCreated = run.started = run.connected = run.requestWritten = run.exited = true;
    run.tendrilProcessId = 17;
    Outcome outcome;
    outcome.summary = "s";
    reporter.finish(run, outcome);
    EXPECT_EQ(
        shown,
        R"({"t_ms":2.0,"message":"WM_ASSISTANT_CONNECTED","id":2324,"wParam":17,"lParam":0,"kind":"connected","pid":17})"
        "\n"
        R"({"result":null,"command":6,"exit_status":0,"summary":"s","tendril_pid":17,"tendril_exit_code":0})"
        "\n");
}

}  // namespace
}  // namespace tendril::tool
