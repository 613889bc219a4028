#include "install/client_installation.h"

#include "filetree/access_grant.h"
#include "filetree/anchored_folder.h"
#include "filetree/path_guard.h"
#include "filetree/protected_locations.h"
#include "install/install_directory_list.h"
#include "install/install_naming.h"
#include "install/registry_key.h"
#include "install/uninstall_entry.h"
#include "launcher_link/error_store.h"
#include "launcher_link/launcher_user.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"
#include "launcher_link/walk_context.h"
#include "log/log.h"
#include "shell/shortcut_command.h"
#include "shell/shortcut_ownership.h"

#include <tendril/protocol.h>

#include <windows.h>

namespace tendril {

namespace {

// The data files a fresh installation starts without.
constexpr const wchar_t* kDataFiles[] = {L"guest.dat", L"addpkg.dat", L"applist.dat"};

// A slot that a fresh installation may take: fewer than 3 characters (the refresh command has
// pruned such leftovers before).
int firstFreeSlot(const InstallDirectoryList::Slots& slots) {
    for (int i = 0; i < InstallDirectoryList::kSlotCount; ++i)
        if (slots[i].size() < 3) return i;
    return -1;
}

struct UninstallValue {
    const wchar_t* name;
    std::wstring data;
};

// 0 when written, else the error to record: AccessNotGranted when the entry or the way to it was
// refused, UninstallKeyNotCreated when it could not be made.
int writeUninstallEntry(const std::wstring& keyName, const std::wstring& displayName,
                        const std::wstring& shortcutPath) {
    const AnchoredKey created = recreateUninstallEntry(keyName);
    if (created.refused()) return AccessNotGranted;
    if (!created.isOpen()) return UninstallKeyNotCreated;
    const std::wstring folder = fieldText(assistantRequest.installFolder);
    const std::wstring executable = folder + L"\\" + fieldText(assistantRequest.exeName);
    // The uninstall reads "UninstallString" back and takes the shortcut from its second quoted
    // path, so its form never changes.
    const UninstallValue values[] = {
        {L"DisplayName", displayName},
        {L"UninstallString", L"\"" + executable + L"\" /uninstall \"" + shortcutPath + L"\""},
        {L"DisplayIcon", L"\"" + executable + L"\",0"},
        {L"InstallLocation", folder},
        {L"HelpLink", fieldText(assistantRequest.helpLink)},
        {L"URLInfoAbout", fieldText(assistantRequest.urlInfoAbout)},
        {L"URLUpdateInfo", fieldText(assistantRequest.urlUpdateInfo)},
    };
    for (const UninstallValue& value : values)
        created.key().writeString(value.name, value.data.c_str());
    return NoError;
}

// Stores the folder, as sent, in the first slot that is exactly empty unless a slot holds it
// already, and reads the records back.
bool recordFolder(InstallDirectoryList& list, const std::wstring& folder) {
    if (folder.size() <= 3) return false;
    list.load();
    if (list.indexOf(folder) == -1) {
        auto& slots = list.slots();
        int empty = 0;
        while (empty < InstallDirectoryList::kSlotCount && !slots[empty].empty()) ++empty;
        if (empty == InstallDirectoryList::kSlotCount) return false;
        slots[empty] = folder;
    }
    list.store();
    // Without a client key the list keeps the slot we just set in memory: only a key that
    // exists can hold the record.
    return list.opened() && list.indexOf(folder) != -1;
}

}  // namespace

Anchor anchorInstallLocation(const std::wstring& folder, const std::wstring& regPath,
                             ACCESS_MASK optionalAccess) {
    if (!isWalkablePath(folder)) {
        logText((L"Refused protected location: " + folder).c_str(), true);
        Anchor refused;
        refused.refusal = AnchorRefusal::NotAPlainPath;
        return refused;
    }
    Anchor anchor = anchorFolderOrLog(folder, GuardUse::Request, optionalAccess);
    if (!anchor.refused() && refuseClientKey(regPath)) anchor.refusal = AnchorRefusal::Protected;
    if (!anchor.refused()) refuseUnlessLaunchersOwn(anchor, folder);
    return anchor;
}

bool refuseInstallLocation(const std::wstring& folder, const std::wstring& regPath) {
    const Anchor anchor = anchorInstallLocation(folder, regPath, 0);
    return anchor.refused() && anchor.refusal != AnchorRefusal::NotAFolder;
}

bool refuseShortcutFolder(const std::wstring& folder) {
    return !folder.empty() && refuseProtectedFolder(folder, GuardUse::ShortcutFolder);
}

bool InstallClient(int index) {
    const bool fresh = index < 0;
    logFormat(true, L"InstallClient: index = %d", index);
    const std::wstring folder = fieldText(assistantRequest.installFolder);
    const std::wstring regPath = fieldText(assistantRequest.regPath);
    // Everything below happens through this one handle: the folder is never opened by its path
    // again, so a link put on the way after this point reaches nothing.
    Anchor anchor = anchorInstallLocation(folder, regPath, WRITE_DAC);
    const bool fileInTheWay = anchor.refusal == AnchorRefusal::NotAFolder;
    if ((anchor.refused() && !fileInTheWay) ||
        refuseShortcutFolder(fieldText(assistantRequest.shortcutFolder)) ||
        refuseUninstallEntryName(fieldText(assistantRequest.longName))) {
        setLastAssistantError(AccessNotGranted);
        return false;
    }
    if (fresh) {
        if (!anchor.exists() && (fileInTheWay || !createMissingFolders(anchor, WRITE_DAC))) {
            setLastAssistantError(InstallFolderUnavailable);
            return false;
        }
        notifyProgress(10);
    }

    InstallDirectoryList list;
    list.open(regPath);
    int slot = list.indexOf(folder);
    if (fresh && slot == -1) {
        list.load();
        slot = firstFreeSlot(list.slots());
    }
    if (slot == -1) {
        setLastAssistantError(NoFreeInstallSlot);
        return false;
    }
    const std::wstring longName = fieldText(assistantRequest.longName);
    const std::wstring keyName = uninstallEntryName(longName, slot);
    // An entry of that name that names another folder is another product's: not ours to rewrite.
    if (!isInstallationsEntry(openUninstallEntry(keyName), keyName, shortcutOwners())) {
        setLastAssistantError(AccessNotGranted);
        return false;
    }
    const std::wstring shortcutPath =
        fieldText(assistantRequest.shortcutFolder) + L"\\" +
        makeInstallName(fieldText(assistantRequest.iconName), false, slot) + L".lnk";
    if (fresh) notifyProgress(15);

    // The walk of the grant stops when the launcher cancels; nothing else here looks.
    if (!grantInstallAccess(anchor, regPath, false, commandWalkContext())) {
        setLastAssistantError(AccessNotGranted);
        return false;
    }
    if (fresh) {
        notifyProgress(70);
        for (const wchar_t* name : kDataFiles) deleteChildFile(anchor.folder.get(), name);
    }
    if (const int failed =
            writeUninstallEntry(keyName, makeInstallName(longName, false, slot), shortcutPath)) {
        setLastAssistantError(failed);
        return false;
    }
    const bool recorded = recordFolder(list, folder);
    if (!recorded) setLastAssistantError(InstallRecordNotStored);

    if (fresh) notifyProgress(80);
    applyShortcuts();
    if (fresh) notifyProgress(95);
    return recorded;
}

}  // namespace tendril
