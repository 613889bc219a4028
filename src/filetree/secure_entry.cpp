#include "filetree/secure_entry.h"

#include "common/unique_handle.h"

namespace tendril {

namespace {

// Opened with FILE_FLAG_OPEN_REPARSE_POINT the handle is the link itself, so what we set on it
// never reaches a target; a folder that proves to be a link must still not be entered, and its
// walk stops here. One small query each: the full information record costs ten times as much.
bool isLinkHandle(HANDLE entry, bool& failed) {
    FILE_ATTRIBUTE_TAG_INFO info;
    failed = !::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &info, sizeof info);
    return !failed && (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool hasSecondName(HANDLE entry, bool& failed) {
    FILE_STANDARD_INFO info;
    failed = !::GetFileInformationByHandleEx(entry, FileStandardInfo, &info, sizeof info);
    return !failed && info.NumberOfLinks > 1;
}

}  // namespace

SecureResult secureEntry(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor, bool isFolder) {
    if (descriptor == nullptr) return SecureResult::Failed;
    // WRITE_DAC and FILE_READ_ATTRIBUTES take part in no sharing check, so a file another
    // process holds open is still secured, as SetFileSecurityW would do it.
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (isFolder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    const UniqueFile entry(::CreateFileW(path, WRITE_DAC | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, flags, nullptr));
    if (!entry) return SecureResult::Failed;
    bool failed = false;
    const bool refused =
        isFolder ? isLinkHandle(entry.get(), failed) : hasSecondName(entry.get(), failed);
    if (failed) return SecureResult::Failed;
    if (refused) return SecureResult::Refused;
    return ::SetKernelObjectSecurity(entry.get(), DACL_SECURITY_INFORMATION, descriptor) == TRUE
               ? SecureResult::Applied
               : SecureResult::Failed;
}

}  // namespace tendril
