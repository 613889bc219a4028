// Whether a file can be opened for reading: the shortcut and uninstall code use this to tell
// whether a file is there.
#pragma once

#include <string>

namespace tendril {

// Opens the path for reading (shared for reading, existing files only) and closes it again. A
// folder, or a file another process holds without read sharing, tests as not existing.
bool fileExists(const std::wstring& path);

}  // namespace tendril
