#include "world.h"

#include "common/unique_handle.h"
#include "support/security_traces.h"
#include "support/shell_fixture.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwctype>

namespace tendril::test::bad_input {

namespace {

constexpr wchar_t kUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool holds(const std::wstring& name, const std::wstring& token) {
    return lower(name).find(lower(token)) != std::wstring::npos;
}

std::wstring windowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return buffer;
}

// The folder as the system resolves it, without a trailing backslash.
std::wstring fullFolderPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring full(buffer, length);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

std::wstring folderPath(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
    return buffer;
}

bool setValue(HKEY key, const wchar_t* name, const std::wstring& text) {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}

bool makeKey(const std::wstring& path,
             const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    UniqueKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    for (const auto& [name, data] : values)
        if (!setValue(key.get(), name.c_str(), data)) return false;
    return true;
}

struct Listed {
    std::wstring name;
    DWORD attributes;
    ULONGLONG size;
};

std::vector<Listed> listFolder(const std::wstring& folder) {
    std::vector<Listed> entries;
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return entries;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({name, data.dwFileAttributes,
                           (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
    } while (::FindNextFileW(find.get(), &data));
    std::sort(entries.begin(), entries.end(),
              [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return entries;
}

// Every entry below folder with its attributes, size, bytes and access list.
void describeTree(const std::wstring& folder, const std::wstring& relative, std::wstring& out) {
    for (const Listed& entry : listFolder(folder)) {
        const std::wstring path = folder + L"\\" + entry.name;
        out += relative + entry.name + L" attributes=" + std::to_wstring(entry.attributes) +
               L" size=" + std::to_wstring(entry.size) + L" dacl=" + fileDaclText(path);
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            out += L"\n";
            describeTree(path, relative + entry.name + L"\\", out);
        } else {
            const std::string bytes = readFile(path);
            out += L" bytes=" + std::wstring(bytes.begin(), bytes.end()) + L"\n";
        }
    }
}

std::vector<std::wstring> subkeysOf(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring valuesText(HKEY key) {
    std::vector<std::wstring> values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0;
        BYTE data[4096];
        DWORD size = sizeof data;
        const LSTATUS status =
            ::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) break;
        std::wstring text = std::wstring(name, nameLength) + L" type=" + std::to_wstring(type) +
                            L" size=" + std::to_wstring(size);
        if (status == ERROR_SUCCESS)
            for (DWORD b = 0; b < size; ++b) text += L" " + std::to_wstring(data[b]);
        values.push_back(text);
    }
    std::sort(values.begin(), values.end());
    std::wstring out;
    for (const std::wstring& value : values) out += L"  value " + value + L"\n";
    return out;
}

void describeKey(const std::wstring& path, std::wstring& out) {
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS) {
        out += path + L" <missing>\n";
        return;
    }
    out += path + L" dacl=" + keyDaclText(path) + L"\n" + valuesText(key.get());
    for (const std::wstring& subkey : subkeysOf(key.get())) describeKey(path + L"\\" + subkey, out);
}

}  // namespace

World::World()
    : token_(uniqueName(L"bi")),
      keyRoot_(L"SOFTWARE\\TendrilTest\\" + token_),
      // A pipe name of its own, which no leftover process of another test can hold.
      tendril_(L"tendril-" + token_ + L".exe") {
    // A sentinel not made as described would quietly weaken the check that a run changed nothing.
    auto step = [this](bool done, const char* what) {
        if (!done && setUpFailure_.empty()) setUpFailure_ = what;
    };
    const std::wstring s = sentinel();
    step(::CreateDirectoryW(s.c_str(), nullptr) &&
             ::CreateDirectoryW((s + L"\\sub").c_str(), nullptr) &&
             writeFile(s + L"\\file.txt", "a file that stays") &&
             writeFile(s + L"\\readonly.txt", "a read-only file that stays") &&
             writeFile(s + L"\\keep.lnk", "not a shortcut, but named like one") &&
             writeFile(s + L"\\sub\\inner.txt", "a file in a sub-folder that stays"),
         "the sentinel folder and its files");
    // Without Everyone's read access, so that a grant reaching any of them shows.
    for (const wchar_t* name :
         {L"", L"\\file.txt", L"\\readonly.txt", L"\\keep.lnk", L"\\sub", L"\\sub\\inner.txt"})
        step(denyOthersOn(s + name), "an access list without Everyone on the sentinel");
    step(markReadOnly(s + L"\\readonly.txt"), "the sentinel's read-only file");
    // Shaped like an installation's key, recording the sentinel folder.
    const bool keysMade =
        makeKey(sentinelKey(), {{L"Note", L"a key that stays"}}) &&
        makeKey(sentinelKey() + L"\\Install", {{L"Directory", s}, {L"Directory1", client()}}) &&
        makeKey(sentinelKey() + L"\\Sub", {});
    step(keysMade, "the sentinel key");

    const std::wstring windows = windowsFolder();
    const std::wstring profile = folderPath(CSIDL_PROFILE);
    protectedFolders_ = {
        windows,
        windows + L"\\system32",
        folderPath(CSIDL_PROGRAM_FILES),
        folderPath(CSIDL_PROGRAM_FILES_COMMON),
        folderPath(CSIDL_COMMON_APPDATA),
        folderPath(CSIDL_COMMON_APPDATA) + L"\\Microsoft",
        profile.substr(0, profile.rfind(L'\\')),
        profile,
        folderPath(CSIDL_COMMON_STARTMENU),
        folderPath(CSIDL_COMMON_PROGRAMS),
        folderPath(CSIDL_COMMON_STARTUP),
        folderPath(CSIDL_COMMON_DESKTOPDIRECTORY),
        folderPath(CSIDL_STARTMENU),
        tendril_.folder().path(),
    };
    protectedKeys_ = {
        L"SOFTWARE",
        L"SOFTWARE\\Microsoft",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
        L"SOFTWARE\\Classes",
        L"SOFTWARE\\Policies",
        L"SOFTWARE\\WOW6432Node",
        L"SOFTWARE\\WOW6432Node\\Microsoft",
        L"SYSTEM",
        L"SYSTEM\\CurrentControlSet",
        L"HARDWARE",
    };
    protectedPrograms_ = {windows + L"\\explorer.exe", windows + L"\\system32\\notepad.exe",
                          windows + L"\\system32\\services.exe"};
    shortcutFolders_ = {
        folderPath(CSIDL_COMMON_STARTMENU), folderPath(CSIDL_COMMON_PROGRAMS),
        folderPath(CSIDL_STARTMENU),        folderPath(CSIDL_PROGRAMS),
        folderPath(CSIDL_COMMON_STARTUP),   folderPath(CSIDL_COMMON_DESKTOPDIRECTORY)};
    for (const std::wstring& folder : shortcutFolders_) {
        std::vector<std::wstring>& names = initialShortcutEntries_[folder];
        for (const Listed& entry : listFolder(folder)) names.push_back(entry.name);
    }
    UniqueKey uninstall;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ, uninstall.put()) ==
        ERROR_SUCCESS)
        initialUninstallEntries_ = subkeysOf(uninstall.get());
}

