// A library that unelevated code could place beside tendril.exe under the name of one that
// Tendril uses. Loaded into a process, it leaves "<its own path>.loaded" beside itself, so a test
// can see that it was loaded (and its code run). It exports what tendril.exe once imported from
// userenv.dll, failing, so that a Tendril that still imported it would start and run with it.
#include <windows.h>

namespace {

void markLoaded(HINSTANCE self) {
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    ::lstrcatW(path, L".loaded");
    const HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) markLoaded(self);
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI GetProfilesDirectoryW(LPWSTR, LPDWORD) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI GetUserProfileDirectoryW(HANDLE, LPWSTR, LPDWORD) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
