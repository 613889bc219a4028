#include "filetree/anchored_folder.h"

#include "common/ascii_case.h"
#include "common/growing_buffer.h"
#include "filetree/entry_handle.h"
#include "filetree/path_guard.h"
#include "filetree/tree_entry.h"
#include "log/format.h"
#include "log/log.h"

#include <winternl.h>

#include <array>
#include <limits>

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK io, PVOID buffer,
                                               ULONG length, FILE_INFORMATION_CLASS infoClass,
                                               BOOLEAN returnSingleEntry, PUNICODE_STRING fileName,
                                               BOOLEAN restartScan);

namespace tendril {

namespace {

constexpr ULONG kFileOpen = 1;    // FILE_OPEN
constexpr ULONG kFileCreate = 2;  // FILE_CREATE
constexpr ULONG kDirectoryFile = 0x00000001;
constexpr ULONG kNonDirectoryFile = 0x00000040;

// What every folder on the way is opened with: enough to list it, look a name up in it and open
// the next component relative to it.
// READ_CONTROL lets the folder's access list be asked about (whose folder it is).
constexpr ACCESS_MASK kWayAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool isDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// A component as it may be sent: not empty, not made of dots and spaces, not ending in a dot or
// a space (the system drops those, so the text would name a folder other than the one we judge),
// no wildcard or stream separator.
bool isPlainComponent(std::wstring_view name) {
    if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
    if (name.find_first_of(L"*?<>\"|:") != std::wstring_view::npos) return false;
    return name.find_first_not_of(L". ") != std::wstring_view::npos;
}

// Every name this machine answers to, as a server of a UNC path.
bool namesThisMachine(std::wstring_view server) {
    static constexpr std::array<const wchar_t*, 5> kLoopbackNames = {
        L"localhost", L"::1", L"0:0:0:0:0:0:0:1", L"[::1]", L"0--1.ipv6-literal.net"};
    for (const wchar_t* name : kLoopbackNames)
        if (equalIgnoringAsciiCase(server, name)) return true;
    // 127.0.0.0/8, written with dots.
    if (server.size() > 4 && server.substr(0, 4) == L"127." &&
        server.find_first_not_of(L"0123456789.") == std::wstring_view::npos)
        return true;
    static constexpr std::array<COMPUTER_NAME_FORMAT, 6> kFormats = {
        ComputerNameNetBIOS,         ComputerNameDnsHostname,         ComputerNameDnsFullyQualified,
        ComputerNamePhysicalNetBIOS, ComputerNamePhysicalDnsHostname, ComputerNamePhysicalDnsFullyQualified};
    for (const COMPUTER_NAME_FORMAT format : kFormats) {
        const std::wstring name = callWithGrowingBuffer([&](wchar_t* buffer, DWORD size) -> DWORD {
            DWORD length = size;
            if (::GetComputerNameExW(format, buffer, &length)) return length;
            return ::GetLastError() == ERROR_MORE_DATA ? length + 1 : 0;
        });
        if (!name.empty() && equalIgnoringAsciiCase(server, name)) return true;
    }
    return false;
}

// The path cut into its root ("X:\" or "\\server\share\") and its components.
struct SplitPath {
    AnchorRefusal refusal = AnchorRefusal::NotAPlainPath;
    std::wstring root;
    std::vector<std::wstring> components;
};

SplitPath splitPath(const std::wstring& path) {
    SplitPath split;
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) &&
        (path[2] == L'?' || path[2] == L'.') && isSeparator(path[3])) {
        split.refusal = AnchorRefusal::DevicePath;
        return split;
    }
    if (path.size() >= 4 && path[0] == L'\\' && path[1] == L'?' && path[2] == L'?' &&
        path[3] == L'\\') {
        split.refusal = AnchorRefusal::DevicePath;
        return split;
    }
    std::vector<std::wstring_view> parts;
    const std::wstring_view text(path);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isSeparator(text[i])) continue;
        parts.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    // One trailing separator names the same folder.
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();

    std::size_t first = 0;
    if (path.size() >= 3 && isDriveLetter(path[0]) && path[1] == L':' && isSeparator(path[2])) {
        split.root = std::wstring(path.substr(0, 2)) + L"\\";
        first = 1;
    } else if (parts.size() >= 4 && parts[0].empty() && parts[1].empty()) {
        const std::wstring_view server = parts[2], share = parts[3];
        if (!server.empty() && !share.empty() && (share.back() == L'$' || namesThisMachine(server))) {
            split.refusal = AnchorRefusal::LocalShare;
            return split;
        }
        if (!isPlainComponent(server) || !isPlainComponent(share)) return split;
        split.root = L"\\\\" + std::wstring(server) + L"\\" + std::wstring(share) + L"\\";
        first = 4;
    } else {
        return split;
    }
    for (std::size_t i = first; i < parts.size(); ++i) {
        if (!isPlainComponent(parts[i])) return split;
        split.components.emplace_back(parts[i]);
    }
    if (split.components.empty()) return split;
    split.refusal = AnchorRefusal::None;
    return split;
}