World::~World() {
    removePlanted();
    removeShellTraces();
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, keyRoot_.c_str());
}

bool World::resetWork(const std::wstring& extraRecord, const std::optional<std::string>& appList,
                      std::uint64_t appListSize, const std::wstring& shortcutFolder) {
    removePlanted();
    removeShellTraces();
    removeTree(work());
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, (keyRoot_ + L"\\work").c_str());
    bool ok = ::CreateDirectoryW(work().c_str(), nullptr) &&
              ::CreateDirectoryW(client().c_str(), nullptr) &&
              ::CreateDirectoryW((client() + L"\\sub").c_str(), nullptr) &&
              ::CreateDirectoryW(links().c_str(), nullptr);
    ok = ok && writeFile(client() + L"\\client.exe", "MZ client") &&
         writeFile(client() + L"\\sub\\editor.exe", "MZ editor") &&
         writeFile(client() + L"\\data.txt", "client data");
    std::vector<std::pair<std::wstring, std::wstring>> records = {{L"Directory", client()}};
    if (!extraRecord.empty()) records.push_back({L"Directory1", extraRecord});
    ok = ok && makeKey(workKey(), {}) && makeKey(workKey() + L"\\Install", records);
    const std::wstring executable = client() + L"\\client.exe";
    const std::wstring folder = shortcutFolder.empty() ? links() : shortcutFolder;
    ok = ok && makeKey(std::wstring(kUninstallRoot) + L"\\" + token_ + L"Client 0",
                       {{L"DisplayName", token_ + L"Client"},
                        {L"InstallLocation", client()},
                        {L"UninstallString", L"\"" + executable + L"\" /uninstall \"" + folder +
                                                 L"\\" + token_ + L"Play.lnk\""}});
    if (ok && !shortcutFolder.empty()) {
        plantedFolder_ = fullFolderPath(shortcutFolder);
        for (const wchar_t* name : {L"Play.lnk", L"Tool.lnk"}) {
            const std::wstring path = plantedFolder_ + L"\\" + token_ + name;
            ok = ok && !plantedFolder_.empty() && writeFile(path, "another program's shortcut");
            if (ok) planted_.push_back(path);
        }
    }
    if (ok && appList) {
        const std::wstring path = client() + L"\\applist.dat";
        ok = writeFile(path, *appList);
        if (ok && appListSize > appList->size()) {
            // A size the file does not really take: Wine makes it sparse.
            UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
            LARGE_INTEGER end;
            end.QuadPart = static_cast<LONGLONG>(appListSize);
            ok = file && ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) &&
                 ::SetEndOfFile(file.get());
        }
    }
    return ok;
}

