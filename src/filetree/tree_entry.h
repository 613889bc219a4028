// How the walks read one entry of a directory listing. The listing's own attributes decide: a
// link (junction, symbolic link, mount point) carries FILE_ATTRIBUTE_REPARSE_POINT there on
// Windows and under Wine alike, and no walk ever lists what lies behind one.
#pragma once

#include <windows.h>

namespace tendril {

inline bool isFolderEntry(const WIN32_FIND_DATAW& data) {
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline bool isLinkEntry(const WIN32_FIND_DATAW& data) {
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// "." and "..", compared exactly and only for folder entries.
inline bool isDotEntry(const WIN32_FIND_DATAW& data) {
    const wchar_t* name = data.cFileName;
    return isFolderEntry(data) && name[0] == L'.' &&
           (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// True when the path itself is a link: a walk handed a link is not walked through it.
inline bool isLinkPath(const wchar_t* path) {
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace tendril
