#include "install/install_directory_list.h"

#include "filetree/protected_locations.h"
#include "install/install_path.h"
#include "launcher_link/launcher_user.h"
#include "log/format.h"

namespace tendril {

namespace {

// After a grant Users control the client key, so they can replace "Install", or any key on the
// way to it, with a registry link to any key of the machine: every component is opened as itself
// and a link refused, so that the records are neither read from nor written to a key a link
// points at.
constexpr wchar_t kInstallSubKey[] = L"Install";

}  // namespace

std::wstring InstallDirectoryList::valueName(int slot) {
    if (slot == 0) return L"Directory";
    wchar_t name[32];
    formatTruncated(name, L"Directory%d", slot);
    return name;
}

void InstallDirectoryList::open(const std::wstring& registryPath, HKEY root) {
    root_ = root;
    registryPath_ = registryPath;
    key_.close();
    opened_ = false;
    refused_ = false;
    // The records of a system key are no records of ours: never read (a load rewrites unusable
    // values) nor written.
    if (!registryPath_.empty() && refuseProtectedRegistryPath(registryPath_)) refuse();
    if (registryPath_.empty()) return;
    openClientKey(KeyUse::Open);
}

void InstallDirectoryList::refuse() {
    refused_ = true;
    registryPath_.clear();
    key_.close();
    opened_ = false;
}

void InstallDirectoryList::openClientKey(KeyUse use) {
    AnchoredKey client = AnchoredKey::open(root_, registryPath_, kRegistryKeyAccess, use);
    if (use == KeyUse::Create) client.createMissing();
    if (logKeyRefusal(client)) {
        refuse();
        return;
    }
    if (!client.isOpen()) return;
    key_ = client.release();
    opened_ = true;
}

AnchoredKey InstallDirectoryList::openInstallKey(KeyUse use) {
    AnchoredKey install =
        AnchoredKey::openChild(key_.get(), kInstallSubKey, kRegistryKeyAccess, use);
    if (use == KeyUse::Create) install.createMissing();
    if (logKeyRefusal(install, registryPath_)) refuse();
    return install;
}

void InstallDirectoryList::load() {
    if (!opened_ && !registryPath_.empty()) openClientKey(KeyUse::Open);
    if (!opened_) return;

    const AnchoredKey install = openInstallKey(KeyUse::Open);
    if (!install.isOpen()) {
        for (std::wstring& slot : slots_) slot.clear();
        return;
    }

    for (int i = 0; i < kSlotCount; ++i) {
        const std::wstring name = valueName(i);
        wchar_t buffer[kReadBufferChars];
        DWORD length = kReadBufferChars;
        if (install.key().readString(name.c_str(), buffer, length) == ERROR_SUCCESS) {
            // readString checked the terminating NUL; the text ends at the first NUL it holds.
            slots_[i] = length == 0 ? std::wstring() : std::wstring(buffer);
            normalizeInstallPath(slots_[i]);
        } else {
            slots_[i].clear();
            install.key().writeString(name.c_str(), L"");
        }
    }
}

void InstallDirectoryList::store() {
    if (!opened_ && !registryPath_.empty()) openClientKey(KeyUse::Create);
    if (!opened_) return;

    // A key that could not be made or was refused is not open, and every write below then fails
    // harmlessly.
    const AnchoredKey install = openInstallKey(KeyUse::Create);
    for (int i = 0; i < kSlotCount; ++i)
        install.key().writeString(valueName(i).c_str(), slots_[i].c_str());
}

int InstallDirectoryList::findSlot(const std::wstring& normalizedPath) const {
    for (int i = 0; i < kSlotCount; ++i)
        if (equalIgnoringAsciiCase(slots_[i], normalizedPath)) return i;
    return -1;
}

int InstallDirectoryList::indexOf(const std::wstring& path) {
    std::wstring wanted = path;
    normalizeInstallPath(wanted);
    load();
    return findSlot(wanted);
}

void InstallDirectoryList::prune() {
    load();
    for (std::wstring& slot : slots_)
        if (slot.size() <= 3 || isFolderEmpty(slot)) slot.clear();
    store();
}

bool InstallDirectoryList::remove(const std::wstring& path) {
    std::wstring wanted = path;
    normalizeInstallPath(wanted);
    load();
    const int slot = findSlot(wanted);
    if (slot >= 0) {
        slots_[slot].clear();
        store();
    }
    return indexOf(path) == -1;
}

bool refuseClientKey(const std::wstring& regPath) {
    if (refuseProtectedRegistryPath(regPath)) return true;
    const AnchoredKey client = AnchoredKey::open(HKEY_LOCAL_MACHINE, regPath, READ_CONTROL);
    if (logKeyRefusal(client) || refuseUnlessLaunchersKey(client.get(), regPath)) return true;
    if (!client.isOpen()) return false;
    const AnchoredKey install = AnchoredKey::openChild(client.get(), kInstallSubKey, READ_CONTROL);
    return logKeyRefusal(install, regPath) ||
           refuseUnlessLaunchersKey(install.get(), regPath + L"\\" + kInstallSubKey);
}

}  // namespace tendril
