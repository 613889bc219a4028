// tendril-launch.exe run as people and scripts run it: its version, and a Ctrl-C in the middle of
// an uninstall, with its output redirected to files.
#include "support/test_support.h"

#include <common/unique_handle.h>
#include <tendril_launcher/launcher.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace tendril::test {
namespace {

constexpr wchar_t kUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The C runtime writes a text stream's line ends as CR LF; what is left of CR after taking those
// back is a progress bar redrawn in place.
std::string lines(const std::string& written) {
    std::string text;
    for (std::size_t i = 0; i < written.size(); ++i)
        if (!(written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n'))
            text += written[i];
    return text;
}

// tendril-launch.exe started with its standard output and error in files of a scratch folder.
class ToolRun {
public:
    explicit ToolRun(const std::vector<std::wstring>& arguments) {
        std::wstring commandLine = L"\"" + buildPath(TENDRIL_LAUNCH_EXE) + L"\"";
        for (const std::wstring& argument : arguments) commandLine += L" \"" + argument + L"\"";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        auto output = [&](const std::wstring& path) {
            return UniqueFile(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        const UniqueFile out = output(outPath());
        const UniqueFile err = output(errPath());
        if (!out || !err) {
            ADD_FAILURE() << "cannot create the output files: " << ::GetLastError();
            return;
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              nullptr, &startup, &info)) {
            ADD_FAILURE() << "cannot start tendril-launch.exe: " << ::GetLastError();
            return;
        }
        ::CloseHandle(info.hThread);
        process_ = launch::Handle(info.hProcess);
    }
    ~ToolRun() {
        // A test that failed half-way must not leave the tool (and Tendril) behind.
        if (process_ && ::WaitForSingleObject(process_.get(), 60000) != WAIT_OBJECT_0)
            ::TerminateProcess(process_.get(), 1);
    }

    bool started() const { return static_cast<bool>(process_); }
    // The exit status, or -1 while it still runs after timeoutMs.
    long wait(DWORD timeoutMs) {
        if (!process_ || ::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        ::GetExitCodeProcess(process_.get(), &code);
        return static_cast<long>(code);
    }
    // Standard output and error, line ends as "\n".
    std::string out() const { return lines(readFile(outPath())); }
    std::string err() const { return lines(readFile(errPath())); }

private:
    std::wstring outPath() const { return folder_ / L"out.txt"; }
    std::wstring errPath() const { return folder_ / L"err.txt"; }

    ScratchFolder folder_{L"tool"};
    launch::Handle process_;
};

// The value of a StringFileInfo entry and the fixed version numbers of a program's resource.
struct VersionResource {
    bool found = false;
    std::wstring fileVersion, productVersion;
    DWORD fixedMs = 0, fixedLs = 0, productMs = 0, productLs = 0;
};

VersionResource versionOf(const std::wstring& path) {
    VersionResource version;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return version;
    std::vector<char> data(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return version;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof *fixed)
        return version;
    version.found = true;
    version.fixedMs = fixed->dwFileVersionMS;
    version.fixedLs = fixed->dwFileVersionLS;
    version.productMs = fixed->dwProductVersionMS;
    version.productLs = fixed->dwProductVersionLS;
    auto text = [&](const wchar_t* name) {
        wchar_t* value = nullptr;
        UINT units = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        return ::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value),
                                &units) && value
                   ? std::wstring(value)
                   : std::wstring(L"<none>");
    };
    version.fileVersion = text(L"FileVersion");
    version.productVersion = text(L"ProductVersion");
    return version;
}

// --version and both programs' version resources give the project's version (CMake's).
TEST(ToolRun, VersionOptionAndVersionResourcesGiveTheProjectVersion) {
    ToolRun run({L"--version"});
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.wait(30000), 0);
    EXPECT_EQ(run.out(), "tendril-launch " TENDRIL_PROJECT_VERSION "\n");
    EXPECT_EQ(run.err(), "");

    const DWORD ms = (TENDRIL_PROJECT_VERSION_MAJOR << 16) | TENDRIL_PROJECT_VERSION_MINOR;
    const DWORD ls = TENDRIL_PROJECT_VERSION_PATCH << 16;
    for (const char* program : {TENDRIL_EXE, TENDRIL_LAUNCH_EXE}) {
        const VersionResource version = versionOf(buildPath(program));
        ASSERT_TRUE(version.found) << program;
        EXPECT_EQ(version.fileVersion, wide(TENDRIL_PROJECT_VERSION)) << program;
        EXPECT_EQ(version.productVersion, wide(TENDRIL_PROJECT_VERSION)) << program;
        EXPECT_EQ(version.fixedMs, ms) << program;
        EXPECT_EQ(version.fixedLs, ls) << program;
        EXPECT_EQ(version.productMs, ms) << program;
        EXPECT_EQ(version.productLs, ls) << program;
    }
}

// The test process's own console, on which Ctrl-C reaches every process attached to it. Under
// Wine 8 a process whose output is redirected has no console of its own (GenerateConsoleCtrlEvent
// fails), and Ctrl-Break cannot be sent to a process group (error 6); Ctrl-C sent to group 0
// after FreeConsole and AllocConsole is delivered (probed). This process ignores it in a handler
// of its own, which, unlike the ignore flag, children do not inherit. The console stays attached
// afterwards: under Wine a second FreeConsole loses everything the process writes after it.
class OwnConsole {
public:
    OwnConsole() {
        for (DWORD which : kStandard) saved_.push_back(::GetStdHandle(which));
        ::FreeConsole();
        allocated_ = ::AllocConsole() != FALSE;
        // The C runtime and GoogleTest keep writing where they wrote before.
        for (std::size_t i = 0; i < saved_.size(); ++i) ::SetStdHandle(kStandard[i], saved_[i]);
        handling_ = allocated_ && ::SetConsoleCtrlHandler(ignore, TRUE);
    }
    ~OwnConsole() {
        if (handling_) ::SetConsoleCtrlHandler(ignore, FALSE);
    }
    OwnConsole(const OwnConsole&) = delete;
    OwnConsole& operator=(const OwnConsole&) = delete;
    bool ready() const { return handling_; }

private:
    static BOOL WINAPI ignore(DWORD) { return TRUE; }
    static constexpr DWORD kStandard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    std::vector<HANDLE> saved_;
    bool allocated_ = false;
    bool handling_ = false;
};

std::wstring slotValue(const std::wstring& regPath) {
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    const LSTATUS status = ::RegGetValueW(HKEY_LOCAL_MACHINE, (regPath + L"\\Install").c_str(),
                                          L"Directory", RRF_RT_REG_SZ, nullptr, value, &size);
    return status == ERROR_SUCCESS ? std::wstring(value) : L"<none>";
}

bool keyExists(const std::wstring& path) {
    UniqueKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

// A "progress: N%" line with N from 1 to 99: the walks' own steps.
bool walkProgressShown(const std::string& out) {
    const std::string tag = "progress: ";
    for (std::size_t at = out.find(tag); at != std::string::npos; at = out.find(tag, at + 1)) {
        const int percent = std::atoi(out.c_str() + at + tag.size());
        if (percent >= 1 && percent <= 99) return true;
    }
    return false;
}

// Ctrl-C while tendril-launch uninstalls a big installation: the run is cancelled (Cancel
// written), the uninstall stops where it is and keeps the record and the Uninstall entry, and the
// tool shows Tendril's result and exits with 108. Files held open without delete sharing make the
// delete walk take seconds (six tries of each), so the Ctrl-C arrives while Tendril works.
TEST(ToolRun, CtrlCDuringAnUninstallStopsItAndShowsItsResult) {
    ScratchFolder bin(L"toolbin");
    const std::wstring tendril = bin / L"tendril.exe";
    ASSERT_TRUE(::CopyFileW(buildPath(TENDRIL_EXE).c_str(), tendril.c_str(), FALSE));
    ScratchFolder installation(L"toolinst");
    std::vector<launch::Handle> held;
    for (int f = 0; f < 8; ++f) {
        const std::wstring folder = installation / (L"d" + std::to_wstring(f));
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(writeFile(folder + L"\\f" + std::to_wstring(i) + L".bin", "x"));
        for (int i = 0; i < 3; ++i) {
            const std::wstring locked = folder + L"\\locked" + std::to_wstring(i) + L".bin";
            ASSERT_TRUE(writeFile(locked, "x"));
            held.emplace_back(::CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held.back());
        }
    }
    ASSERT_TRUE(writeFile(installation / L"client.exe", "x"));

    ScratchRegistryKey client;
    const std::wstring longName = uniqueName(L"Tool Client");
    const std::wstring uninstallEntry = kUninstallRoot + longName + L" 0";
    struct EntryCleanup {
        std::wstring path;
        ~EntryCleanup() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str()); }
    } entryCleanup{uninstallEntry};

    launch::Request refresh;
    refresh.command = RefreshRegistration;
    ASSERT_TRUE(launch::Request::setText(refresh.record.installFolder, installation.path()));
    ASSERT_TRUE(launch::Request::setText(refresh.record.regPath, client.path()));
    ASSERT_TRUE(launch::Request::setText(refresh.record.longName, longName));
    ASSERT_TRUE(launch::Request::setText(refresh.record.exeName, L"client.exe"));
    launch::RunOptions options;
    options.tendrilPath = tendril;
    const launch::RunResult registered = launch::runCommand(options, refresh);
    ASSERT_TRUE(registered.result.has_value())
        << "pipe " << registered.pipeCreated << " (error " << registered.pipeError << "), started "
        << registered.started << " (error " << registered.startError << "), connected "
        << registered.connected << ", exited " << registered.exited << " with "
        << registered.exitCode << ", " << registered.messages.size() << " messages";
    ASSERT_EQ(registered.result->second, 0);
    ASSERT_EQ(slotValue(client.path()), installation.path());
    ASSERT_TRUE(keyExists(uninstallEntry));

    // The console the Ctrl-C travels through, taken once the registration (set-up, not under test)
    // is done.
    OwnConsole console;
    ASSERT_TRUE(console.ready()) << "no console for Ctrl-C: " << ::GetLastError();
    ToolRun run({L"uninstall", L"--tendril", tendril, L"--install-folder", installation.path(),
                 L"--reg-path", client.path(), L"--long-name", longName, L"--exe-name",
                 L"client.exe", L"--argument", installation / L"client.exe", L"--grace",
                 L"60000", L"--timeout", L"120000"});
    ASSERT_TRUE(run.started());
    // Once Tendril reports a step of the walks (1 to 99 percent), it is working on the tree.
    bool working = false;
    for (int i = 0; i < 6000 && !working && run.wait(0) == -1; ++i) {
        working = walkProgressShown(run.out());
        if (!working) ::Sleep(10);
    }
    ASSERT_TRUE(working) << "no progress from the walks:\n" << run.out() << run.err();
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << ::GetLastError();
    const long status = run.wait(90000);
    held.clear();
    const std::string out = run.out();
    const std::string err = run.err();

    EXPECT_EQ(status, 108) << out << err;
    EXPECT_NE(err.find("tendril-launch: Ctrl-C: asking Tendril to stop (Cancel) and waiting up to "
                       "60000 ms for its result\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("result: cancelled (Ctrl-C, Ctrl-Break or a closed console): Cancel "
                       "written; command 3 (UninstallClient) -> 0 NoError -> exit status 108\n"),
              std::string::npos)
        << err;
    // Redirected output: one line per progress message, no bar redrawn with carriage returns.
    EXPECT_EQ(out.find('\r'), std::string::npos) << out;
    EXPECT_EQ(out.find("progress: 100%"), std::string::npos) << out;
    EXPECT_NE(out.find("Tendril ended: exit code 0\n"), std::string::npos) << out;
    // Stopped: an uninstall that ran on would have removed the record and the entry.
    EXPECT_EQ(slotValue(client.path()), installation.path());
    EXPECT_TRUE(keyExists(uninstallEntry));
}

}  // namespace
}  // namespace tendril::test
