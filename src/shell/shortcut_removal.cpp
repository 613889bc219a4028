#include "shell/shortcut_removal.h"

#include "common/unique_handle.h"
#include "filetree/directory_removal.h"
#include "filetree/file_exists.h"
#include "filetree/tree_entry.h"
#include "install/install_path.h"
#include "shell/com_scope.h"
#include "shell/named_shortcut.h"
#include "shell/shell_link.h"
#include "shell/shortcut_location.h"
#include "shell/shortcut_ownership.h"
#include "shell/special_folders.h"

#include <shlobj.h>
#include <windows.h>

#include <array>
#include <optional>
#include <vector>

namespace tendril {

namespace {

bool hasLinkExtension(const wchar_t* name) {
    const std::size_t length = ::wcslen(name);
    return length > 4 &&
           ::CompareStringOrdinal(name + length - 4, 4, L".lnk", 4, TRUE) == CSTR_EQUAL;
}

// Deletes a shortcut file; a folder or a link of that name is left alone (deleting a file link
// can reach what it points to).
void deleteShortcutFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return;
    ::DeleteFileW(path.c_str());
}

// Only a program group strictly inside its special folder, reached through no link, is ever
// removed: never the special folder itself, nor anything a group name climbs out to.
bool mayRemoveGroup(const ShortcutFolder& group) {
    return group.isGroup && reachedWithoutLink(group);
}

// A group that holds its Desktop.ini and nothing else is removed with it.
void removeGroupHoldingOnlyDesktopIni(const ShortcutFolder& group) {
    if (!mayRemoveGroup(group) || !fileExists(group.path + L"\\Desktop.ini")) return;
    std::int32_t entries = 0;
    countFolderEntries(group.path, entries);
    if (entries != 1) return;
    ::SetFileAttributesW(group.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    deleteDirectory(group.path);
}

bool isRemovableEmptyGroup(const ShortcutFolder& group) {
    return mayRemoveGroup(group) && isFolderEmpty(group.path);
}

bool isDotName(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// What the listing reports: a link is one entry, never entered.
EntryKind listedKind(const WIN32_FIND_DATAW& data) {
    return entryKind(data.dwFileAttributes, data.dwReserved0);
}

// Only ever counts: a program group's entries, to see whether Desktop.ini is all it holds.
void countIn(const std::wstring& path, std::int32_t& counter) {
    WIN32_FIND_DATAW data;
    const UniqueFind listing(::FindFirstFileW((path + L"\\*.*").c_str(), &data));
    if (!listing) return;
    do {
        const EntryKind kind = listedKind(data);
        if (kind == EntryKind::Folder && isDotName(data.cFileName)) continue;
        if (kind == EntryKind::Folder) countIn(path + L"\\" + data.cFileName, counter);
        ++counter;
    } while (::FindNextFileW(listing.get(), &data));
}

// The folders deleteAllShortcut scans, in order; the last two are program group folders.
struct ScannedFolder {
    int csidl;
    bool programGroup;
};
constexpr std::array<ScannedFolder, 6> kScannedFolders = {{
    {CSIDL_DESKTOP, false},
    {CSIDL_COMMON_DESKTOPDIRECTORY, false},
    {CSIDL_COMMON_STARTMENU, false},
    {CSIDL_STARTMENU, false},
    {CSIDL_COMMON_PROGRAMS, true},
    {CSIDL_PROGRAMS, true},
}};

}  // namespace

void countFolderEntries(const std::wstring& folder, std::int32_t& counter) {
    std::wstring path = folder;
    countIn(path, counter);
}

bool deleteShortcut(const std::wstring& target, const std::wstring& name, int csidl,
                    const std::wstring& subfolder) {
    // Prepared as creation prepares it, never saved: its result is the operation's.
    const NamedShortcut shortcut(target, name, csidl, subfolder);
    if (!shortcut.ok()) return false;
    const ShortcutFolder& folder = shortcut.folder();

    // Another product's shortcut of that name stays; the group keeps it and so stays too.
    const bool ours = mayReplaceShortcutFile(shortcut.filePath());
    if (ours) deleteShortcutFile(shortcut.filePath());
    if (!subfolder.empty() && folder.path.size() > 3) {
        removeGroupHoldingOnlyDesktopIni(folder);
        if (isRemovableEmptyGroup(folder)) ::RemoveDirectoryW(folder.path.c_str());
    }
    return ours && SUCCEEDED(shortcut.targetResult());
}

bool deleteUninstallShortcut(const std::wstring& target, const std::wstring& name,
                             const std::wstring& subfolder) {
    return deleteShortcut(target, L"Uninstall " + name, CSIDL_COMMON_PROGRAMS, subfolder);
}

bool deleteAllShortcut(const std::wstring& target, const std::wstring& group) {
    if (target.empty()) return false;

    const ComScope com;
    if (!com.ok()) return false;
    std::wstring desktop;
    if (!getSpecialFolderPath(CSIDL_DESKTOP, desktop)) return false;

    // A folder that cannot be looked up, or a group refused there, is not scanned.
    std::array<std::optional<ShortcutFolder>, kScannedFolders.size()> folders;
    for (std::size_t i = 0; i < kScannedFolders.size(); ++i) {
        std::wstring special;
        if (!getSpecialFolderPath(kScannedFolders[i].csidl, special)) continue;
        folders[i] = shortcutFolder(special, kScannedFolders[i].programGroup ? group : L"");
    }

    const std::optional<ShellLink> object = createShellLink();
    if (!object) return false;

    bool lastLoadSucceeded = true;
    std::vector<ShortcutFolder> emptiedGroups;
    for (std::size_t i = 0; i < kScannedFolders.size(); ++i) {
        if (!folders[i] || folders[i]->path.size() < 4) continue;
        const ShortcutFolder& folder = *folders[i];
        WIN32_FIND_DATAW data;
        const UniqueFind listing(::FindFirstFileW((folder.path + L"\\*.lnk").c_str(), &data));
        if (!listing) continue;
        do {
            // The pattern also matches by short name ("x.lnkx"), and can match a folder.
            if (listedKind(data) != EntryKind::File || !hasLinkExtension(data.cFileName)) continue;
            const std::wstring path = folder.path + L"\\" + data.cFileName;
            const std::optional<std::wstring> stored =
                storedTarget(*object, path, &lastLoadSucceeded);
            if (!stored || !equalIgnoringAsciiCase(*stored, target)) continue;

            deleteShortcutFile(path);
            if (!kScannedFolders[i].programGroup) continue;
            removeGroupHoldingOnlyDesktopIni(folder);
            if (isRemovableEmptyGroup(folder)) emptiedGroups.push_back(folder);
        } while (::FindNextFileW(listing.get(), &data));
    }

    // Listed once per match; a folder already gone fails harmlessly.
    for (const ShortcutFolder& emptied : emptiedGroups)
        if (mayRemoveGroup(emptied)) ::RemoveDirectoryW(emptied.path.c_str());
    emptiedGroups.clear();

    ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return lastLoadSucceeded;
}

}  // namespace tendril
