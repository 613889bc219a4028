// Where a shortcut may be written or deleted. The names and the program group come from
// unelevated code, and we act on them as administrator in folders that every user's shell reads
// (and, for the Startup folder, runs from): a name or group that climbs out of its special folder
// could create or delete .lnk files anywhere, and an all-users shortcut placed in Startup would
// start a program at every user's logon. Everything the shortcut code touches is placed here.
//
// Unlike an installation folder, these folders are reached by their paths, not through anchored
// handles: the all-users Start menu, Programs folder and desktop are writable by administrators
// only, so no unelevated user can turn a folder on the way into a link; the link checks here are
// for a group a request names, which an earlier run may have left as a link.
#pragma once

#include <optional>
#include <string>

namespace tendril {

// True for a name that names a shortcut file inside its folder: a plain name (isPlainName: not
// empty, not made only of dots and spaces, no "\", "/" or ":"). Any other name names no shortcut.
bool isShortcutName(const std::wstring& name);

// The folder that holds the shortcuts of one special folder and program group.
struct ShortcutFolder {
    // The special folder and the shortcut folder, both as full paths (GetFullPathNameW), without
    // a trailing backslash.
    std::wstring specialFolder;
    std::wstring path;
    // True when path lies strictly inside specialFolder: a program group folder, which the
    // tidy-up may remove. False for the special folder itself.
    bool isGroup = false;
};

// The folder for specialFolder and subfolder: "<specialFolder>\<subfolder>", or the special folder
// itself when subfolder is empty. Nothing when the subfolder holds ':', '*' or '?', when the
// folder resolves outside the special folder, when it is the all-users Startup folder or lies
// inside it (whether or not that folder exists; also when its place cannot be looked up), or when
// a folder on the way from the special folder down to it, itself included, is a link.
std::optional<ShortcutFolder> shortcutFolder(const std::wstring& specialFolder,
                                             const std::wstring& subfolder);

// True when no folder below folder.specialFolder down to folder.path (included) is a link now.
// Folders that do not exist are no links.
bool reachedWithoutLink(const ShortcutFolder& folder);

// "<folder>\<name>.lnk". The name must have passed isShortcutName.
std::wstring shortcutFilePath(const ShortcutFolder& folder, const std::wstring& name);

// The full path of path as the system resolves it (GetFullPathNameW), without trailing
// backslashes beyond a root's; empty when it cannot be resolved.
std::wstring resolvedFullPath(const std::wstring& path);

// True when child lies strictly inside parent, both full paths without trailing backslashes;
// letter case is ignored as the file system ignores it.
bool isStrictlyInside(const std::wstring& parent, const std::wstring& child);

// True when a and b name the same path text, letter case ignored as the file system ignores it.
bool isSamePathText(const std::wstring& a, const std::wstring& b);

}  // namespace tendril
