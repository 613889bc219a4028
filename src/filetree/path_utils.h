// Small path utilities shared by the file-tree walks, folder creation and the shortcut code.
#pragma once

#include <string>

namespace tendril {

// Drops one trailing backslash, only when the last character is one. True when one was dropped;
// an empty path stays empty.
bool removeTrailingBackslash(std::wstring& path);

}  // namespace tendril
