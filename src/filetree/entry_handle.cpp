#include "filetree/entry_handle.h"

#include <winternl.h>

#include <limits>

namespace tendril {

namespace {

constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022L);
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043L);

// What the optional part of an access may be refused for, leaving the rest worth asking for.
bool refusesOptionalAccess(NTSTATUS status) {
    return status == kStatusAccessDenied || status == kStatusSharingViolation;
}

// Everyone else keeps every kind of access they have; we only ever add to what they can do.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

LONG openRelative(HANDLE folder, std::wstring_view name, ACCESS_MASK access, UniqueFile& entry,
                  ULONG disposition, ULONG options) {
    constexpr std::size_t kMaxNameBytes = std::numeric_limits<USHORT>::max();
    if (name.empty() || name.size() * sizeof(wchar_t) > kMaxNameBytes)
        return static_cast<NTSTATUS>(0xC0000033L);  // STATUS_OBJECT_NAME_INVALID
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<wchar_t*>(name.data());
    objectName.Length = objectName.MaximumLength =
        static_cast<USHORT>(name.size() * sizeof(wchar_t));
    // The name is matched exactly as the listing spelled it.
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, 0, folder, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE handle = nullptr;
    const NTSTATUS status = ::NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, kShareAll, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT |
            FILE_SYNCHRONOUS_IO_NONALERT,
        nullptr, 0);
    entry.reset(NT_SUCCESS(status) ? handle : INVALID_HANDLE_VALUE);
    return status;
}

bool fileIdOf(HANDLE entry, LONGLONG& fileId) {
    FILE_INTERNAL_INFORMATION info;
    IO_STATUS_BLOCK io;
    if (!NT_SUCCESS(
            ::NtQueryInformationFile(entry, &io, &info, sizeof info, FileInternalInformation)))
        return false;
    fileId = info.IndexNumber.QuadPart;
    return true;
}

namespace {

bool hasFileId(HANDLE entry, LONGLONG fileId) {
    LONGLONG id = 0;
    return fileIdOf(entry, id) && id == fileId;
}

// The attributes a program may set; the others (directory, reparse point, compression and the
// like) are the file system's to keep.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool setAttributes(HANDLE entry, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    attributes &= kSettableAttributes;
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool markForDeletion(HANDLE entry) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(entry, FileDispositionInfo, &disposition,
                                        sizeof disposition) != FALSE;
}

}  // namespace

EntryKind pathKind(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW(path.c_str(), &data));
    return find ? entryKind(data.dwFileAttributes, data.dwReserved0) : EntryKind::None;
}

EntryKind handleKind(HANDLE entry) {
    FILE_ATTRIBUTE_TAG_INFO info;
    if (!::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &info, sizeof info))
        return EntryKind::None;
    return entryKind(info.FileAttributes, info.ReparseTag);
}

bool volumeSerialOf(HANDLE entry, DWORD& serial) {
    // Room for the record and a volume label of any length.
    union {
        FILE_FS_VOLUME_INFORMATION info;
        BYTE bytes[sizeof(FILE_FS_VOLUME_INFORMATION) + MAX_PATH * sizeof(wchar_t)];
    } volume;
    IO_STATUS_BLOCK io;
    if (!NT_SUCCESS(::NtQueryVolumeInformationFile(entry, &io, &volume, sizeof volume,
                                                   FileFsVolumeInformation)))
        return false;
    serial = volume.info.VolumeSerialNumber;
    return true;
}

UniqueFile openPath(const std::wstring& path, ACCESS_MASK access, ACCESS_MASK optionalAccess) {
    constexpr DWORD kFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    if (optionalAccess != 0) {
        UniqueFile entry(::CreateFileW(path.c_str(), access | optionalAccess, kShareAll, nullptr,
                                       OPEN_EXISTING, kFlags, nullptr));
        const DWORD error = ::GetLastError();
        if (entry || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return entry;
    }
    return UniqueFile(
        ::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, kFlags, nullptr));
}

UniqueFile openPlainFolder(const std::wstring& path, ACCESS_MASK optionalAccess) {
    if (pathKind(path) != EntryKind::Folder) return UniqueFile();
    UniqueFile folder = openPath(path, kListFolderAccess, optionalAccess);
    if (!folder || handleKind(folder.get()) != EntryKind::Folder) return UniqueFile();
    return folder;
}

OpenedEntry openListedEntry(HANDLE folder, const ListedEntry& entry, ACCESS_MASK access,
                            ACCESS_MASK optionalAccess, DWORD folderVolume) {
    OpenedEntry opened;
    NTSTATUS status = 0;
    if (optionalAccess != 0)
        status = openRelative(folder, entry.name, access | optionalAccess, opened.handle);
    if (optionalAccess == 0 || refusesOptionalAccess(status))
        status = openRelative(folder, entry.name, access, opened.handle);
    if (!NT_SUCCESS(status)) return opened;

    const HANDLE handle = opened.handle.get();
    const EntryKind listed = entry.kind();
    bool same = hasFileId(handle, entry.fileId);
    if (same && listed != EntryKind::File) same = handleKind(handle) == listed;
    if (same && listed == EntryKind::Folder) {
        DWORD volume = 0;
        same = volumeSerialOf(handle, volume) && volume == folderVolume;
    }
    if (!same) {
        opened.handle.reset();
        opened.outcome = EntryOpen::Changed;
        return opened;
    }
    opened.outcome = EntryOpen::Opened;
    return opened;
}

bool deleteThroughHandle(HANDLE entry) {
    if (markForDeletion(entry)) return true;
    if (::GetLastError() != ERROR_ACCESS_DENIED) return false;
    // A read-only file or folder refuses deletion; only this handle's entry loses the mark.
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        return false;
    if (!setAttributes(entry, basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    if (markForDeletion(entry)) return true;
    setAttributes(entry, basic.FileAttributes);
    return false;
}

}  // namespace tendril
