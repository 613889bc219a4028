// The console side of tendril-launch in-process: what each control event does to the run, and
// where the output style is decided. The Ctrl-C of a real run is in tool_run_test.cpp.
#include "console.h"
#include "reporter.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

namespace tendril::tool {
namespace {

bool isSet(HANDLE event) { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// Ctrl-C and Ctrl-Break cancel and let the process go on; a closed console and a shut-down
// cancel and hold the handler (Windows ends the process when it returns) until the run is over;
// a log-off, which reaches only services, is not ours. The notice comes once.
TEST(ConsoleControl, EachEventCancelsOrNotAndHoldsWhereWindowsWouldEndTheProcess) {
    const struct {
        DWORD event;
        BOOL handled;
        bool cancels;
        bool holdsUntilTheRunEnds;
        std::string notice;
    } cases[] = {
        {CTRL_C_EVENT, TRUE, true, false, "Ctrl-C"},
        {CTRL_BREAK_EVENT, TRUE, true, false, "Ctrl-Break"},
        {CTRL_CLOSE_EVENT, TRUE, true, true, "the console was closed"},
        {CTRL_SHUTDOWN_EVENT, TRUE, true, true, "the system shuts down"},
        {CTRL_LOGOFF_EVENT, FALSE, false, false, ""},
    };
    for (const auto& c : cases) {
        ConsoleControl control;
        ASSERT_NE(control.cancelEvent(), nullptr);
        std::string notices;
        control.onCancel([&](const char* event) { notices += std::string(event) + ";"; });
        auto handled = std::async(std::launch::async, [&] { return control.handle(c.event); });
        if (c.holdsUntilTheRunEnds) {
            EXPECT_EQ(handled.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
                << c.notice << ": returned before the run was over";
            EXPECT_TRUE(isSet(control.cancelEvent())) << c.notice << ": Cancel not asked for yet";
            control.runEnded();
        }
        ASSERT_EQ(handled.wait_for(std::chrono::seconds(10)), std::future_status::ready)
            << c.notice;
        EXPECT_EQ(handled.get(), c.handled) << c.event;
        EXPECT_EQ(isSet(control.cancelEvent()), c.cancels) << c.event;
        // A second event cancels nothing more and tells nothing more.
        if (c.cancels && !c.holdsUntilTheRunEnds) {
            EXPECT_EQ(control.handle(c.event), TRUE);
        }
        EXPECT_EQ(notices, c.notice.empty() ? "" : c.notice + ";") << c.event;
    }
}

TEST(ConsoleControl, NoNoticeOnceTheRunHasEnded) {
    ConsoleControl control;
    bool told = false;
    control.onCancel([&](const char*) { told = true; });
    control.runEnded();
    EXPECT_EQ(control.handle(CTRL_C_EVENT), TRUE);
    EXPECT_FALSE(told);
}

// A file, a pipe (what a test process's redirected output is under Wine) and the null device get
// plain lines; --json wins everywhere.
TEST(OutputStyle, RedirectedOutputGetsLinesAndJsonWinsEverywhere) {
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
    const launch::Handle pipeRead(read), pipeWrite(write);
    wchar_t folder[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, folder), 0u);
    wchar_t name[MAX_PATH];
    ASSERT_NE(::GetTempFileNameW(folder, L"tls", 0, name), 0u);
    const launch::Handle file(::CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(file);
    const launch::Handle nul(
        ::CreateFileW(L"NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(nul);
    const struct {
        const char* what;
        HANDLE handle;
    } cases[] = {{"pipe", pipeWrite.get()},
                 {"file", file.get()},
                 {"null device", nul.get()},
                 {"no handle", nullptr}};
    for (const auto& c : cases) {
        EXPECT_FALSE(isConsole(c.handle)) << c.what;
        EXPECT_EQ(outputStyleFor(false, c.handle), OutputStyle::Lines) << c.what;
        EXPECT_EQ(outputStyleFor(true, c.handle), OutputStyle::Json) << c.what;
    }
}

TEST(OutputStyle, AConsoleGetsTheProgressBar) {
    const launch::Handle console(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    DWORD mode = 0;
    if (!console || !::GetConsoleMode(console.get(), &mode))
        GTEST_SKIP() << "no console screen buffer: Wine 8 without a display gives none to a test "
                        "process, even after AllocConsole or to a child made with "
                        "CREATE_NEW_CONSOLE (GetConsoleMode fails on CONOUT$)";
    EXPECT_EQ(outputStyleFor(false, console.get()), OutputStyle::ProgressBar);
    EXPECT_EQ(outputStyleFor(true, console.get()), OutputStyle::Json);
}

}  // namespace
}  // namespace tendril::tool
