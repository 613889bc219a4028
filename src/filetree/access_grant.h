// Gives the Users group full control over an installation: its folder tree and its registry key
// with the "Install" subkey below HKEY_LOCAL_MACHINE.
#pragma once

#include "filetree/anchored_folder.h"
#include "filetree/walk_context.h"

#include <string>

namespace tendril {

// Opens HKEY_LOCAL_MACHINE\path (creating it when missing) one component at a time, each as
// itself, and sets usersSecurityDescriptor's access list on it. A registry link on the way, the
// key itself included, is refused and logged, so the list never reaches the key a link points
// to. True when the key was opened and its list set; false for an empty path (that would be
// HKEY_LOCAL_MACHINE itself).
bool setRegistryKeySecurity(const std::wstring& path);

// Secures folder, everything beneath it (setTreeSecurity with context, ticking per file when
// reportProgress), HKLM\regPath and HKLM\regPath\Install, rebuilding usersSecurityDescriptor
// first. The walk stops when context's cancel flag is set; the rest still runs. Records
// FolderNotFound (folder refused by isWalkablePath, missing, or a file), AccessNotGranted (a
// folder the anchor refuses: a protected one, a link on the way, a share of this machine; a
// protected registry path or a registry link on the way to either key; an existing folder whose
// access list the launcher's user may not change; all refused before anything is touched; or the
// folder's own list not set) or SecurityDescriptorFailed, and returns false in those cases;
// failures beneath the folder and in the registry are ignored. True when the folder itself
// received the descriptor.
bool grantInstallAccess(const std::wstring& folder, const std::wstring& regPath,
                        bool reportProgress, const WalkContext& context = {});

// The same for a folder the command has anchored (anchorFolderOrLog, GuardUse::Request, with
// WRITE_DAC among the optional access), which has logged any refusal: everything happens through
// its handle.
bool grantInstallAccess(const Anchor& folder, const std::wstring& regPath, bool reportProgress,
                        const WalkContext& context = {});

}  // namespace tendril
