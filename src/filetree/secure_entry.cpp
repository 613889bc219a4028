#include "filetree/secure_entry.h"

#include "common/unique_handle.h"
#include "filetree/entry_handle.h"

namespace tendril {

namespace {

// One small query: the full information record costs ten times as much.
bool hasSecondName(HANDLE entry, bool& failed) {
    FILE_STANDARD_INFO info;
    failed = !::GetFileInformationByHandleEx(entry, FileStandardInfo, &info, sizeof info);
    return !failed && info.NumberOfLinks > 1;
}

}  // namespace

SecureResult secureOpenedEntry(HANDLE entry, PSECURITY_DESCRIPTOR descriptor, bool isFolder) {
    if (descriptor == nullptr) return SecureResult::Failed;
    if (!isFolder) {
        bool failed = false;
        const bool refused = hasSecondName(entry, failed);
        if (failed) return SecureResult::Failed;
        if (refused) return SecureResult::Refused;
    }
    return ::SetKernelObjectSecurity(entry, DACL_SECURITY_INFORMATION, descriptor) == TRUE
               ? SecureResult::Applied
               : SecureResult::Failed;
}

SecureResult secureEntry(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor, bool isFolder) {
    if (descriptor == nullptr) return SecureResult::Failed;
    const UniqueFile entry = openPath(path, kSecureAccess);
    if (!entry) return SecureResult::Failed;
    if (isFolder) {
        const EntryKind kind = handleKind(entry.get());
        if (kind == EntryKind::None) return SecureResult::Failed;
        if (kind != EntryKind::Folder) return SecureResult::Refused;
    }
    return secureOpenedEntry(entry.get(), descriptor, isFolder);
}

}  // namespace tendril
