// The shell's special folders by CSIDL, and the folder of a shortcut target. Shortcuts live in the
// desktops, Start menus and Programs folders of all users and of the account we run under; these
// are the only places the shortcut code creates, scans or deletes in.
#pragma once

#include <string>

namespace tendril {

// The file-system path of a special folder as the shell gives it (at most 259 characters). True
// with path set; false, path untouched, when the folder does not exist on this system, cannot be
// found or is virtual (has no file-system path), or COM cannot be initialised on this thread.
bool getSpecialFolderPath(int csidl, std::wstring& path);

// The folder of a target, used as a shortcut's working directory: the text before the last
// backslash; with no backslash, the text before the last forward slash; with neither, empty
// (no working directory). "C:\app.exe" gives "C:", "C:\Games\X/bin/app.exe" gives "C:\Games".
std::wstring targetFolder(const std::wstring& target);

}  // namespace tendril
