// What the walks take an entry to be. One rule answers it for a listing record, for an opened
// handle and for a path alike: a link is a reparse point whose tag is a name surrogate
// (junctions, symbolic links) or whose tag cannot be read (Wine reports 0); any other reparse
// point (a cloud placeholder, a deduplicated file) is an ordinary file or folder.
#pragma once

#include <windows.h>

#include <string_view>

namespace tendril {

enum class EntryKind {
    // Nothing there, or it could not be looked up.
    None,
    File,
    Folder,
    Link,
};

inline EntryKind entryKind(DWORD attributes, DWORD reparseTag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag)))
        return EntryKind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder : EntryKind::File;
}

// One entry as its folder's listing reported it.
struct ListedEntry {
    std::wstring_view name;
    DWORD attributes = 0;
    // The reparse tag, for an entry with FILE_ATTRIBUTE_REPARSE_POINT.
    DWORD reparseTag = 0;
    // The file system's number for the entry, unique on its volume.
    LONGLONG fileId = 0;

    EntryKind kind() const { return entryKind(attributes, reparseTag); }
    bool isDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // "." and "..", compared exactly and only for folder entries.
    bool isDots() const { return isDirectory() && (name == L"." || name == L".."); }
};

}  // namespace tendril
