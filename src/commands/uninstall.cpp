#include "commands/uninstall.h"

#include "commands/app_list.h"
#include "commands/process_termination.h"
#include "common/ascii_case.h"
#include "filetree/access_grant.h"
#include "filetree/path_guard.h"
#include "filetree/tree_walks.h"
#include "install/client_installation.h"
#include "install/install_directory_list.h"
#include "install/install_naming.h"
#include "install/registry_key.h"
#include "install/uninstall_entry.h"
#include "launcher_link/cancel.h"
#include "launcher_link/error_store.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"
#include "launcher_link/walk_context.h"
#include "shell/shortcut_removal.h"

#include <tendril/protocol.h>

#include <shlobj.h>
#include <windows.h>

namespace tendril {

namespace {

constexpr DWORD kUninstallStringChars = 1024;

// The shortcut that client installation named in "UninstallString": its second quoted path.
// A value not of that form ("<exe>" /uninstall "<shortcut>") names no shortcut, and neither
// does a path that is not a .lnk file: the key's value decides what an administrator deletes.
std::wstring shortcutPathOf(const RegistryKey& key) {
    wchar_t buffer[kUninstallStringChars] = {};
    DWORD length = kUninstallStringChars;
    if (key.readString(L"UninstallString", buffer, length) != ERROR_SUCCESS) return {};
    const std::wstring value = buffer;
    std::size_t quote = std::wstring::npos;
    for (int i = 0; i < 3; ++i) {
        quote = value.find(L'"', quote == std::wstring::npos ? 0 : quote + 1);
        if (quote == std::wstring::npos) return {};
    }
    std::wstring path = value.substr(quote + 1);
    const std::size_t end = path.find(L'"', 1);
    if (end != std::wstring::npos) path.resize(end);
    const std::wstring extension = L".lnk";
    if (path.size() <= extension.size() ||
        !equalIgnoringAsciiCase(std::wstring_view(path).substr(path.size() - extension.size()),
                                extension))
        return {};
    return path;
}

std::wstring folderOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

void removeApplicationShortcuts(const std::wstring& folder, int slot,
                                const std::wstring& shortcutFolder, const std::wstring& group) {
    std::vector<AppListRecord> records;
    if (!readAppList(folder, records)) return;
    for (const AppListRecord& record : records) {
        const std::wstring name = fieldText(record.name);
        if (!isPlainName(name)) continue;
        const std::wstring displayName = makeInstallName(name, false, slot);
        const std::wstring target = folder + L"\\" + fieldText(record.path);
        if (!shortcutFolder.empty())
            ::DeleteFileW((shortcutFolder + L"\\" + displayName + L".lnk").c_str());
        deleteShortcut(target, displayName, CSIDL_COMMON_STARTMENU, L"");
        deleteShortcut(target, displayName, CSIDL_COMMON_PROGRAMS, group);
    }
}

}  // namespace

bool uninstallClient() {
    if (!terminateProcessesByPath(fieldText(assistantRequest.argument))) {
        setLastAssistantError(TerminateFailed);
        return false;
    }
    const std::wstring folder = fieldText(assistantRequest.installFolder);
    const std::wstring regPath = fieldText(assistantRequest.regPath);
    const std::wstring longName = fieldText(assistantRequest.longName);
    const std::wstring exeName = fieldText(assistantRequest.exeName);

    InstallDirectoryList list;
    list.open(regPath);
    const int slot = list.indexOf(folder);
    if (slot == -1) {
        // Records behind a refused key were never read: that is a refused location, not an
        // installation that was never recorded.
        if (list.refused()) setLastAssistantError(InstallFolderTooShort);
        return false;
    }
    const std::wstring iconName = fieldText(assistantRequest.iconName);
    // An icon name that names no file names no shortcut, whatever the slot's number adds.
    const std::wstring mainShortcut =
        isPlainName(iconName) ? makeInstallName(iconName, false, slot) : std::wstring();
    notifyProgress(0);
    // The entry is deleted at the end through the handle opened here.
    AnchoredKey uninstallKey = openUninstallEntry(uninstallEntryName(longName, slot));

    bool result = false;
    // The walks would refuse such a folder, and its record and key must then stay with it.
    if (folder.size() <= 3 || refuseInstallLocation(folder, regPath) || uninstallKey.refused()) {
        setLastAssistantError(InstallFolderTooShort);
    } else {
        std::wstring shortcutPath;
        if (uninstallKey.isOpen()) shortcutPath = shortcutPathOf(uninstallKey.key());
        // The entry may predate the registration's check of that folder: no shortcut is deleted
        // from a folder that has none of ours, nor from one the path does not name.
        const std::wstring shortcutFolder = folderOf(shortcutPath);
        if (shortcutFolder.empty() || refuseShortcutFolder(shortcutFolder)) shortcutPath.clear();
        removeApplicationShortcuts(folder, slot, folderOf(shortcutPath), longName);

        WalkContext walk = commandWalkContext();
        // A name with a separator or a step upwards names no file of this installation, and
        // spares none.
        if (!isPlainName(exeName)) walk.sparedName.clear();
        std::int32_t count = 0;
        countFiles(folder, count, walk);
        progressTotal = 2 * count;
        lastProgressPercent = 0;
        grantInstallAccess(folder, regPath, true, walk);
        const bool emptied = deleteTreeContents(folder, walk);
        if (!cancelRequested.load()) {
            if (isPlainName(exeName)) ::DeleteFileW((folder + L"\\" + exeName).c_str());
            if (emptied) ::RemoveDirectoryW(folder.c_str());
        }
        if (cancelRequested.load()) return true;

        const std::wstring target = folder + L"\\" + exeName;
        deleteShortcut(target, mainShortcut, CSIDL_COMMON_STARTMENU, L"");
        deleteShortcut(target, mainShortcut, CSIDL_COMMON_PROGRAMS, longName);
        deleteUninstallShortcut(target, mainShortcut, longName);
        if (shortcutPath.size() > 3) ::DeleteFileW(shortcutPath.c_str());

        result = list.remove(folder);
        if (!result) setLastAssistantError(InstallRecordNotRemoved);
        notifyProgress(99);
    }
    if (result) deleteUninstallEntry(uninstallKey);
    notifyProgress(100);
    return result;
}

}  // namespace tendril
