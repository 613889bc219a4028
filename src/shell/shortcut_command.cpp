#include "shell/shortcut_command.h"

#include "install/install_directory_list.h"
#include "install/install_naming.h"
#include "launcher_link/launcher_user.h"
#include "launcher_link/process_state.h"
#include "shell/shortcut_creation.h"
#include "shell/shortcut_location.h"
#include "shell/shortcut_removal.h"

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>

namespace tendril {

bool applyShortcuts() {
    const std::wstring installFolder = fieldText(assistantRequest.installFolder);
    // An empty folder would match the first free slot: it is no recorded installation.
    if (installFolder.empty()) return true;

    InstallDirectoryList records;
    records.open(fieldText(assistantRequest.regPath), HKEY_LOCAL_MACHINE);
    if (!records.opened()) return true;
    const int slot = records.indexOf(installFolder);
    if (slot < 0) return true;
    // Shortcuts into a folder are replaced and deleted for its installation: a folder that the
    // launcher's user may not change is some other product's, whose all-users shortcuts that user
    // could otherwise have taken away or re-pointed (a missing folder is nobody's yet).
    Anchor folder = anchorFolderOrLog(installFolder, GuardUse::Request);
    if (folder.refused() || refuseUnlessLaunchersOwn(folder, installFolder)) return true;

    const std::wstring group = fieldText(assistantRequest.longName);
    const std::wstring iconName = fieldText(assistantRequest.iconName);
    const bool startMenu = assistantRequest.startMenuShortcuts != 0;
    const bool programs = assistantRequest.programsShortcuts != 0;
    const bool iconAllowed = assistantRequest.iconShortcutFlag != 0;

    // The reader made the list as long as the count; never read past either.
    const std::size_t count =
        assistantRequest.entryCount > 0
            ? std::min(static_cast<std::size_t>(assistantRequest.entryCount), entryList.size())
            : 0;
    for (std::size_t i = 0; i < count; ++i) {
        const RequestEntry& entry = entryList[i];
        const std::wstring baseName = fieldText(entry.name);
        // The slot's number must not make a name that names nothing ("." or "..") acceptable.
        if (!isShortcutName(baseName)) continue;
        const std::wstring name = makeInstallName(baseName, false, slot);
        const std::wstring target = installFolder + L"\\" + fieldText(entry.path);
        const bool create = entry.create != 0;

        if (startMenu) {
            if (create)
                createShortcut(target, name, CSIDL_COMMON_STARTMENU, L"", false);
            else
                deleteShortcut(target, name, CSIDL_COMMON_STARTMENU, L"");
        }
        if (programs) {
            if (create)
                createShortcut(target, name, CSIDL_COMMON_PROGRAMS, group,
                               iconAllowed && baseName == iconName);
            else
                deleteShortcut(target, name, CSIDL_COMMON_PROGRAMS, group);
        }
    }
    return true;
}

}  // namespace tendril
