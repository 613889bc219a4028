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
         R"({"type":"message","t_ms":12.5,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":6,"l_param":50,"kind":"progress","percent":50})"},
        {msg(WM_ASSISTANT_CONNECTED, 4242, 0, 3.04), 7,
         R"({"type":"message","t_ms":3.0,"message":"WM_ASSISTANT_CONNECTED","id":2324,"w_param":4242,"l_param":0,"kind":"connected","pid":4242})"},
        {msg(WM_ASSISTANT_CONNECTED, 2, 11, 100.26), 7,
         R"({"type":"message","t_ms":100.3,"message":"WM_ASSISTANT_CONNECTED","id":2324,"w_param":2,"l_param":11,"kind":"pipe_open_failed","windows_error":2,"error_code":11,"error":"PipeOpenFailed"})"},
        {msg(WM_ASSISTANT_NOT_ELEVATED, 0, 0, 7), 7,
         R"({"type":"message","t_ms":7.0,"message":"WM_ASSISTANT_NOT_ELEVATED","id":2326,"w_param":0,"l_param":0,"kind":"not_elevated"})"},
        {msg(WM_ASSISTANT_STATUS, 7, 14, 80), 7,
         R"({"type":"message","t_ms":80.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":7,"l_param":14,"kind":"result","command":7,"command_name":"TerminateProcesses","error_code":14,"error":"TerminateFailed"})"},
        // For command 6, wParam 6 with lParam 12 is the failed read, not 12 percent.
        {msg(WM_ASSISTANT_STATUS, 6, 12, 1), 6,
         R"({"type":"message","t_ms":1.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":6,"l_param":12,"kind":"result","command":6,"command_name":"NoOperation","error_code":12,"error":"PipeReadFailed"})"},
        {msg(WM_ASSISTANT_STATUS, 6, 12, 1), 4,
         R"({"type":"message","t_ms":1.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":6,"l_param":12,"kind":"progress","percent":12})"},
        {msg(WM_ASSISTANT_STATUS, 5, 0, 1), 4,
         R"({"type":"message","t_ms":1.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":5,"l_param":0,"kind":"unexpected"})"},
        {msg(WM_ASSISTANT_STATUS, 4, 3, 1), 4,
         R"({"type":"message","t_ms":1.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":4,"l_param":3,"kind":"result","command":4,"command_name":"GrantUsersAccess","error_code":3,"error":null})"},
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
    EXPECT_EQ(jsonFinal(run, outcome, 7),
              R"({"type":"end","command":7,"command_name":"TerminateProcesses",)"
              R"("result_command":7,"result_code":0,"result_error":"NoError","cancelled":false,)"
              R"("timed_out":false,"exit_status":0,)"
              R"("summary":"command 7 (TerminateProcesses) -> 0 NoError","tendril_pid":4242,)"
              R"("tendril_exit_code":0,"schema_version":1})");

    launch::RunResult silent;
    silent.pipeCreated = silent.started = silent.requestWritten = true;
    silent.timedOut = true;
    Outcome none;
    none.exitStatus = 107;
    none.summary = "still \"running\"";
    EXPECT_EQ(jsonFinal(silent, none, 3),
              R"({"type":"end","command":3,"command_name":"UninstallClient",)"
              R"("result_command":null,"result_code":null,"result_error":null,)"
              R"("cancelled":false,"timed_out":true,"exit_status":107,)"
              R"("summary":"still \"running\"","tendril_pid":null,"tendril_exit_code":null,)"
              R"("schema_version":1})");
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
    Reporter reporter([&](std::string_view text) { shown += text; }, [](std::string_view text) { ADD_FAILURE() << "on standard error: " << text; },
                      OutputStyle::ProgressBar, 4);
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
    Reporter reporter([&](std::string_view text) { shown += text; }, [](std::string_view text) { ADD_FAILURE() << "on standard error: " << text; },
                      OutputStyle::Json, 6);
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
        R"({"type":"message","t_ms":2.0,"message":"WM_ASSISTANT_CONNECTED","id":2324,"w_param":17,"l_param":0,"kind":"connected","pid":17})"
        "\n"
        R"({"type":"end","command":6,"command_name":"NoOperation","result_command":null,"result_code":null,"result_error":null,"cancelled":false,"timed_out":false,"exit_status":0,"summary":"s","tendril_pid":17,"tendril_exit_code":0,"schema_version":1})"
        "\n");
}

