#include "commands/process_termination.h"

#include "common/unique_handle.h"
#include "filetree/anchored_folder.h"
#include "filetree/protected_locations.h"
#include "launcher_link/launcher_user.h"

#include <psapi.h>
#include <windows.h>

#include <cwchar>

namespace tendril {

namespace {
constexpr DWORD kMaxProcessIds = 1024;
// The limited query right is enough for the image path and is granted where the full one is not
// (a process of another session, a protected one); SYNCHRONIZE lets the wait after a refused
// termination actually wait instead of failing at once.
constexpr DWORD kOpenAccess = PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE;
constexpr DWORD kRefusalWaitMs = 1000;

// The full Win32 path of the process's executable into buffer (MAX_PATH units). Asked of the
// process object rather than read from its module list: the shipped 32-bit build cannot list the
// modules of a 64-bit process (ERROR_PARTIAL_COPY), and would skip a 64-bit client that is
// running from the very folder it is about to delete. A path that does not fit is not taken.
bool imagePath(HANDLE process, wchar_t (&buffer)[MAX_PATH]) {
    DWORD size = MAX_PATH;
    if (!::QueryFullProcessImageNameW(process, 0, buffer, &size) || size >= MAX_PATH) return false;
    buffer[size] = L'\0';
    return true;
}
}  // namespace

bool terminateProcessesByPath(const std::wstring& path) {
    if (refuseProtectedExecutable(path)) return false;
    // Only programs of a folder the launcher's user could change himself are ended for him: not
    // another product's, elevated or of another user, which that user could not end.
    const std::size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return true;  // no full path: no running image matches
    // A folder that does not exist runs nothing, and a path in no plain form matches no image
    // path (those are full and plain): nothing to end.
    Anchor folder = anchorFolder(path.substr(0, slash), GuardUse::ProgramFolder);
    if (folder.refusal == AnchorRefusal::NotAFolder ||
        folder.refusal == AnchorRefusal::NotAPlainPath ||
        folder.refusal == AnchorRefusal::DevicePath || (!folder.refused() && !folder.exists()))
        return true;
    logRefusal(folder, path.substr(0, slash));
    if (folder.refused() || refuseUnlessLaunchersOwn(folder, path.substr(0, slash))) return false;
    DWORD ids[kMaxProcessIds] = {};
    DWORD bytesReturned = 0;
    if (!::K32EnumProcesses(ids, sizeof ids, &bytesReturned)) return false;

    const DWORD ownId = ::GetCurrentProcessId();
    const DWORD count = bytesReturned / sizeof(DWORD);
    for (DWORD i = 0; i < count && i < kMaxProcessIds; ++i) {
        wchar_t image[MAX_PATH] = L"<unknown>";
        UniqueHandle process(::OpenProcess(kOpenAccess, FALSE, ids[i]));
        if (!process || !imagePath(process.get(), image)) continue;
        if (_wcsicmp(path.c_str(), image) != 0 || ids[i] == 0 || ids[i] == ownId) continue;
        if (!::TerminateProcess(process.get(), 0)) {
            ::WaitForSingleObject(process.get(), kRefusalWaitMs);
            return false;
        }
    }
    return true;
}

}  // namespace tendril