std::wstring withoutDevicePrefix(std::wstring path) {
    if (startsWithIgnoringAsciiCase(path, L"\\\\?\\UNC\\")) return L"\\" + path.substr(7);
    if (startsWithIgnoringAsciiCase(path, L"\\\\?\\")) return path.substr(4);
    return path;
}

std::wstring joined(const std::wstring& folder, std::wstring_view name) {
    std::wstring path = folder;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    path += name;
    return path;
}

// Fills in the identity of an opened folder; false when it cannot be read.
bool readIdentity(AnchoredFolder& folder) {
    return volumeSerialOf(folder.get(), folder.volume) && fileIdOf(folder.get(), folder.fileId);
}

// A folder reached under a name other than the one the guard knows it by is refused: the text
// decision would not have seen it.
bool isSystemFolderUnderAnotherName(const AnchoredFolder& folder) {
    const std::wstring known = protectedFolderWithId(folder.volume, folder.fileId);
    return !known.empty() && !equalIgnoringAsciiCase(known, folder.path);
}

// The volume root, and the path it finally has (a substituted drive is the folder it stands for).
AnchorRefusal openRoot(const std::wstring& root, AnchoredFolder& folder) {
    folder.handle.reset(::CreateFileW(root.c_str(), kWayAccess | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder || !readIdentity(folder) || handleKind(folder.get()) != EntryKind::Folder)
        return AnchorRefusal::Undecidable;
    folder.path = withoutDevicePrefix(callWithGrowingBuffer([&](wchar_t* buffer, DWORD size) {
        return ::GetFinalPathNameByHandleW(folder.get(), buffer, size, VOLUME_NAME_DOS);
    }));
    if (folder.path.empty()) return AnchorRefusal::Undecidable;
    if (startsWithIgnoringAsciiCase(folder.path, L"\\\\") && !startsWithIgnoringAsciiCase(root, L"\\\\"))
        return AnchorRefusal::LocalShare;  // a drive letter that stands for a share
    return isSystemFolderUnderAnotherName(folder) ? AnchorRefusal::Protected
                                                  : AnchorRefusal::None;
}

// Opens the child entry of parent as a plain folder with access (and optionalAccess as granted).
AnchorRefusal openChildFolder(const AnchoredFolder& parent, const ChildEntry& entry,
                              ACCESS_MASK access, ACCESS_MASK optionalAccess,
                              AnchoredFolder& child) {
    switch (entryKind(entry.attributes, entry.reparseTag)) {
        case EntryKind::Link:
            return AnchorRefusal::Link;
        case EntryKind::File:
            return AnchorRefusal::NotAFolder;
        default:
            break;
    }
    child.handle = openChild(parent.get(), entry, access, optionalAccess);
    if (!child) return AnchorRefusal::Link;  // gone, or something else under its name now
    // Under Windows a link or mount point opened as itself shows as one; under Wine the open
    // follows it, and the id (already compared) is what tells. The volume may change on the way
    // without a link where Wine maps a Unix mount point below a drive: that is no link.
    if (handleKind(child.get()) != EntryKind::Folder || !readIdentity(child) ||
        child.fileId != entry.fileId)
        return AnchorRefusal::Link;
    child.path = joined(parent.path, entry.name);
    return isSystemFolderUnderAnotherName(child) ? AnchorRefusal::Protected : AnchorRefusal::None;
}

}  // namespace