void World::removeShellTraces() const {
    for (const std::wstring& folder : shortcutFolders_) {
        if (folder.empty()) continue;
        const std::vector<std::wstring>& initial = initialShortcutEntries_.at(folder);
        for (const Listed& entry : listFolder(folder)) {
            if (!holds(entry.name, token_) &&
                std::find(initial.begin(), initial.end(), entry.name) != initial.end())
                continue;
            const std::wstring path = folder + L"\\" + entry.name;
            if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(path);
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        }
    }
    UniqueKey uninstall;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallRoot, 0, KEY_READ, uninstall.put()) !=
        ERROR_SUCCESS)
        return;
    for (const std::wstring& name : subkeysOf(uninstall.get()))
        if (holds(name, token_) || !std::binary_search(initialUninstallEntries_.begin(),
                                                       initialUninstallEntries_.end(), name))
            ::SHDeleteKeyW(HKEY_LOCAL_MACHINE,
                           (std::wstring(kUninstallRoot) + L"\\" + name).c_str());
}

void World::removePlanted() {
    for (const std::wstring& path : planted_) ::DeleteFileW(path.c_str());
    planted_.clear();
    plantedFolder_.clear();
}

std::string World::plantedState() const {
    if (plantedFolder_.empty()) return {};
    std::wstring out;
    for (const Listed& entry : listFolder(plantedFolder_)) {
        if (!holds(entry.name, token_) || !lower(entry.name).ends_with(L".lnk")) continue;
        const std::string bytes = readFile(plantedFolder_ + L"\\" + entry.name);
        out += entry.name + L" bytes=" + std::wstring(bytes.begin(), bytes.end()) + L"\n";
    }
    return narrow(out);
}

std::string World::sentinelState() const {
    std::wstring out = L"folder dacl=" + fileDaclText(sentinel()) + L"\n";
    describeTree(sentinel(), L"", out);
    describeKey(sentinelKey(), out);
    return narrow(out);
}

std::map<std::string, std::string> World::protectedState() const {
    std::map<std::string, std::string> state;
    for (const std::wstring& folder : protectedFolders_) {
        if (folder.empty()) continue;
        std::wstring out = L"dacl=" + fileDaclText(folder) + L"\n";
        const bool own = folder == tendril_.folder().path();
        for (const Listed& entry : listFolder(folder)) {
            if (holds(entry.name, token_)) continue;
            // Our own log beside tendril.exe changes with every run, as it should.
            if (own && entry.name == tendril_.fileName() + L".log") continue;
            // An empty long name makes the all-users Programs folder itself the program group,
            // and the icon entry gives it the client's icon, in its Desktop.ini, as designed.
            if (folder == shortcutFolders_[1] && lower(entry.name) == L"desktop.ini") continue;
            out += entry.name + L" attributes=" + std::to_wstring(entry.attributes) + L" size=" +
                   std::to_wstring(entry.size) + L"\n";
        }
        state[narrow(folder)] = narrow(out);
    }
    for (const std::wstring& path : protectedKeys_) {
        UniqueKey key;
        std::wstring out;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) ==
            ERROR_SUCCESS) {
            out = L"dacl=" + keyDaclText(path) + L"\n" + valuesText(key.get());
            if (path == kUninstallRoot) {
                // Tendril writes the Uninstall entries: what it adds there is its own, what was
                // there before must stay.
                for (const std::wstring& subkey : subkeysOf(key.get()))
                    if (std::binary_search(initialUninstallEntries_.begin(),
                                           initialUninstallEntries_.end(), subkey))
                        out += L"  key " + subkey + L"\n";
            } else {
                // A key created or deleted below changes the count and the time of last write:
                // far cheaper than listing the thousands of keys below SOFTWARE\Classes.
                DWORD subkeys = 0;
                FILETIME written{};
                ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, &written);
                out += L"  keys " + std::to_wstring(subkeys) + L" written " +
                       std::to_wstring(written.dwHighDateTime) + L":" +
                       std::to_wstring(written.dwLowDateTime) + L"\n";
            }
        } else {
            out = L"<missing>";
        }
        state["HKLM\\" + narrow(path)] = narrow(out);
    }
    return state;
}

}  // namespace tendril::test::bad_input
