// Plain recursive folder removal, without progress, retries or cancel checks: the shortcut code
// removes an emptied program group with it, the rename clears the folder it moves onto. Like the
// tree walks it lists every folder through its handle and deletes each entry through a handle
// checked against the listing (see tree_walks.h); a read-only mark is taken off the entry being
// deleted, through that handle.
#pragma once

#include "filetree/anchored_folder.h"

#include <string>

namespace tendril {

// Removes folder with everything beneath it; one trailing backslash is dropped first. True only
// when the folder itself was removed, which needs every entry beneath it gone. A link beneath is
// removed itself, never what it points to; a folder path that is itself a link removes only that
// link. False, touching nothing, for a path isWalkableRoot refuses.
bool deleteDirectory(const std::wstring& folder);

// Removes everything beneath folder (not folder itself). True only when every entry went; false
// when the folder is missing, is a file or is itself a link, or the path is refused.
bool deleteDirectoryContents(const std::wstring& folder);

// Removes an anchored folder with everything beneath it, through its handle (which needs DELETE
// and FILE_WRITE_ATTRIBUTES besides listing). True only when the folder itself went.
bool removeFolderTree(const AnchoredFolder& folder);

}  // namespace tendril
