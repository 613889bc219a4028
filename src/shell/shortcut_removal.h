// Removing shortcuts: by name (the file createShortcut would have written) and by target (every
// shortcut to a program in the desktops, Start menus and program groups). Both remove a program
// group folder that the deletion left empty or holding only its Desktop.ini; a special folder
// itself, anything outside it and anything reached through a link are never removed.
#pragma once

#include <cstdint>
#include <string>

namespace tendril {

// Deletes the shortcut createShortcut(target, name, csidl, subfolder, ...) would have written (a
// missing file is fine) when mayReplaceShortcutFile allows it: a file of that name that is not a
// shortcut into the installation's folder stays. When subfolder names a program group, that group
// is tidied up either way. The target only prepares the shell link object, as creation does: the
// result is whether its path (and working directory, when the target has a folder) could be set,
// and false when a file of that name had to stay. False, deleting nothing, for an empty target, a
// refused name or subfolder (see createShortcut), or when COM, the special folder or the shell
// link object cannot be had.
bool deleteShortcut(const std::wstring& target, const std::wstring& name, int csidl,
                    const std::wstring& subfolder);

// deleteShortcut(target, "Uninstall <name>", CSIDL_COMMON_PROGRAMS, subfolder).
bool deleteUninstallShortcut(const std::wstring& target, const std::wstring& name,
                             const std::wstring& subfolder);

// Deletes every shortcut whose stored target, normalised with normalizeInstallPath, equals target
// (letters A to Z compared without regard to case), found at the top level of the account's
// desktop, the all-users desktop, the all-users and the account's Start menu, and the group
// folder below the all-users and the account's Programs folders. A group emptied of all but its
// Desktop.ini is removed. An empty group, or one naming its Programs folder itself, scans that
// folder and removes no folder; a group refused as createShortcut refuses it is not scanned.
// Finally tells the shell that associations changed. True when the last shortcut file loaded
// could be read, or when none was found and the shell link object could be had; false, deleting
// nothing, for an empty target or when COM, the desktop or the shell link object cannot be had.
bool deleteAllShortcut(const std::wstring& target, const std::wstring& group);

// Adds to counter the number of files and folders beneath folder, at every depth; a link counts
// as one entry and is not looked into. A folder that cannot be listed adds nothing.
void countFolderEntries(const std::wstring& folder, std::int32_t& counter);

}  // namespace tendril