// The same run shown into a file or pipe, and a failed one on a console and as JSON: where each
// piece goes.
TEST(Reporter, EachStyleShowsTheRunOnItsOwnStreams) {
    launch::RunResult run;
    run.pipeCreated = run.started = run.connected = run.requestWritten = run.exited = true;
    run.tendrilProcessId = 17;
    const struct {
        OutputStyle style;
        int exitStatus;
        std::string out;
        std::string err;
    } cases[] = {
        {OutputStyle::Lines, 0,
         "starting\n"
         "connected: Tendril pid 17\n"
         "progress: 0%\n"
         "progress: 50%\n"
         "unexpected WM_ASSISTANT_STATUS: wParam 9, lParam 1\n"
         "result: s\n",
         ""},
        // A failed run: its final line, and the cancel notice, go to standard error; the bar is
        // ended first, so that the notice does not land behind it on a console.
        {OutputStyle::ProgressBar, 108,
         "starting\n"
         "connected: Tendril pid 17\n"
         "\r[....................]    0%"
         "\r[##########..........]   50%\n"
         "unexpected WM_ASSISTANT_STATUS: wParam 9, lParam 1\n",
         "Ctrl-C\nresult: s\n"},
        {OutputStyle::Json, 108,
         R"({"type":"message","t_ms":2.0,"message":"WM_ASSISTANT_CONNECTED","id":2324,"w_param":17,"l_param":0,"kind":"connected","pid":17})"
         "\n"
         R"({"type":"message","t_ms":0.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":6,"l_param":0,"kind":"progress","percent":0})"
         "\n"
         R"({"type":"message","t_ms":0.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":6,"l_param":50,"kind":"progress","percent":50})"
         "\n"
         R"({"type":"message","t_ms":0.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":4,"l_param":0,"kind":"result","command":4,"command_name":"GrantUsersAccess","error_code":0,"error":"NoError"})"
         "\n"
         R"({"type":"message","t_ms":0.0,"message":"WM_ASSISTANT_STATUS","id":2325,"w_param":9,"l_param":1,"kind":"unexpected"})"
         "\n"
         R"({"type":"end","command":4,"command_name":"GrantUsersAccess","result_command":null,"result_code":null,"result_error":null,"cancelled":false,"timed_out":false,"exit_status":108,"summary":"s","tendril_pid":17,"tendril_exit_code":0,"schema_version":1})"
         "\n",
         "Ctrl-C\nresult: s\n"},
    };
    for (const auto& c : cases) {
        std::string out, err;
        Reporter reporter([&](std::string_view text) { out += text; },
                          [&](std::string_view text) { err += text; }, c.style, 4);
        reporter.line("starting");
        reporter.message(msg(WM_ASSISTANT_CONNECTED, 17, 0, 2));
        reporter.message(msg(WM_ASSISTANT_STATUS, 6, 0));
        reporter.message(msg(WM_ASSISTANT_STATUS, 6, 50));
        if (c.exitStatus != 0) reporter.notice("Ctrl-C");
        reporter.message(msg(WM_ASSISTANT_STATUS, 4, 0));  // the result: named by the final line
        reporter.message(msg(WM_ASSISTANT_STATUS, 9, 1));
        Outcome outcome;
        outcome.exitStatus = c.exitStatus;
        outcome.summary = "s";
        reporter.finish(run, outcome);
        EXPECT_EQ(out, c.out) << static_cast<int>(c.style) << " " << c.exitStatus;
        EXPECT_EQ(err, c.err) << static_cast<int>(c.style) << " " << c.exitStatus;
    }
}

}  // namespace
}  // namespace tendril::tool
