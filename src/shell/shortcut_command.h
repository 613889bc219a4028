// The shortcut pass: brings one installation's shortcuts in the all-users Start menu and in its
// program group in line with the launcher's entry list. It is the whole of ApplyShortcuts, and
// client installation runs it as one of its steps.
#pragma once

namespace tendril {

// For every entry of the request, in order: creates (create non-zero) or deletes its shortcut in
// the all-users Start menu when startMenuShortcuts is set, then in the program group longName
// below the all-users Programs folder when programsShortcuts is set. The shortcut is named after
// the entry and the installation's slot (makeInstallName) and starts installFolder\path. The
// entry named exactly iconName gives the group its icon when iconShortcutFlag is set. A file
// already there under the shortcut's name is replaced or deleted only when it is a shortcut into
// the installation's folder (shortcut_ownership.h); another product's stays. An
// installation folder that is empty, not among the install-directory records of regPath, refused
// by its anchor (anchored_folder.h) or an existing folder whose access list the launcher's user
// may not change (launcher_user.h) changes nothing. Single failures are passed over; always true.
bool applyShortcuts();

}  // namespace tendril
