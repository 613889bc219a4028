#include "filetree/access_grant.h"

#include "common/unique_handle.h"
#include "filetree/entry_handle.h"
#include "filetree/path_guard.h"
#include "filetree/protected_locations.h"
#include "filetree/secure_entry.h"
#include "filetree/tree_walks.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/error_store.h"

#include <tendril/protocol.h>

#include <windows.h>

namespace tendril {

namespace {

// Opens the key, creating it when missing. Once Users control an installation's key they could
// replace its "Install" subkey with a registry link; opening the link itself keeps our access list
// off whatever it points to, and keeps an elevated create from making a key at its target. One
// create call leaves no moment for a link to appear between a failed open and the create.
LSTATUS openKeyForSecurity(const std::wstring& path, UniqueKey& key) {
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_OPEN_LINK,
                             KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
}

}  // namespace

bool setRegistryKeySecurity(const std::wstring& path) {
    if (path.empty()) return false;
    UniqueKey key;
    if (openKeyForSecurity(path, key) != ERROR_SUCCESS) return false;
    PSECURITY_DESCRIPTOR descriptor = usersSecurityDescriptor.get();
    return descriptor != nullptr &&
           ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
}

bool grantInstallAccess(const std::wstring& folder, const std::wstring& regPath,
                        bool reportProgress, const WalkContext& context) {
    if (!isWalkablePath(folder)) {
        setLastAssistantError(FolderNotFound);
        return false;
    }
    return grantInstallAccess(anchorFolderOrLog(folder, GuardUse::Request, WRITE_DAC), regPath,
                              reportProgress, context);
}

bool grantInstallAccess(const Anchor& folder, const std::wstring& regPath, bool reportProgress,
                        const WalkContext& context) {
    // Handing Users a system folder or key, or whatever a link leads to, would hand them the
    // machine. A file where the folder should be is no installation folder.
    if (folder.refusal == AnchorRefusal::NotAFolder) {
        setLastAssistantError(FolderNotFound);
        return false;
    }
    if (folder.refused() || (!regPath.empty() && refuseProtectedRegistryPath(regPath))) {
        setLastAssistantError(AccessNotGranted);
        return false;
    }
    if (!folder.exists()) {
        setLastAssistantError(FolderNotFound);
        return false;
    }
    if (!buildUsersSecurityDescriptor()) {
        setLastAssistantError(SecurityDescriptorFailed);
        return false;
    }
    if (secureOpenedEntry(folder.folder.get(), usersSecurityDescriptor.get(), true) !=
        SecureResult::Applied) {
        setLastAssistantError(AccessNotGranted);
        return false;
    }
    setTreeSecurity(folder.folder, reportProgress, context);
    if (!regPath.empty()) {
        setRegistryKeySecurity(regPath);
        setRegistryKeySecurity(regPath + L"\\Install");
    }
    return true;
}

}  // namespace tendril