const wchar_t* refusalReason(AnchorRefusal refusal) {
    switch (refusal) {
        case AnchorRefusal::None:
            return L"not refused";
        case AnchorRefusal::NotAPlainPath:
            return L"not a plain absolute path";
        case AnchorRefusal::DevicePath:
            return L"a device path";
        case AnchorRefusal::LocalShare:
            return L"a share of this machine";
        case AnchorRefusal::Link:
            return L"a link on the way";
        case AnchorRefusal::NotAFolder:
            return L"a file on the way";
        case AnchorRefusal::Undecidable:
            return L"the decision could not be made";
        case AnchorRefusal::Protected:
            return L"a protected location";
        case AnchorRefusal::NotTheLaunchersOwn:
            return L"not the launcher's user's to change";
    }
    return L"refused";
}

std::wstring Anchor::fullPath() const {
    std::wstring path = folder.path;
    for (const std::wstring& name : missing) path = joined(path, name);
    return path;
}

Anchor anchorFolder(const std::wstring& path, GuardUse use, ACCESS_MASK optionalAccess) {
    Anchor anchor;
    const SplitPath split = splitPath(path);
    anchor.refusal = split.refusal;
    if (anchor.refused()) return anchor;

    anchor.refusal = openRoot(split.root, anchor.folder);
    if (anchor.refused()) return anchor;
    for (std::size_t i = 0; i < split.components.size(); ++i) {
        ChildEntry entry;
        if (!findChild(anchor.folder.get(), split.components[i], entry)) {
            anchor.refusal = AnchorRefusal::Undecidable;
            return anchor;
        }
        if (!entry.found) {
            anchor.missing.assign(split.components.begin() + static_cast<std::ptrdiff_t>(i),
                                  split.components.end());
            break;
        }
        const bool last = i + 1 == split.components.size();
        AnchoredFolder child;
        anchor.refusal = openChildFolder(anchor.folder, entry, kWayAccess,
                                         last ? optionalAccess : 0, child);
        if (anchor.refused()) return anchor;
        anchor.folder = std::move(child);
    }
    // A path that does not exist yet is decided as it will be named once created.
    anchor.refusal = isProtectedResolvedFolder(anchor.fullPath(), use) ? AnchorRefusal::Protected
                                                                       : AnchorRefusal::None;
    return anchor;
}

void logRefusal(const Anchor& anchor, const std::wstring& path) {
    if (anchor.refusal == AnchorRefusal::Protected)
        logFormat(true, L"Refused protected location: %ls", path.c_str());
    else if (anchor.refused() && anchor.refusal != AnchorRefusal::NotAFolder)
        logFormat(true, L"Refused %ls: %ls", path.c_str(), refusalReason(anchor.refusal));
}

Anchor anchorFolderOrLog(const std::wstring& path, GuardUse use, ACCESS_MASK optionalAccess) {
    Anchor anchor = anchorFolder(path, use, optionalAccess);
    logRefusal(anchor, path);
    return anchor;
}

bool createMissingFolders(Anchor& anchor, ACCESS_MASK optionalAccess) {
    if (anchor.refused() || !anchor.folder) return false;
    while (!anchor.missing.empty()) {
        const std::wstring name = anchor.missing.front();
        const bool last = anchor.missing.size() == 1;
        AnchoredFolder child;
        NTSTATUS status = -1;
        if (last && optionalAccess != 0)
            status = openRelative(anchor.folder.get(), name, kWayAccess | optionalAccess,
                                  child.handle, kFileCreate, kDirectoryFile);
        if (!NT_SUCCESS(status))
            status = openRelative(anchor.folder.get(), name, kWayAccess, child.handle,
                                  kFileCreate, kDirectoryFile);
        if (!NT_SUCCESS(status) || !readIdentity(child)) return false;
        child.path = joined(anchor.folder.path, name);
        anchor.folder = std::move(child);
        anchor.missing.erase(anchor.missing.begin());
    }
    return true;
}

