// TerminateProcesses: every running copy of an executable is ended, never Tendril itself.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

namespace tendril::test {
namespace {

using launch::Request;
using launch::RunOptions;
using launch::RunResult;

std::wstring upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return text;
}

RunResult terminate(const TendrilCopy& tendril, const std::wstring& path) {
    Request request;
    request.command = TerminateProcesses;
    Request::setText(request.record.argument, path);
    RunOptions options;
    options.tendrilPath = tendril.path();
    options.timeoutMs = 60000;
    return launch::runCommand(options, request);
}

TEST(TerminateProcesses, EndsEveryCopyWhateverTheLetterCase) {
    TendrilCopy tendril;
    const std::wstring sleeper = tendril.folder() / L"Sleeper.exe";
    ASSERT_TRUE(::CopyFileW(buildPath(E2E_SLEEPER_EXE).c_str(), sleeper.c_str(), FALSE));
    launch::Handle first = launch::startTendril(sleeper, L"", launch::StartMethod::CreateProcess);
    launch::Handle second = launch::startTendril(sleeper, L"", launch::StartMethod::CreateProcess);
    ASSERT_TRUE(first && second);
    ::Sleep(500);  // let both map their executable
    ASSERT_EQ(::WaitForSingleObject(first.get(), 0), WAIT_TIMEOUT);

    const RunResult run = terminate(tendril, upper(sleeper));
    ASSERT_TRUE(run.exited);
    ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
    EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(TerminateProcesses), 0));
    EXPECT_EQ(::WaitForSingleObject(first.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(second.get(), 5000), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeProcess(first.get(), &code);
    EXPECT_EQ(code, 0u) << "ended by TerminateProcess with exit code 0, not by itself";
}

TEST(TerminateProcesses, PathsThatMatchNothingSucceed) {
    TendrilCopy tendril;
    const std::wstring sleeper = tendril.folder() / L"sleeper.exe";
    ASSERT_TRUE(::CopyFileW(buildPath(E2E_SLEEPER_EXE).c_str(), sleeper.c_str(), FALSE));
    launch::Handle running = launch::startTendril(sleeper, L"", launch::StartMethod::CreateProcess);
    ASSERT_TRUE(running);
    ::Sleep(300);
    // A missing program, the folder holding the running one, and a prefix of its path.
    for (const std::wstring& path :
         {tendril.folder() / L"missing.exe", tendril.folder().path(), sleeper.substr(0, sleeper.size() - 4)}) {
        SCOPED_TRACE(narrow(path));
        const RunResult run = terminate(tendril, path);
        ASSERT_TRUE(run.result.has_value()) << describe(run.messages);
        EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(TerminateProcesses), 0));
    }
    EXPECT_EQ(::WaitForSingleObject(running.get(), 0), WAIT_TIMEOUT) << "nothing matched it";
    ::TerminateProcess(running.get(), 1);
}

TEST(TerminateProcesses, TendrilNeverEndsItself) {
    TendrilCopy tendril;
    const RunResult run = terminate(tendril, upper(tendril.path()));
    ASSERT_TRUE(run.exited);
    ASSERT_TRUE(run.result.has_value()) << "Tendril ended itself: " << describe(run.messages);
    EXPECT_EQ(*run.result, std::make_pair(static_cast<std::int32_t>(TerminateProcesses), 0));
    const std::string log = tendril.log();
    EXPECT_EQ(log.substr(log.size() - 13), "Pipe closed\r\n");
}

}  // namespace
}  // namespace tendril::test
