#include "filetree/protected_locations.h"

#include "common/ascii_case.h"
#include "common/growing_buffer.h"
#include "common/unique_handle.h"
#include "filetree/path_forms.h"
#include "filetree/profiles_folder.h"
#include "log/log.h"

#include <shlobj.h>
#include <windows.h>

#include <vector>

namespace tendril {

namespace {

// What a listed folder protects besides itself and its ancestors, which it always protects.
enum class Reach {
    Itself,  // only the folder: what lies inside is what it is for (Program Files)
    Inside,  // everything inside it too
    // Everything inside it, except, for a walk, what lies strictly inside a shortcut folder.
    InsideButShortcutGroups,
};

struct Location {
    std::wstring path;  // normalised, empty when its look-up failed
    Reach reach;
    bool holdsShortcuts;  // one of the six shell folders whose program groups we tidy up
};

enum class Source {
    Csidl,
    WindowsFolder,
    SystemWindowsFolder,
    Environment,
    ProfilesFolder,
    OwnProfileParent,
    OwnFolder
};

struct Row {
    Source source;
    int csidl;
    const wchar_t* name;  // environment variable, or a sub-folder of the CSIDL
    Reach reach;
    bool holdsShortcuts;
};

// clang-format off
constexpr Row kProtected[] = {
    {Source::WindowsFolder,       0,                             nullptr,             Reach::Inside,                  false},
    {Source::SystemWindowsFolder, 0,                             nullptr,             Reach::Inside,                  false},
    {Source::Csidl,               CSIDL_PROGRAM_FILES,           nullptr,             Reach::Itself,                  false},
    {Source::Csidl,               CSIDL_PROGRAM_FILESX86,        nullptr,             Reach::Itself,                  false},
    {Source::Csidl,               CSIDL_PROGRAM_FILES_COMMON,    nullptr,             Reach::Itself,                  false},
    {Source::Csidl,               CSIDL_PROGRAM_FILES_COMMONX86, nullptr,             Reach::Itself,                  false},
    // A 32-bit process on 64-bit Windows is told only of the 32-bit Program Files.
    {Source::Environment,         0,                             L"ProgramW6432",     Reach::Itself,                  false},
    {Source::Environment,         0,                             L"CommonProgramW6432", Reach::Itself,                false},
    {Source::Csidl,               CSIDL_COMMON_APPDATA,          nullptr,             Reach::Itself,                  false},
    {Source::Csidl,               CSIDL_COMMON_APPDATA,          L"Microsoft",        Reach::InsideButShortcutGroups, false},
    // Every profile lies inside it: one user must not have another's files deleted or opened up.
    {Source::ProfilesFolder,      0,                             nullptr,             Reach::InsideButShortcutGroups, false},
    // The same, should the profiles have been moved after ours was made.
    {Source::OwnProfileParent,    0,                             nullptr,             Reach::InsideButShortcutGroups, false},
    {Source::Csidl,               CSIDL_DESKTOP,                 nullptr,             Reach::InsideButShortcutGroups, true},
    {Source::Csidl,               CSIDL_PROGRAMS,                nullptr,             Reach::InsideButShortcutGroups, true},
    {Source::Csidl,               CSIDL_STARTMENU,               nullptr,             Reach::InsideButShortcutGroups, true},
    {Source::Csidl,               CSIDL_COMMON_STARTMENU,        nullptr,             Reach::InsideButShortcutGroups, true},
    {Source::Csidl,               CSIDL_COMMON_PROGRAMS,         nullptr,             Reach::InsideButShortcutGroups, true},
    {Source::Csidl,               CSIDL_COMMON_DESKTOPDIRECTORY, nullptr,             Reach::InsideButShortcutGroups, true},
    // Whatever is placed there runs at every user's logon.
    {Source::Csidl,               CSIDL_COMMON_STARTUP,          nullptr,             Reach::Inside,                  false},
    {Source::OwnFolder,           0,                             nullptr,             Reach::Itself,                  false},
};

// Below HKEY_LOCAL_MACHINE: these keys and everything inside them.
constexpr const wchar_t* kProtectedKeys[] = {
    L"SOFTWARE\\Microsoft", L"SOFTWARE\\Classes", L"SOFTWARE\\Policies",
    L"SOFTWARE\\WOW6432Node\\Microsoft", L"SOFTWARE\\WOW6432Node\\Classes",
    L"SOFTWARE\\WOW6432Node\\Policies", L"SYSTEM", L"SECURITY", L"SAM", L"HARDWARE",
    L"BCD00000000",
};
// This one itself only: its other sub-keys are the 32-bit programs' own.
constexpr wchar_t kWow64Key[] = L"SOFTWARE\\WOW6432Node";
// clang-format on

void dropTrailingBackslash(std::wstring& path) {
    if (!path.empty() && path.back() == L'\\') path.pop_back();
}

std::wstring lookUp(const Row& row) {
    std::wstring path;
    switch (row.source) {
        case Source::WindowsFolder:
            path = callWithGrowingBuffer(
                [](wchar_t* b, DWORD n) { return ::GetWindowsDirectoryW(b, n); });
            break;
        case Source::SystemWindowsFolder:
            path = callWithGrowingBuffer(
                [](wchar_t* b, DWORD n) { return ::GetSystemWindowsDirectoryW(b, n); });
            break;
        case Source::Environment:
            path = callWithGrowingBuffer(
                [&](wchar_t* b, DWORD n) { return ::GetEnvironmentVariableW(row.name, b, n); });
            break;
        case Source::Csidl: {
            wchar_t buffer[MAX_PATH] = {};
            if (FAILED(::SHGetFolderPathW(nullptr, row.csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
                return {};
            path = buffer;
            if (row.name && !path.empty()) path += std::wstring(L"\\") + row.name;
            break;
        }
        // Asked of the profile service, not of the shell: under Wine the shell's answer for the
        // profile (CSIDL_PROFILE) loads the COM library, which costs every walk 1.8 MiB.
        case Source::ProfilesFolder:
            path = profilesFolder();
            break;
        case Source::OwnProfileParent: {
            UniqueHandle token;
            if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
            path = userProfileFolder(token.get());
            dropTrailingBackslash(path);
            const std::size_t slash = path.rfind(L'\\');
            path = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
            break;
        }
        case Source::OwnFolder: {
            path = callWithGrowingBuffer([](wchar_t* b, DWORD n) {
                const DWORD length = ::GetModuleFileNameW(nullptr, b, n);
                return length == n ? n + 1 : length;  // cut: ask for more room
            });
            const std::size_t slash = path.rfind(L'\\');
            path = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
            break;
        }
    }
    // A folder too short to be real would protect a whole drive as its "ancestors": leave it out.
    return path.size() < 3 ? std::wstring() : normalizedPath(path);
}

struct Locations {
    std::vector<Location> list;
    // False when the profiles folder could not be found (the profile service could not be loaded
    // or did not answer): without it a profile cannot be told from an installation, so no folder
    // decision can be made, and every folder is refused.
    bool decidable = true;
};

// Looked up once: these folders do not move while we run.
const Locations& protectedLocations() {
    static const Locations locations = [] {
        Locations found;
        for (const Row& row : kProtected) {
            std::wstring path = lookUp(row);
            if (path.empty() && row.source == Source::ProfilesFolder) found.decidable = false;
            if (!path.empty())
                found.list.push_back({std::move(path), row.reach, row.holdsShortcuts});
        }
        return found;
    }();
    return locations;
}

bool isSameOrInside(const std::wstring& path, const std::wstring& folder) {
    return equalIgnoringAsciiCase(path, folder) || isInsideFolder(path, folder);
}

bool isProtectedNormalized(const std::wstring& path, GuardUse use) {
    const auto& locations = protectedLocations().list;
    bool inShortcutFolder = false;
    bool atShortcutFolder = false;
    bool inReachInside = false;
    for (const Location& location : locations) {
        if (location.holdsShortcuts && isInsideFolder(path, location.path)) inShortcutFolder = true;
        if (location.holdsShortcuts && isSameOrInside(path, location.path)) atShortcutFolder = true;
        if (location.reach == Reach::Inside && isSameOrInside(path, location.path))
            inReachInside = true;
    }
    if (use == GuardUse::ShortcutFolder && atShortcutFolder && !inReachInside) return false;
    for (const Location& location : locations) {
        if (equalIgnoringAsciiCase(path, location.path) || isInsideFolder(location.path, path))
            return true;
        if (location.reach == Reach::Itself || !isInsideFolder(path, location.path)) continue;
        if (location.reach == Reach::InsideButShortcutGroups && use == GuardUse::WalkRoot &&
            inShortcutFolder)
            continue;
        return true;
    }
    return false;
}

// The key's components, empty ones dropped ("\SOFTWARE\\Microsoft\" is SOFTWARE\Microsoft).
std::vector<std::wstring> keyComponents(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\') continue;
        if (i > start) parts.push_back(path.substr(start, i - start));
        start = i + 1;
    }
    return parts;
}

// Key names compare as the registry compares them: without regard to letter case.
bool sameKeyName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool keyStartsWith(const std::vector<std::wstring>& key, const std::vector<std::wstring>& prefix) {
    if (key.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (!sameKeyName(key[i], prefix[i])) return false;
    return true;
}

bool refuse(bool isProtected, const std::wstring& location) {
    if (isProtected) logText((L"Refused protected location: " + location).c_str(), true);
    return isProtected;
}

}  // namespace

bool isProtectedFolder(const std::wstring& folder, GuardUse use) {
    const std::wstring path = normalizedPath(folder);
    if (path.empty()) return false;
    if (!protectedLocations().decidable) return true;
    if (isProtectedNormalized(path, use)) return true;
    // Through a link or a short name an innocent-looking path can name a system folder.
    const std::wstring final = normalizedPath(finalPathOf(path));
    return !final.empty() && !equalIgnoringAsciiCase(final, path) &&
           isProtectedNormalized(final, use);
}

bool isProtectedResolvedFolder(const std::wstring& folder, GuardUse use) {
    if (use == GuardUse::ProgramFolder) return folder.empty() || isProtectedExecutable(folder);
    return folder.empty() || !protectedLocations().decidable || isProtectedNormalized(folder, use);
}

std::wstring protectedFolderWithId(DWORD volume, LONGLONG fileId) {
    struct Identity {
        DWORD volume;
        LONGLONG fileId;
        std::wstring path;
    };
    // Opened once: the system's folders are not moved while we run.
    static const std::vector<Identity> identities = [] {
        std::vector<Identity> list;
        for (const Location& location : protectedLocations().list) {
            const UniqueFile folder(::CreateFileW(
                location.path.c_str(), FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            BY_HANDLE_FILE_INFORMATION info;
            if (!folder || !::GetFileInformationByHandle(folder.get(), &info)) continue;
            const LONGLONG id = (static_cast<LONGLONG>(info.nFileIndexHigh) << 32) |
                                static_cast<LONGLONG>(info.nFileIndexLow);
            list.push_back({info.dwVolumeSerialNumber, id, location.path});
        }
        return list;
    }();
    for (const Identity& identity : identities)
        if (identity.volume == volume && identity.fileId == fileId) return identity.path;
    return {};
}

bool isProtectedRegistryPath(const std::wstring& path) {
    const std::vector<std::wstring> key = keyComponents(path);
    if (key.size() < 2) return true;
    for (const wchar_t* protectedKey : kProtectedKeys)
        if (keyStartsWith(key, keyComponents(protectedKey))) return true;
    const std::vector<std::wstring> wow64 = keyComponents(kWow64Key);
    return key.size() == wow64.size() && keyStartsWith(key, wow64);
}

bool isProtectedExecutable(const std::wstring& path) {
    const std::wstring executable = normalizedPath(path);
    if (executable.empty()) return false;
    for (const Row& row : kProtected) {
        if (row.source != Source::WindowsFolder && row.source != Source::SystemWindowsFolder)
            continue;
        const std::wstring windows = lookUp(row);
        if (!windows.empty() &&
            (equalIgnoringAsciiCase(executable, windows) || isInsideFolder(executable, windows)))
            return true;
    }
    return false;
}

bool refuseProtectedFolder(const std::wstring& folder, GuardUse use) {
    return refuse(isProtectedFolder(folder, use), folder);
}

bool refuseProtectedRegistryPath(const std::wstring& path) {
    return refuse(isProtectedRegistryPath(path), path);
}

bool refuseProtectedExecutable(const std::wstring& path) {
    return refuse(isProtectedExecutable(path), path);
}

}  // namespace tendril