bool findChild(HANDLE folder, const std::wstring& name, ChildEntry& entry) {
    entry = ChildEntry{};
    if (!isPlainName(name) || name.find_first_of(L"*?<>\"|") != std::wstring::npos ||
        name.size() * sizeof(wchar_t) > std::numeric_limits<USHORT>::max())
        return false;
    // A handle of its own: the name given to the first query of a handle stays its pattern, and
    // folder may yet be listed whole.
    const UniqueFile query(::ReOpenFile(folder, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        FILE_FLAG_BACKUP_SEMANTICS));
    if (!query) return false;
    UNICODE_STRING pattern;
    pattern.Buffer = const_cast<wchar_t*>(name.c_str());
    pattern.Length = pattern.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    union {
        FILE_ID_BOTH_DIR_INFO info;
        BYTE bytes[sizeof(FILE_ID_BOTH_DIR_INFO) + 512 * sizeof(wchar_t)];
    } record;
    IO_STATUS_BLOCK io;
    const NTSTATUS status =
        ::NtQueryDirectoryFile(query.get(), nullptr, nullptr, nullptr, &io, &record, sizeof record,
                               static_cast<FILE_INFORMATION_CLASS>(37),  // FileIdBothDirectoryInformation
                               TRUE, &pattern, TRUE);
    constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000FL);
    constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
    if (status == kNoSuchFile || status == kNoMoreFiles) return true;
    if (!NT_SUCCESS(status)) return false;
    entry.found = true;
    entry.name.assign(record.info.FileName, record.info.FileNameLength / sizeof(wchar_t));
    entry.attributes = record.info.FileAttributes;
    entry.reparseTag =
        (record.info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? record.info.EaSize : 0;
    entry.fileId = record.info.FileId.QuadPart;
    return true;
}

UniqueFile openChild(HANDLE folder, const ChildEntry& entry, ACCESS_MASK access,
                     ACCESS_MASK optionalAccess) {
    UniqueFile child;
    NTSTATUS status = -1;
    if (optionalAccess != 0) status = openRelative(folder, entry.name, access | optionalAccess, child);
    if (!NT_SUCCESS(status)) status = openRelative(folder, entry.name, access, child);
    LONGLONG id = 0;
    if (!NT_SUCCESS(status) || !fileIdOf(child.get(), id) || id != entry.fileId) return UniqueFile();
    return child;
}

bool deleteChildFile(HANDLE folder, const std::wstring& name) {
    ChildEntry entry;
    if (!findChild(folder, name, entry) || !entry.found ||
        entryKind(entry.attributes, entry.reparseTag) != EntryKind::File)
        return false;
    UniqueFile file;
    if (!NT_SUCCESS(openRelative(folder, entry.name,
                                 DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, file,
                                 kFileOpen, kNonDirectoryFile)))
        return false;
    LONGLONG id = 0;
    if (!fileIdOf(file.get(), id) || id != entry.fileId || handleKind(file.get()) != EntryKind::File)
        return false;
    return deleteThroughHandle(file.get());
}

bool moveFolderInto(HANDLE source, HANDLE destinationParent, const std::wstring& name) {
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFORMATION) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = destinationParent;
    rename->FileNameLength = static_cast<ULONG>(bytes);
    std::copy(name.begin(), name.end(), rename->FileName);
    IO_STATUS_BLOCK io;
    const NTSTATUS status = ::NtSetInformationFile(source, &io, rename,
                                                   static_cast<ULONG>(buffer.size()),
                                                   FileRenameInformation);
    if (NT_SUCCESS(status)) return true;
    ::SetLastError(::RtlNtStatusToDosError(status));
    return false;
}

}  // namespace tendril
