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

// Sets the discretionary access list of descriptor on the file or folder at path. The entry is
// opened as itself (FILE_FLAG_OPEN_REPARSE_POINT), so a link swapped in after the listing gets
// the list on the link object, never on its target; a folder that proves to be a link is refused
// so that its walk does not enter it. A file with more than one name is refused: a hard link is
// how an unelevated user would give a system file a second name inside a tree we are about to
// open up to Users. A null descriptor fails.
SecureResult secureEntry(const wchar_t* path, PSECURITY_DESCRIPTOR descriptor, bool isFolder);

}  // namespace tendril
