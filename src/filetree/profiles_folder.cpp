#include "filetree/profiles_folder.h"

#include "common/growing_buffer.h"
#include "common/system_library.h"

#include <cwchar>

namespace tendril {

namespace {

using GetProfilesDirectoryProc = BOOL(WINAPI*)(LPWSTR, LPDWORD);
using GetUserProfileDirectoryProc = BOOL(WINAPI*)(HANDLE, LPWSTR, LPDWORD);

struct ProfileService {
    GetProfilesDirectoryProc profilesDirectory = nullptr;
    GetUserProfileDirectoryProc userProfileDirectory = nullptr;
};

template <typename Proc>
Proc find(HMODULE module, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Bound once, on the first call from any thread; never freed.
const ProfileService& profileService() {
    static const ProfileService bound = [] {
        ProfileService service;
        const HMODULE module = loadSystemLibrary(L"userenv.dll");
        if (module == nullptr) return service;
        service.profilesDirectory = find<GetProfilesDirectoryProc>(module, "GetProfilesDirectoryW");
        service.userProfileDirectory =
            find<GetUserProfileDirectoryProc>(module, "GetUserProfileDirectoryW");
        return service;
    }();
    return bound;
}

// Both calls take the buffer's size in characters and, when it is too small, fail with
// ERROR_INSUFFICIENT_BUFFER and put the size they need into it.
template <typename Call>
std::wstring askForFolder(Call call) {
    return callWithGrowingBuffer([&](wchar_t* buffer, DWORD n) -> DWORD {
        DWORD size = n;
        if (call(buffer, &size)) return static_cast<DWORD>(::wcsnlen(buffer, n));
        return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > n ? size : 0;
    });
}

}  // namespace

std::wstring profilesFolder() {
    const auto call = profileService().profilesDirectory;
    if (call == nullptr) return {};
    return askForFolder([&](wchar_t* buffer, DWORD* size) { return call(buffer, size); });
}

std::wstring userProfileFolder(HANDLE token) {
    const auto call = profileService().userProfileDirectory;
    if (call == nullptr) return {};
    return askForFolder([&](wchar_t* buffer, DWORD* size) { return call(token, buffer, size); });
}

}  // namespace tendril
