// Writing one shell shortcut (".lnk") that starts a program, directly in a special folder or in a
// program group folder below it, which is created when missing (one level only). On request the
// folder that holds the shortcut gets the program's icon.
#pragma once

#include "shell/folder_icon.h"

#include <string>

namespace tendril {

// Writes "<special folder>\<name>.lnk", or "<special folder>\<subfolder>\<name>.lnk" when
// subfolder is not empty. A file of that name is replaced only when mayReplaceShortcutFile allows
// it (a shortcut into the installation's folder); any other stays and nothing is saved. The
// shortcut starts target with no arguments, in the target's folder (targetFolder; none when that
// is empty), with the target's first icon. When setFolderIcon, the folder that holds it (the
// special folder itself when there is no subfolder) is given the target's icon. True when the
// file was saved and, where the icon was applied, that succeeded too; a system that offers no
// folder settings skips the icon.
//
// False, writing nothing, for an empty target, a name isShortcutName refuses, a subfolder that
// shortcutFolder refuses (outside the special folder, the all-users Startup folder, a link on the
// way), a file of that name that is not the installation's, or when COM, the special folder or
// the shell link object cannot be had. A subfolder that turns out to be a link once created gets
// nothing saved into it.
bool createShortcut(const std::wstring& target, const std::wstring& name, int csidl,
                    const std::wstring& subfolder, bool setFolderIcon);

// createShortcut with the folder-settings look-up given.
bool createShortcutWith(const std::wstring& target, const std::wstring& name, int csidl,
                        const std::wstring& subfolder, bool setFolderIcon,
                        const FolderSettingsLookup& lookup);

}  // namespace tendril
