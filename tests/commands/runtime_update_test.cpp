// The runtime update's package path and the ways out that an end-to-end run cannot reach in
// reasonable time: a wait that runs out (the real limit is 10 minutes) and paths that name no
// package.
#include "commands/runtime_update.h"

#include "launcher_link/link_fixture.h"
#include "support/system_programs.h"

#include <tendril/protocol.h>

#include <gtest/gtest.h>

namespace tendril {
namespace {

TEST(RuntimeUpdatePackagePath, IsTheExecutablesFolderAndThePackageName) {
    const struct {
        const wchar_t* executable;
        const wchar_t* package;
    } cases[] = {
        {L"C:\\Tools\\tendril.exe", L"C:\\Tools\\KB2999226.msu"},
        {L"C:\\tendril.exe", L"C:\\KB2999226.msu"},
        {L"\\\\server\\share\\a b\\tendril.exe", L"\\\\server\\share\\a b\\KB2999226.msu"},
        // No folder before the last backslash, or no backslash at all: the folder is empty.
        {L"\\tendril.exe", L"\\KB2999226.msu"},
        {L"tendril.exe", L"\\KB2999226.msu"},
        {L"", L"\\KB2999226.msu"},
    };
    for (const auto& c : cases) EXPECT_EQ(runtimeUpdatePackagePath(c.executable), c.package);
}

// The system folder's wusa.exe is our stand-in installer while these run.
class RuntimeUpdatePackage : public test::LinkStateTest {
protected:
    void SetUp() override {
        test::LinkStateTest::SetUp();
        ASSERT_TRUE(installer.ok()) << "cannot put the stand-in in place of wusa.exe";
    }
    test::StandInUpdateInstaller installer{test::buildPath(E2E_UPDATE_PACKAGE_EXE)};
};

TEST_F(RuntimeUpdatePackage, AWaitThatRunsOutIsUpdateWaitFailedAndKeepsThePackage) {
    test::ScratchFolder folder(L"update");
    const std::wstring package = folder / L"KB2999226.msu";
    ASSERT_TRUE(test::writeFile(package, "exit=0\r\nsleep=3000\r\n"));
    test::ScratchTheLog log;
    ASSERT_TRUE(log.opened());

    EXPECT_FALSE(runRuntimeUpdatePackage(package, 300));
    EXPECT_EQ(lastAssistantError, UpdateWaitFailed);
    const std::string bytes = log.bytes();
    const std::string expected =
        "ShellExecuteEx succeeded\r\nWaiting for process to complete\r\n"
        "Failed to wait process to complete\r\nsetLastAssistantError: error = 16, lastError = ";
    EXPECT_EQ(bytes.substr(0, expected.size()), expected);
    EXPECT_EQ(bytes.find("Process completed"), std::string::npos) << bytes;
    EXPECT_TRUE(test::exists(package));
    EXPECT_EQ(recorder.messages(),
              (std::vector<test::RecordedMessage>{{WM_ASSISTANT_STATUS, STATUS_PROGRESS, 5}}));

    // Let the update end before its folder goes.
    for (int i = 0; i < 500 && !test::exists(package + L".done"); ++i) ::Sleep(20);
    EXPECT_TRUE(test::exists(package + L".done"));
}

// The installer would start on any of these and only fail on it: the launcher is told the
// package could not be started, and nothing runs.
TEST_F(RuntimeUpdatePackage, APathThatNamesNoPackageStartsNothing) {
    test::ScratchFolder folder(L"update");
    ASSERT_TRUE(::CreateDirectoryW((folder / L"folder.msu").c_str(), nullptr));
    const std::wstring paths[] = {L"", folder / L"KB2999226.msu", folder / L"folder.msu"};
    for (const std::wstring& path : paths) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        lastAssistantError = NoError;
        recorder.clear();
        test::ScratchTheLog log;
        ASSERT_TRUE(log.opened());
        EXPECT_FALSE(runRuntimeUpdatePackage(path, 300));
        EXPECT_EQ(lastAssistantError, UpdateLaunchFailed);
        const std::string expected = "ShellExecuteEx failed\r\nsetLastAssistantError: error = 15, ";
        EXPECT_EQ(log.bytes().substr(0, expected.size()), expected);
        EXPECT_TRUE(recorder.messages().empty());
        EXPECT_FALSE(test::exists(path + L".started")) << "the installer was started";
    }
}

}  // namespace
}  // namespace tendril
