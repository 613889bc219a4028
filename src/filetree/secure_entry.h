// Applying the access descriptor to one file or folder without reaching anything behind a link.
#pragma once

#include <windows.h>

namespace tendril {

enum class SecureResult {
    // The descriptor's access list is now the entry's.
    Applied,
    // The entry could not be opened or its security not set.
    Failed,
    // The entry is a folder link, or a file that has another name: left alone.
    Refused,
};

// What an entry is opened with to be secured: WRITE_DAC and FILE_READ_ATTRIBUTES take part in
// no sharing check, so a file another process holds open is still secured.
constexpr ACCESS_MASK kSecureAccess = WRITE_DAC | FILE_READ_ATTRIBUTES;

// Sets the discretionary access list of descriptor on an entry already opened as itself with
// kSecureAccess (and checked to be the file or plain folder it should be). A file with more than
// one name is refused: a hard link is how an unelevated user would give a system file a second
// name inside a tree we are about to open up to Users. A null descriptor fails.
SecureResult secureOpenedEntry(HANDLE entry, PSECURITY_DESCRIPTOR descriptor, bool isFolder);

// The same for the file or folder at path, opened as itself (FILE_FLAG_OPEN_REPARSE_POINT), so a
// link swapped in gets nothing on its target; a folder path that proves to be a link on the
// handle is refused.
SecureResult secureEntry(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor, bool isFolder);

}  // namespace tendril
