#include "install/install_directory_list.h"

#include "filetree/protected_locations.h"
#include "install/install_path.h"
#include "log/format.h"

namespace tendril {

namespace {

// After a grant Users control the client key, so they can replace "Install" with a registry link
// to any key of the machine: it is always opened as itself, so that the records are neither read
// from nor written to the key a link points at.
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
    // The records of a system key are no records of ours: never read (a load rewrites unusable
    // values) nor written.
    if (!registryPath_.empty() && refuseProtectedRegistryPath(registryPath_)) registryPath_.clear();
    if (registryPath_.empty()) return;
    RegistryKeyResult result = openRegistryKeyLegacy(root_, registryPath_.c_str());
    if (result.status != ERROR_SUCCESS) return;
    key_ = std::move(result.key);
    opened_ = true;
}

void InstallDirectoryList::load() {
    if (!opened_ && !registryPath_.empty()) {
        RegistryKeyResult result = openRegistryKeyLegacy(root_, registryPath_.c_str());
        if (result.status == ERROR_SUCCESS) {
            key_ = std::move(result.key);
            opened_ = true;
        }
    }
    if (!opened_) return;

    RegistryKey install;
    if (registryPath_.empty() ||
        install.openAsItself(key_.get(), kInstallSubKey) != ERROR_SUCCESS) {
        for (std::wstring& slot : slots_) slot.clear();
        return;
    }

    for (int i = 0; i < kSlotCount; ++i) {
        const std::wstring name = valueName(i);
        wchar_t buffer[kReadBufferChars];
        DWORD length = kReadBufferChars;
        if (install.readString(name.c_str(), buffer, length) == ERROR_SUCCESS) {
            // readString checked the terminating NUL; the text ends at the first NUL it holds.
            slots_[i] = length == 0 ? std::wstring() : std::wstring(buffer);
            normalizeInstallPath(slots_[i]);
        } else {
            slots_[i].clear();
            install.writeString(name.c_str(), L"");
        }
    }
}

void InstallDirectoryList::store() {
    if (!opened_ && !registryPath_.empty()) {
        RegistryKeyResult result = createRegistryKey(root_, registryPath_.c_str());
        if (result.status == ERROR_SUCCESS) {
            key_ = std::move(result.key);
            opened_ = true;
        }
    }
    if (!opened_) return;

    // A failed creation leaves the key closed, and every write below then fails harmlessly.
    const RegistryKeyResult install = createRegistryKeyAsItself(key_.get(), kInstallSubKey);
    for (int i = 0; i < kSlotCount; ++i)
        install.key.writeString(valueName(i).c_str(), slots_[i].c_str());
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

}  // namespace tendril
