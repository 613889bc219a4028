// Making sure an install folder exists, creating every missing folder along its path.
#pragma once

#include <string>

namespace tendril {

// Creates every missing folder of path, from the longest leading part that already exists as a
// folder on. The first component (a drive such as C:) is taken to exist and is never created, so
// a path of one component is only checked. Empty components (doubled, leading or trailing
// backslashes) are skipped. True when the whole path is an existing folder afterwards; false for
// an empty path, a file in the way or a failed creation. Folders created before a failure stay.
bool createDirectoryChain(std::wstring path);

}  // namespace tendril
