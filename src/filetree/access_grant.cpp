#include "filetree/access_grant.h"

#include "common/unique_handle.h"
#include "filetree/entry_handle.h"
#include "filetree/path_guard.h"
#include "filetree/secure_entry.h"
#include "filetree/tree_walks.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/error_store.h"

#include <tendril/protocol.h>

#include <windows.h>

namespace tendril {

namespace {

// Once Users control an installation's key they could replace its "Install" subkey with a
// registry link; opening the link itself keeps our access list off whatever it points to.
LSTATUS openKeyForSecurity(const std::wstring& path, UniqueKey& key) {
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS,
                           key.put());
}

}  // namespace

bool setRegistryKeySecurity(const std::wstring& path) {
    if (path.empty()) return false;
    UniqueKey key;
    LSTATUS status = openKeyForSecurity(path, key);
    if (status == ERROR_FILE_NOT_FOUND) {
        UniqueKey created;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, created.put(), nullptr) != ERROR_SUCCESS)
            return false;
        created.reset();
        status = openKeyForSecurity(path, key);
    }
    if (status != ERROR_SUCCESS) return false;
    PSECURITY_DESCRIPTOR descriptor = usersSecurityDescriptor.get();
    return descriptor != nullptr &&
           ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
}

bool grantInstallAccess(const std::wstring& folder, const std::wstring& regPath,
                        bool reportProgress, const WalkContext& context) {
    if (!isWalkablePath(folder) || pathKind(folder) != EntryKind::Folder) {
        setLastAssistantError(FolderNotFound);
        return false;
    }
    if (!buildUsersSecurityDescriptor()) {
        setLastAssistantError(SecurityDescriptorFailed);
        return false;
    }
    if (secureEntry(folder.c_str(), usersSecurityDescriptor.get(), true) != SecureResult::Applied) {
        setLastAssistantError(AccessNotGranted);
        return false;
    }
    setTreeSecurity(folder, reportProgress, context);
    if (!regPath.empty()) {
        setRegistryKeySecurity(regPath);
        setRegistryKeySecurity(regPath + L"\\Install");
    }
    return true;
}

}  // namespace tendril
