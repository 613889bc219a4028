// Plain recursive folder removal, without progress, retries or cancel checks: the shortcut code
// removes an emptied program group with it, the rename clears the folder it moves onto.
#pragma once

#include <string>

namespace tendril {

// Removes folder with everything beneath it; one trailing backslash is dropped first. True only
// when the folder itself was removed, which needs every entry beneath it gone. A link beneath is
// removed itself, never what it points to; a folder path that is itself a link removes only that
// link. False, touching nothing, for a path isWalkableRoot refuses.
bool deleteDirectory(const std::wstring& folder);

// Removes everything beneath folder (not folder itself). True only when every entry went; false
// when the folder cannot be listed, is itself a link, or the path is refused.
bool deleteDirectoryContents(const std::wstring& folder);

}  // namespace tendril
