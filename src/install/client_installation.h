// Registering one installation of a client product with Windows: its folder, access for Users,
// its install-directory slot, its "Uninstall" entry and its shortcuts. Everything it needs comes
// from the request; the reason of a failure is left in the error store.
#pragma once

#include "filetree/anchored_folder.h"

#include <string>

namespace tendril {

// HKEY_LOCAL_MACHINE\kUninstallRoot\<long name> <slot> is an installation's Uninstall entry.
inline constexpr wchar_t kUninstallRoot[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The installation folder anchored (anchored_folder.h) for a command that registers, opens up or
// removes it, with optionalAccess: refused, after logging why, when folder is not a path the
// walks would accept, when the anchor refuses it (a link on the way, a share of this machine, a
// protected folder, a decision that cannot be made), when regPath is one of the system's
// protected keys or the way to the client key or its records holds a registry link
// (refuseClientKey), or when the folder exists and the launcher's user may not change its access
// list (launcher_user.h). An installation is never registered, recorded or opened up there.
Anchor anchorInstallLocation(const std::wstring& folder, const std::wstring& regPath,
                             ACCESS_MASK optionalAccess);

// anchorInstallLocation's refusal alone, for a command that decides before it acts; a file in
// the folder's way is no refused location (creating the folder fails on it).
bool refuseInstallLocation(const std::wstring& folder, const std::wstring& regPath);

// True, after logging the refusal, when the folder of the client's shortcut is a protected
// location other than the shell's own shortcut folders: the Uninstall entry records it, and an
// uninstall deletes "<folder>\<name>.lnk" there as administrator, with names the launcher and
// applist.dat choose. An empty folder refuses nothing.
bool refuseShortcutFolder(const std::wstring& folder);

// A negative index installs afresh: the folder is created when missing, the data files guest.dat,
// addpkg.dat and applist.dat in it are deleted, an unrecorded folder gets the first free slot and
// progress 10, 15, 70, 80 and 95 is reported. An index of 0 or more re-registers a folder that
// must already be recorded. In both modes the folder and the keys are given to Users, the
// Uninstall entry of the slot is written from scratch, the folder is recorded and the shortcuts
// of the request are applied. True only when the folder is recorded in a slot at the end.
// Errors: AccessNotGranted (refused location, a long name that names no single Uninstall entry,
// or the grant failed), InstallFolderUnavailable, NoFreeInstallSlot, UninstallKeyNotCreated,
// InstallRecordNotStored.
bool InstallClient(int index);

}  // namespace tendril
