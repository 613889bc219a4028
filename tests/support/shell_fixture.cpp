#include "shell_fixture.h"

#include "common/unique_handle.h"
#include "shell/special_folders.h"

#include <algorithm>

namespace tendril::test {

namespace {

constexpr wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

void removeFile(const std::wstring& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
}

}  // namespace

std::string narrowPath(const std::wstring& path) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring specialFolder(int csidl) {
    std::wstring path;
    EXPECT_TRUE(getSpecialFolderPath(csidl, path)) << "CSIDL " << csidl;
    return path;
}

std::vector<std::wstring> folderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        names.push_back(name + ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? L"\\" : L""));
    } while (::FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

bool makeDirectoryLink(const std::wstring& target, const std::wstring& link) {
    runUnix("/bin/ln", {"-s", unixPath(target), unixPath(link)});
    return pollUntil([&] { return isReparsePoint(link); });
}

void removeDirectoryLink(const std::wstring& link) {
    if (!isReparsePoint(link)) return;
    runUnix("/bin/rm", {"-f", unixPath(link)});
    pollUntil([&] { return !exists(link); });
}

UniqueShortcutNames::UniqueShortcutNames()
    : name_(uniqueName(L"tendril-sc")),
      startMenu_(specialFolder(CSIDL_COMMON_STARTMENU)),
      programs_(specialFolder(CSIDL_COMMON_PROGRAMS)) {
    for (const int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU,
                            CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS, CSIDL_COMMON_STARTUP})
        cleaned_.push_back(specialFolder(csidl));
}

UniqueShortcutNames::~UniqueShortcutNames() {
    // Every place a test of this name may have written to, links first.
    for (const std::wstring& folder : cleaned_) {
        if (folder.empty()) continue;
        for (const std::wstring& name : folderNames(folder)) {
            if (name.find(name_) == std::wstring::npos) continue;
            std::wstring path = folder + L"\\" + name;
            if (path.back() == L'\\') path.pop_back();
            if (isReparsePoint(path))
                removeDirectoryLink(path);
            else if (isDirectory(path))
                removeTree(path);
            else
                removeFile(path);
        }
    }
}

RedirectedShellFolders::RedirectedShellFolders() {
    struct Redirect {
        int csidl;
        HKEY root;
        const wchar_t* value;
        const wchar_t* folder;
    };
    const Redirect redirects[] = {
        {CSIDL_STARTMENU, HKEY_CURRENT_USER, L"Start Menu", L"StartMenu"},
        {CSIDL_PROGRAMS, HKEY_CURRENT_USER, L"Programs", L"StartMenu\\Programs"},
        {CSIDL_COMMON_DESKTOPDIRECTORY, HKEY_LOCAL_MACHINE, L"Common Desktop", L"PublicDesktop"},
        {CSIDL_COMMON_STARTMENU, HKEY_LOCAL_MACHINE, L"Common Start Menu", L"CommonStartMenu"},
        {CSIDL_COMMON_PROGRAMS, HKEY_LOCAL_MACHINE, L"Common Programs",
         L"CommonStartMenu\\Programs"},
        {CSIDL_COMMON_STARTUP, HKEY_LOCAL_MACHINE, L"Common Startup",
         L"CommonStartMenu\\Programs\\StartUp"},
    };
    ok_ = true;
    for (const Redirect& redirect : redirects) {
        const std::wstring path = scratch_ / redirect.folder;
        ::CreateDirectoryW(path.c_str(), nullptr);
        if (!writeFile(path + L"\\Desktop.ini", "[.ShellClassInfo]\r\n")) {
            ok_ = false;
            problem_ += "no Desktop.ini in " + narrowPath(path) + "; ";
        }
        folders_.push_back({redirect.csidl, path});

        UniqueKey key;
        if (::RegOpenKeyExW(redirect.root, kUserShellFolders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            key.put()) != ERROR_SUCCESS) {
            ok_ = false;
            continue;
        }
        Saved saved{redirect.root, redirect.value, false, 0, std::vector<BYTE>(4096)};
        DWORD size = static_cast<DWORD>(saved.data.size());
        if (::RegQueryValueExW(key.get(), redirect.value, nullptr, &saved.type, saved.data.data(),
                               &size) == ERROR_SUCCESS) {
            saved.existed = true;
            saved.data.resize(size);
        }
        saved_.push_back(saved);
        if (::RegSetValueExW(key.get(), redirect.value, 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(path.c_str()),
                             static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) !=
            ERROR_SUCCESS)
            ok_ = false;
    }
    // The shell must now answer with the scratch folders, or the test would act on real ones.
    for (const Folder& folder : folders_) {
        std::wstring answer;
        if (!getSpecialFolderPath(folder.csidl, answer) ||
            _wcsicmp(answer.c_str(), folder.path.c_str()) != 0) {
            ok_ = false;
            problem_ +=
                "CSIDL " + std::to_string(folder.csidl) + " answers " + narrowPath(answer) + "; ";
        }
    }
}

RedirectedShellFolders::~RedirectedShellFolders() {
    for (const Saved& saved : saved_) {
        UniqueKey key;
        if (::RegOpenKeyExW(saved.root, kUserShellFolders, 0, KEY_SET_VALUE, key.put()) !=
            ERROR_SUCCESS)
            continue;
        if (saved.existed)
            ::RegSetValueExW(key.get(), saved.value.c_str(), 0, saved.type, saved.data.data(),
                             static_cast<DWORD>(saved.data.size()));
        else
            ::RegDeleteValueW(key.get(), saved.value.c_str());
    }
}

std::wstring RedirectedShellFolders::pathOf(int csidl) const {
    for (const Folder& folder : folders_)
        if (folder.csidl == csidl) return folder.path;
    return std::wstring();
}

}  // namespace tendril::test
