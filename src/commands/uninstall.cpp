#include "commands/uninstall.h"

#include "commands/app_list.h"
#include "commands/process_termination.h"
#include "common/ascii_case.h"
#include "filetree/access_grant.h"
#include "filetree/anchored_folder.h"
#include "filetree/entry_handle.h"
#include "filetree/path_guard.h"
#include "filetree/protected_locations.h"
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

std::wstring fileNameOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// links: the launcher's shortcut folder, anchored, or null when none is known.
void removeApplicationShortcuts(const Anchor& installation, const std::wstring& folder, int slot,
                                HANDLE links, const std::wstring& group) {
    std::vector<AppListRecord> records;
    if (!installation.exists() || !readAppList(installation.folder.get(), records)) return;
    for (const AppListRecord& record : records) {
        const std::wstring name = fieldText(record.name);
        if (!isPlainName(name)) continue;
        const std::wstring displayName = makeInstallName(name, false, slot);
        const std::wstring target = folder + L"\\" + fieldText(record.path);
        if (links != nullptr) deleteChildFile(links, displayName + L".lnk");
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
        // The records of a system key, or of one reached through a registry link, are no records
        // of ours and were never read; and a refusal is no success: the launcher hears it as it
        // hears a refused folder.
        if (list.refused()) {
            notifyProgress(0);
            setLastAssistantError(InstallFolderTooShort);
            notifyProgress(100);
        }
        return false;
    }
    const std::wstring iconName = fieldText(assistantRequest.iconName);
    // An icon name that names no file names no shortcut, whatever the slot's number adds.
    const std::wstring mainShortcut =
        isPlainName(iconName) ? makeInstallName(iconName, false, slot) : std::wstring();
    notifyProgress(0);
    // The entry is deleted at the end through the handle opened here.
    const std::wstring entryName = uninstallEntryName(longName, slot);
    AnchoredKey uninstallKey = openUninstallEntry(entryName);
    // An entry of the name that names another folder is another product's.
    const bool foreignEntry = !isInstallationsEntry(uninstallKey, entryName, {folder});

    bool result = false;
    // The folder is opened once, from its drive down and never through a link; everything below
    // acts through that handle, so a folder turned into a link after this point leads nowhere.
    Anchor installation;
    if (folder.size() > 3)
        installation = anchorInstallLocation(folder, regPath,
                                             DELETE | WRITE_DAC | FILE_WRITE_ATTRIBUTES);
    // The walks would refuse such a folder, and its record and key must then stay with it.
    // A file where the folder should be is a folder that is gone (the grant says so, error 9).
    if (folder.size() <= 3 ||
        (installation.refused() && installation.refusal != AnchorRefusal::NotAFolder) ||
        uninstallKey.refused() || foreignEntry) {
        setLastAssistantError(InstallFolderTooShort);
    } else {
        std::wstring shortcutPath;
        if (uninstallKey.isOpen()) shortcutPath = shortcutPathOf(uninstallKey.key());
        // The entry may predate the registration's check of that folder: no shortcut is deleted
        // from a folder that has none of ours, nor from one the path does not name. The
        // launcher's user may own that folder, so it is anchored like the installation.
        const std::wstring shortcutFolder = folderOf(shortcutPath);
        Anchor links;
        if (!shortcutFolder.empty())
            links = anchorFolderOrLog(shortcutFolder, GuardUse::ShortcutFolder);
        const HANDLE linksFolder = links.exists() ? links.folder.get() : nullptr;
        removeApplicationShortcuts(installation, folder, slot, linksFolder, longName);

        WalkContext walk = commandWalkContext();
        // A name with a separator or a step upwards names no file of this installation, and
        // spares none.
        if (!isPlainName(exeName)) walk.sparedName.clear();
        std::int32_t count = 0;
        countFiles(installation.folder, count, walk);
        progressTotal = 2 * count;
        lastProgressPercent = 0;
        grantInstallAccess(installation, regPath, true, walk);
        deleteTreeContents(installation.folder, walk);
        if (!cancelRequested.load() && installation.exists()) {
            if (isPlainName(exeName)) deleteChildFile(installation.folder.get(), exeName);
            // Only an emptied folder goes: one that kept a file refuses.
            deleteThroughHandle(installation.folder.get());
        }
        if (cancelRequested.load()) return true;

        const std::wstring target = folder + L"\\" + exeName;
        deleteShortcut(target, mainShortcut, CSIDL_COMMON_STARTMENU, L"");
        deleteShortcut(target, mainShortcut, CSIDL_COMMON_PROGRAMS, longName);
        // No main shortcut, no "Uninstall" one: "Uninstall " alone names no shortcut of ours.
        if (!mainShortcut.empty()) deleteUninstallShortcut(target, mainShortcut, longName);
        if (linksFolder != nullptr) deleteChildFile(linksFolder, fileNameOf(shortcutPath));

        result = list.remove(folder);
        if (!result) setLastAssistantError(InstallRecordNotRemoved);
        notifyProgress(99);
    }
    if (result) deleteUninstallEntry(uninstallKey);
    notifyProgress(100);
    return result;
}

}  // namespace tendril
