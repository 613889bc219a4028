#include "install/uninstall_entry.h"

#include "common/ascii_case.h"
#include "install/client_installation.h"
#include "install/install_path.h"
#include "log/log.h"

namespace tendril {

namespace {

// Values are read and written; deleteKeyTree needs the rest.
constexpr REGSAM kEntryAccess = kRegistryKeyAccess | kKeyTreeDeleteAccess;

// The root as far as it exists, or whole (created where missing) for KeyUse::Create; refusals
// logged.
AnchoredKey openRoot(KeyUse use) {
    AnchoredKey root = AnchoredKey::open(HKEY_LOCAL_MACHINE, kUninstallRoot,
                                         use == KeyUse::Create ? KEY_CREATE_SUB_KEY : 0, use);
    if (use == KeyUse::Create) root.createMissing();
    logKeyRefusal(root);
    return root;
}

// The entry below an open root, as itself; a refusal logged. The name is judged before the root
// is looked at, so a name that is not one key is refused even without a root.
AnchoredKey openEntry(HKEY root, const std::wstring& name, KeyUse use) {
    AnchoredKey entry = AnchoredKey::openChild(root, name, kEntryAccess, use);
    logKeyRefusal(entry, kUninstallRoot);
    return entry;
}

bool isOneName(const std::wstring& name) {
    return !name.empty() && name.find(L'\\') == std::wstring::npos;
}

}  // namespace

std::wstring uninstallEntryName(const std::wstring& longName, int slot) {
    return longName + L" " + std::to_wstring(slot);
}

bool refuseUninstallEntryName(const std::wstring& longName) {
    const std::wstring name = uninstallEntryName(longName, 0);
    if (isOneName(name)) return false;
    logKeyRefusal(AnchoredKey::openChild(nullptr, name, 0), kUninstallRoot);
    return true;
}

AnchoredKey openUninstallEntry(const std::wstring& name) {
    if (!isOneName(name)) return openEntry(nullptr, name, KeyUse::Open);
    AnchoredKey root = openRoot(KeyUse::Open);
    if (!root.isOpen()) return root;  // refused, or no root and so no entry
    return openEntry(root.get(), name, KeyUse::Open);
}

LSTATUS deleteUninstallEntry(AnchoredKey& entry) {
    if (!entry.isOpen()) return ERROR_INVALID_HANDLE;
    const LSTATUS status = deleteKeyTree(entry.get());
    if (status == ERROR_SUCCESS) entry = AnchoredKey();
    return status;
}

LSTATUS deleteUninstallEntry(const std::wstring& name) {
    AnchoredKey entry = openUninstallEntry(name);
    if (entry.refused()) return ERROR_ACCESS_DENIED;
    if (!entry.isOpen()) return ERROR_FILE_NOT_FOUND;
    return deleteUninstallEntry(entry);
}

AnchoredKey recreateUninstallEntry(const std::wstring& name) {
    if (!isOneName(name)) return openEntry(nullptr, name, KeyUse::Create);
    AnchoredKey root = openRoot(KeyUse::Create);
    if (!root.isOpen()) return root;  // refused, or not made
    AnchoredKey entry = openEntry(root.get(), name, KeyUse::Create);
    if (entry.isOpen()) {
        // Rebuilt from scratch: nothing others added to it survives. What cannot be deleted
        // stays, and the values below are written over it.
        deleteKeyTree(entry.get());
        entry = openEntry(root.get(), name, KeyUse::Create);
    }
    entry.createMissing();
    return entry;
}

bool isInstallationsEntry(const AnchoredKey& entry, const std::wstring& name,
                          const std::vector<std::wstring>& folders) {
    if (!entry.isOpen()) return true;
    wchar_t buffer[1024] = {};
    DWORD length = 1024;
    if (entry.key().readString(L"InstallLocation", buffer, length) == ERROR_SUCCESS) {
        std::wstring location = buffer;
        normalizeInstallPath(location);
        for (std::wstring folder : folders) {
            normalizeInstallPath(folder);
            if (!folder.empty() && equalIgnoringAsciiCase(location, folder)) return true;
        }
    }
    logText((L"Refused Uninstall entry " + name + L": it names another folder").c_str(), true);
    return false;
}

}  // namespace tendril
