// One entry of a walk, opened as itself and checked against what its folder listed before
// anything is done to it. Between the listing and the act an unelevated user who may change the
// tree can rename an entry away and put something else (a link to a folder outside) under its
// name; acting through a handle whose identity was checked means the act reaches the entry that
// was listed or nothing.
#pragma once

#include "common/unique_handle.h"
#include "filetree/tree_entry.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace tendril {

// What a walk asks for to read a folder's listing through its handle.
constexpr ACCESS_MASK kListFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;

// Opens name (one component, matched exactly) relative to the folder handle, as itself
// (FILE_OPEN_REPARSE_POINT), for synchronous I/O, with every kind of sharing: FILE_OPEN to open
// an entry, FILE_CREATE to make a new one that nothing else has that name. options adds
// NtCreateFile's create options (FILE_DIRECTORY_FILE, FILE_NON_DIRECTORY_FILE). Returns the
// NTSTATUS (a LONG); entry holds the handle on success and none otherwise.
LONG openRelative(HANDLE folder, std::wstring_view name, ACCESS_MASK access, UniqueFile& entry,
                  ULONG disposition = 1 /* FILE_OPEN */, ULONG options = 0);

// The file system's number of the opened entry; false when it cannot be queried.
bool fileIdOf(HANDLE entry, LONGLONG& fileId);

// The path itself looked up in its parent's listing (no wildcard, so a trailing backslash finds
// nothing). Under Wine this is where a directory link shows as one: a handle opened on it leads
// to its target.
EntryKind pathKind(const std::wstring& path);

// The kind of the opened entry itself; None when it cannot be queried.
EntryKind handleKind(HANDLE entry);

// The serial number of the volume the entry is on; false when it cannot be queried.
bool volumeSerialOf(HANDLE entry, DWORD& serial);

// Opens path as itself (never through a link, folders too) with access, and with optionalAccess
// as well unless that is refused, by access rights or by another handle's sharing (a folder that
// is some process's current directory cannot be opened for DELETE, yet can still be listed). No
// handle on failure.
UniqueFile openPath(const std::wstring& path, ACCESS_MASK access, ACCESS_MASK optionalAccess = 0);

// The root of a walk, opened for listing (kListFolderAccess plus optionalAccess as openPath
// adds it): a handle only when path is a plain folder both in its parent's listing and on the
// handle itself; a missing path, a file or a link gives none.
UniqueFile openPlainFolder(const std::wstring& path, ACCESS_MASK optionalAccess = 0);

enum class EntryOpen {
    // The handle is the listed entry.
    Opened,
    // It could not be opened (missing, in use, access denied).
    Failed,
    // What is there now is not the listed entry: leave it alone.
    Changed,
};

struct OpenedEntry {
    EntryOpen outcome = EntryOpen::Failed;
    UniqueFile handle;

    explicit operator bool() const { return outcome == EntryOpen::Opened; }
};

// Opens a listed entry by its name relative to the handle of the folder that listed it, as
// itself (FILE_OPEN_REPARSE_POINT), with access (and optionalAccess as openPath adds it). The
// entry is Changed unless the handle carries the listed file id; a listed folder must also be a
// plain folder on folderVolume, and a listed link a link, on the handle itself. Under Wine, where
// an open follows a directory link, that check is what keeps a swapped-in link from being
// taken for the folder it replaced: the target has another id.
OpenedEntry openListedEntry(HANDLE folder, const ListedEntry& entry, ACCESS_MASK access,
                            ACCESS_MASK optionalAccess, DWORD folderVolume);

// Deletes the opened entry (a file, an empty folder or a link itself) through its handle, which
// needs DELETE access; FILE_WRITE_ATTRIBUTES as well to take a read-only mark off first, which is
// put back when the delete still fails. The entry goes when the last handle on it closes.
bool deleteThroughHandle(HANDLE entry);

}  // namespace tendril
