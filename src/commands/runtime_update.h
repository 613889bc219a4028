// Command 2: the system runtime update that the launcher places beside our executable. The
// package is given to the system folder's update installer (wusa.exe), waited for and then
// deleted.
#pragma once

#include <windows.h>

#include <string>

namespace tendril {

// File name of the update package; it lies in the folder of our own executable.
extern const wchar_t kRuntimeUpdatePackageName[];
// File name of the program that installs it, in the system folder (GetSystemDirectoryW).
extern const wchar_t kUpdateInstallerName[];

// How long the update may run before we stop waiting for it: 10 minutes.
constexpr DWORD kRuntimeUpdateWaitMs = 600000;

// The package path for an executable path: everything before the last backslash, then
// "\KB2999226.msu". A path whose last backslash is its first character, or that has none, gives
// "\KB2999226.msu".
std::wstring runtimeUpdatePackagePath(const std::wstring& executablePath);

// Installs the package beside our executable: logs "Installing KB: <path>", starts
// "<system folder>\wusa.exe" "<package>" and, unless the launcher has cancelled, waits up to
// kRuntimeUpdateWaitMs for it, logs its exit code and deletes the package. True when the
// package was started (whether or not it was waited for, whatever its exit code); false with
// error 15 when it is missing or cannot be started (or our own path cannot be read whole), false
// with error 16 when the wait times out or fails (the package stays). An exit code other than 0
// raises error 17.
bool installRuntimeUpdate();

// The body of installRuntimeUpdate for a given package path and wait limit, after the
// "Installing KB: <path>" line. A path that names no file (an empty one too) is refused with
// error 15 without starting anything.
bool runRuntimeUpdatePackage(const std::wstring& packagePath, DWORD waitMs);

}  // namespace tendril
