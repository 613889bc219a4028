// Making sure an install folder exists, creating every missing folder along its path.
#pragma once

#include <string>

namespace tendril {

// Creates every missing folder of path, each relative to the folder above it, from the deepest
// folder that exists on. The path is anchored first (anchored_folder.h): a link on the way, a
// share of this machine or a protected location creates nothing, and the volume root is never
// created, so a path of one component is only checked. Empty components (doubled or trailing
// backslashes) are skipped. True when the whole path is an existing folder afterwards; false for
// an empty or refused path, a file in the way or a failed creation. Folders created before a
// failure stay.
bool createDirectoryChain(std::wstring path);

}  // namespace tendril
