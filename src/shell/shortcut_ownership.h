// Which existing shortcut files an installation may replace or delete. The all-users Start menu
// and Programs folder hold the shortcuts of every product on the machine, and whatever a shortcut
// there starts, every user who clicks it runs, administrators included. A request that names
// another product's shortcut must get it neither pointed at something else nor taken away: a
// shortcut file is the installation's only when the target stored in it lies inside the
// installation's folder.
//
// The folders a run acts for are the request's installFolder and those added with
// addShortcutOwner: the rename adds the folder it moves the installation out of, so that the
// re-registration at the new folder can replace the shortcuts that still lead to the old one.
#pragma once

#include <string>
#include <vector>

namespace tendril {

// Adds folder to the installation folders whose shortcuts this process may replace or delete.
void addShortcutOwner(const std::wstring& folder);

// The request's installFolder (as it reads now), then every folder given to addShortcutOwner.
std::vector<std::wstring> shortcutOwners();

// True when target, a stored target normalised with normalizeInstallPath, lies strictly inside
// one of folders. A folder is taken normalised in the same way, without trailing backslashes;
// both must pass isWalkablePath: absolute, no drive or share root, no "." or ".." component (a
// target "<folder>\..\x" leads out of the folder). Letters A to Z are compared without regard to
// case; the folder itself is not inside it.
bool liesInsideOwner(const std::wstring& target, const std::vector<std::wstring>& folders);

// True when the shortcut file at path may be written over or deleted on behalf of the run: there
// is nothing of that name, or it is a shortcut whose stored target liesInsideOwner of
// shortcutOwners(). False for a folder or a link of that name, a file that cannot be loaded as a
// shortcut or whose target is no file-system path, and a name that cannot be looked at. COM must
// be initialised on this thread.
bool mayReplaceShortcutFile(const std::wstring& path);

}  // namespace tendril
