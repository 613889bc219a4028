// The system's own folders and keys, which no request may have us secure, empty, move, record or
// end. We act as administrator on paths that unelevated code sends us: without this guard a
// launcher could hand Users the Windows folder, have a profile deleted, or rewrite every
// product's Uninstall entry. Every command asks it about every location its request names, and
// every walk asks it about the folder it was given.
#pragma once

#include <windows.h>

#include <string>

namespace tendril {

enum class GuardUse {
    // A location a request names: every rule applies.
    Request,
    // The folder a walk is given. A folder strictly inside one of the shell folders that hold
    // shortcuts is allowed, although those lie inside ProgramData\Microsoft or a profile: the
    // shortcut tidy-up removes an emptied program group there.
    WalkRoot,
    // The folder a shortcut of the client is recorded in (its Uninstall entry names it) and
    // deleted from: the shell folders that hold shortcuts, and what lies inside them, are where
    // shortcuts belong. The Windows folder and the all-users Startup folder, where anything
    // placed runs at every logon, never are, and every other rule applies.
    ShortcutFolder,
    // The folder of a program whose processes a request would have ended: only the Windows
    // folder and what lies inside it are the system's there. Whose folder it is decides the rest.
    ProgramFolder,
};

// True when folder (made absolute, letter case of A to Z and one trailing backslash ignored) is
// a system folder, an ancestor of one, or lies inside one whose contents are the system's too.
// Checked both as written and, when it exists, as the folder it finally resolves to through
// links and short names. When the profiles folder cannot be found, every folder is protected.
bool isProtectedFolder(const std::wstring& folder, GuardUse use = GuardUse::Request);

// isProtectedFolder for a path that was already resolved component by component from its volume
// root (anchored_folder.h): decided on its text alone, nothing is opened again.
bool isProtectedResolvedFolder(const std::wstring& folder, GuardUse use);

// When the object with this volume serial and file id is one of the system's protected folders,
// its path as the guard knows it; otherwise empty. Lets a walk from the volume root see a system
// folder that it reached under another name (another drive letter for the same volume, say).
std::wstring protectedFolderWithId(DWORD volume, LONGLONG fileId);

// True when a key path below HKEY_LOCAL_MACHINE has fewer than two components, or is one of the
// system's own trees (SOFTWARE\Microsoft, SYSTEM, ...) or lies inside one.
bool isProtectedRegistryPath(const std::wstring& path);

// True when an executable path lies inside the Windows folder.
bool isProtectedExecutable(const std::wstring& path);

// The same three questions for a request, logging "Refused protected location: <path>" when
// the answer is yes.
bool refuseProtectedFolder(const std::wstring& folder, GuardUse use = GuardUse::Request);
bool refuseProtectedRegistryPath(const std::wstring& path);
bool refuseProtectedExecutable(const std::wstring& path);

}  // namespace tendril
