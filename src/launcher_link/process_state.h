// What lives for the whole run: the launcher's window, the pipe, the request and its entries.
// Filled once on the main thread before any command runs, then read by every command.
#pragma once

#include <tendril/protocol.h>

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tendril {

// Target of every window message; parsed from the command line.
extern HWND launcherWindow;
// Client end of the launcher pipe; INVALID_HANDLE_VALUE whenever the pipe is not open.
extern HANDLE pipeHandle;
// The full pipe name while the launcher is served; empty once the pipe is closed.
extern std::wstring pipeName;
// The request as read from the pipe; zero-filled until then (and for InstallRuntimeUpdate).
extern AssistantRequest assistantRequest;
// The entries that followed the request.
extern std::vector<RequestEntry> entryList;
// Copy of the request's exeName, made before dispatch; the tree delete spares files of this name.
extern std::wstring exeNameCopy;
// File name of an installation's application list.
extern const std::wstring applistFileName;

// A text field of the wire records, read up to its NUL or to the end of the field, whichever
// comes first: the launcher is trusted to terminate fields, but we never read past one.
template <std::size_t N>
std::wstring fieldText(const wchar_t (&field)[N]) {
    std::size_t length = 0;
    while (length < N && field[length] != L'\0') ++length;
    return std::wstring(field, length);
}

}  // namespace tendril
