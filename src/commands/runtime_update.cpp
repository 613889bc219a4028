#include "commands/runtime_update.h"

#include "common/growing_buffer.h"
#include "common/unique_handle.h"
#include "launcher_link/cancel.h"
#include "launcher_link/error_store.h"
#include "launcher_link/progress.h"
#include "log/format.h"
#include "log/log.h"

#include <tendril/protocol.h>

namespace tendril {

const wchar_t kRuntimeUpdatePackageName[] = L"KB2999226.msu";
const wchar_t kUpdateInstallerName[] = L"wusa.exe";

namespace {

// The update's process handle is kept until we exit, not closed when the operation returns.
// After a cancel we return without waiting and the update goes on by itself; holding the handle
// keeps its process object, its exit code and its id (which Windows cannot give to another
// process while a handle is open) valid for the rest of our run. Closing it would never stop the
// update. It lives at namespace scope, deliberately, so that no way out of the operation closes
// it; process exit does.
UniqueHandle runtimeUpdateProcess;

constexpr int kWaitProgress = 5;

// Our own executable's full path; empty when it cannot be read or does not fit in MAX_PATH. A
// path cut at the buffer's end would name another folder, whose "KB2999226.msu" we would then
// run and delete as administrator.
std::wstring ownExecutablePath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(path, length);
}

bool isFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Starts "<system folder>\wusa.exe" "<package>" with its window shown, in the system folder;
// the process handle, or nothing. A file association is never asked: the user's own
// HKCU\Software\Classes can name any program for ".msu", which we would then run elevated.
// The program is named by its full path both as the module and in the command line, so no
// search decides what runs. The package path is quoted whole: a Windows file name holds no
// quote, and the path ends in the package's name, so no backslash stands before the closing
// quote. A missing package is not started: the installer would only fail on it, and the
// launcher is told UpdateLaunchFailed for that, as it always was.
UniqueHandle startUpdateInstaller(const std::wstring& packagePath) {
    if (packagePath.find(L'"') != std::wstring::npos || !isFile(packagePath)) return {};
    const std::wstring system = callWithGrowingBuffer(
        [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
    if (system.empty()) return {};
    const std::wstring program = system + L"\\" + kUpdateInstallerName;
    std::wstring commandLine = L"\"" + program + L"\" \"" + packagePath + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          system.c_str(), &startup, &started))
        return {};
    const UniqueHandle thread(started.hThread);
    return UniqueHandle(started.hProcess);
}

}  // namespace

std::wstring runtimeUpdatePackagePath(const std::wstring& executablePath) {
    const std::size_t slash = executablePath.rfind(L'\\');
    const std::wstring folder = slash != std::wstring::npos && slash >= 1
                                    ? executablePath.substr(0, slash)
                                    : std::wstring();
    return folder + L"\\" + kRuntimeUpdatePackageName;
}

bool runRuntimeUpdatePackage(const std::wstring& packagePath, DWORD waitMs) {
    // The log lines keep the names they have always had: launchers and their support read them.
    UniqueHandle process = startUpdateInstaller(packagePath);
    if (!process) {
        logText(L"ShellExecuteEx failed", true);
        setLastAssistantError(UpdateLaunchFailed);
        return false;
    }
    runtimeUpdateProcess = std::move(process);
    logText(L"ShellExecuteEx succeeded", true);

    // The launcher asked us to stop: the update keeps running on its own and its package stays.
    if (cancelRequested.load()) return true;

    notifyProgress(kWaitProgress);
    logText(L"Waiting for process to complete", true);
    if (::WaitForSingleObject(runtimeUpdateProcess.get(), waitMs) != WAIT_OBJECT_0) {
        logText(L"Failed to wait process to complete", true);
        setLastAssistantError(UpdateWaitFailed);
        return false;
    }
    logText(L"Process completed", true);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(runtimeUpdateProcess.get(), &exitCode);
    wchar_t line[kLineBufferChars];
    formatTruncated(line, L"Process exit code: %u", static_cast<unsigned>(exitCode));
    logText(line, true);
    if (exitCode != 0) setLastAssistantError(UpdateExitCodeNonZero);
    // By path, deliberately: the package lies beside our own executable, in a folder that only
    // administrators may write (the guide requires it), so no unelevated user can put a link on
    // the way to it. Our own folder is also one of the protected locations no request may name.
    ::DeleteFileW(packagePath.c_str());
    return true;
}

bool installRuntimeUpdate() {
    logText(L"Installing KB: ", false);
    const std::wstring executablePath = ownExecutablePath();
    const std::wstring packagePath =
        executablePath.empty() ? std::wstring() : runtimeUpdatePackagePath(executablePath);
    logText(packagePath.c_str(), true);
    return runRuntimeUpdatePackage(packagePath, kRuntimeUpdateWaitMs);
}

}  // namespace tendril
