#include "filetree/access_grant.h"

#include "common/unique_handle.h"
#include "filetree/entry_handle.h"
#include "filetree/path_guard.h"
#include "filetree/protected_locations.h"
#include "filetree/secure_entry.h"
#include "filetree/tree_walks.h"
#include "filetree/users_descriptor.h"
#include "install/anchored_key.h"
#include "launcher_link/error_store.h"
#include "launcher_link/launcher_user.h"

#include <tendril/protocol.h>

#include <windows.h>

namespace tendril {

namespace {

constexpr wchar_t kInstallSubKey[] = L"Install";

// Once Users control an installation's key they can put a registry link anywhere below it; a key
// opened by its whole path would then carry our access list, and an elevated create, to whatever
// key of the machine the link names. Keys are opened from HKEY_LOCAL_MACHINE down, each component
// as itself, and a link is refused (anchored_key.h).
bool setKeySecurity(const AnchoredKey& key) {
    PSECURITY_DESCRIPTOR descriptor = usersSecurityDescriptor.get();
    return key.isOpen() && descriptor != nullptr &&
           ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
}

// The installation's key and its "Install" key, opened as far as they exist before anything is
// touched, and secured afterwards through these handles.
struct InstallKeys {
    AnchoredKey client;
    AnchoredKey install;
};

// False, after logging the refusal, when either key is refused.
bool openInstallKeys(const std::wstring& regPath, InstallKeys& keys) {
    keys.client = AnchoredKey::open(HKEY_LOCAL_MACHINE, regPath, KEY_ALL_ACCESS, KeyUse::Create);
    // A key that exists already is opened up only for a launcher whose user could do it himself;
    // one that is missing is ours to create and to hand out.
    if (logKeyRefusal(keys.client) || refuseUnlessLaunchersKey(keys.client.get(), regPath))
        return false;
    if (keys.client.isOpen())
        keys.install = AnchoredKey::openChild(keys.client.get(), kInstallSubKey, KEY_ALL_ACCESS,
                                              KeyUse::Create);
    return !logKeyRefusal(keys.install, regPath) &&
           !refuseUnlessLaunchersKey(keys.install.get(), regPath + L"\\" + kInstallSubKey);
}

// Creates what is missing of both keys and sets the list on them. Failures are ignored; false,
// after logging, only when a key is refused (a link put in the way since they were opened).
bool secureInstallKeys(const std::wstring& regPath, InstallKeys& keys) {
    keys.client.createMissing();
    if (logKeyRefusal(keys.client)) return false;
    setKeySecurity(keys.client);
    if (!keys.client.isOpen()) return true;
    if (!keys.install.isOpen())
        keys.install = AnchoredKey::openChild(keys.client.get(), kInstallSubKey, KEY_ALL_ACCESS,
                                              KeyUse::Create);
    keys.install.createMissing();
    if (logKeyRefusal(keys.install, regPath)) return false;
    setKeySecurity(keys.install);
    return true;
}

}  // namespace

bool setRegistryKeySecurity(const std::wstring& path) {
    if (path.empty()) return false;
    AnchoredKey key = AnchoredKey::open(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, KeyUse::Create);
    key.createMissing();
    if (logKeyRefusal(key)) return false;
    return setKeySecurity(key);
}

bool grantInstallAccess(const std::wstring& folder, const std::wstring& regPath,
                        bool reportProgress, const WalkContext& context) {
    if (!isWalkablePath(folder)) {
        setLastAssistantError(FolderNotFound);
        return false;
    }
    Anchor anchor = anchorFolderOrLog(folder, GuardUse::Request, WRITE_DAC);
    if (!anchor.refused()) refuseUnlessLaunchersOwn(anchor, folder);
    return grantInstallAccess(anchor, regPath, reportProgress, context);
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
    // The keys are decided on now, before anything is touched, and secured below through the
    // handles opened here.
    InstallKeys keys;
    if (!regPath.empty() && !openInstallKeys(regPath, keys)) {
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
    if (!regPath.empty() && !secureInstallKeys(regPath, keys)) {
        setLastAssistantError(AccessNotGranted);
        return false;
    }
    return true;
}

}  // namespace tendril
