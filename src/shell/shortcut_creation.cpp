#include "shell/shortcut_creation.h"

#include "shell/named_shortcut.h"
#include "shell/shortcut_location.h"
#include "shell/shortcut_ownership.h"

#include <shlobj.h>
#include <windows.h>

namespace tendril {

bool createShortcut(const std::wstring& target, const std::wstring& name, int csidl,
                    const std::wstring& subfolder, bool setFolderIcon) {
    return createShortcutWith(target, name, csidl, subfolder, setFolderIcon,
                              realFolderSettingsLookup());
}

bool createShortcutWith(const std::wstring& target, const std::wstring& name, int csidl,
                        const std::wstring& subfolder, bool setFolderIcon,
                        const FolderSettingsLookup& lookup) {
    const NamedShortcut shortcut(target, name, csidl, subfolder);
    if (!shortcut.ok()) return false;
    IShellLinkW* const link = shortcut.object().link.Get();
    link->SetIconLocation(target.c_str(), 0);
    if (FAILED(link->SetArguments(L""))) return false;

    const ShortcutFolder& folder = shortcut.folder();
    // One level only: a group whose parent is missing fails at the save below.
    ::CreateDirectoryW(folder.path.c_str(), nullptr);
    // Checked again now that the folder exists: it may have been there as a link all along. A
    // file already there is written over only when it is one of the installation's shortcuts.
    if (!reachedWithoutLink(folder) || !mayReplaceShortcutFile(shortcut.filePath())) return false;
    if (FAILED(shortcut.object().file->Save(shortcut.filePath().c_str(), TRUE))) return false;

    if (!setFolderIcon) return true;
    const std::optional<HRESULT> icon = applyFolderIcon(folder.path, target, lookup);
    return !icon || SUCCEEDED(*icon);
}

}  // namespace tendril
