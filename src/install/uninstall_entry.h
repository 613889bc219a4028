// An installation's entry under the Windows "Uninstall" key:
// HKEY_LOCAL_MACHINE\kUninstallRoot\<long name> <slot>. The root lies below SOFTWARE\Microsoft,
// which only administrators may change, but the entry's name comes from the request: it must name
// one key of the root, and the root and the entry are opened as themselves, from
// HKEY_LOCAL_MACHINE down (anchored_key.h), so that neither a name nor a registry link takes a
// write or a delete anywhere else.
#pragma once

#include "install/anchored_key.h"

#include <string>
#include <vector>

namespace tendril {

// "<longName> <slot>".
std::wstring uninstallEntryName(const std::wstring& longName, int slot);

// True, after logging the refusal, when no entry named after longName can be one key of the
// root: a '\' in it would make the entry a key below another one of the name's choosing.
bool refuseUninstallEntryName(const std::wstring& longName);

// Opens the entry for reading, writing and deleteUninstallEntry. A refusal is logged; the entry is
// then not open, and neither is an entry that does not exist.
AnchoredKey openUninstallEntry(const std::wstring& name);

// Deletes the opened entry with everything below it (deleteKeyTree); ERROR_INVALID_HANDLE when it
// is not open.
LSTATUS deleteUninstallEntry(AnchoredKey& entry);

// Deletes the entry named name, if there is one, with everything below it. 0 when it is gone,
// ERROR_FILE_NOT_FOUND when there was none, ERROR_ACCESS_DENIED when it was refused (logged).
LSTATUS deleteUninstallEntry(const std::wstring& name);

// Deletes the entry named name, if there is one, and creates it afresh, with the root when it is
// missing. The result is open on success, refused (logged) when a link was met or the name is not
// one key, and neither when the entry could not be made.
AnchoredKey recreateUninstallEntry(const std::wstring& name);

// True when the opened entry is the installation's to rewrite or delete: it names one of folders
// in its "InstallLocation" (letter case of A to Z, slashes, quotes and doubled backslashes aside).
// Entries under the Uninstall root are written by administrators only; one that names another
// folder is another product's, whatever its key is called. An entry that is not open (absent) is
// anybody's to create. Otherwise false, with "Refused Uninstall entry <name>: it names another
// folder" logged.
bool isInstallationsEntry(const AnchoredKey& entry, const std::wstring& name,
                          const std::vector<std::wstring>& folders);

}  // namespace tendril
