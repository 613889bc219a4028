// Command 8: moves an installation to a new folder and its registration to new names.
#pragma once

#include <array>
#include <string>

namespace tendril {

// The five double-quoted values of the request's argument, in order: the destination folder, the
// old short name, the old long name, the old registry path and the old icon name. The k-th value
// is the text between the (2k-1)-th and 2k-th quote; a value whose quotes are missing is empty.
std::array<std::wstring, 5> splitQuotedValues(const std::wstring& argument);

// Moves installFolder to the destination (removing what stands there first; ten attempts 250 ms
// apart), clears the old registration (the old record and Uninstall key when the registry path
// changes, every shortcut to the old folder's Launcher.exe), then registers the installation
// again with the new names, unless it is a guest installation. A destination that is empty,
// relative, too short or too long for the request, or a protected source, destination or
// registry path, is refused before anything is touched. False, with InstallFolderUnavailable,
// when refused or the folder cannot be moved. (In a namespace of its own: the command code of the
// same name is an enumerator of tendril.)
namespace commands {
bool SetLongName();
}  // namespace commands

}  // namespace tendril
