// The two path functions of the install-directory records: the normalisation that makes stored
// and requested folders comparable, and the test that decides whether a recorded folder still
// counts as an installation. The shortcut removal shares both.
#pragma once

#include "common/ascii_case.h"

#include <cstddef>
#include <string>

namespace tendril {

// Changes text in place: removes every double quote, turns every '/' into '\' and collapses every
// run of backslashes into one, the leading pair of a network path included. Nothing else changes:
// blanks, letter case and a trailing backslash stay. Returns the number of characters removed or
// replaced.
std::size_t normalizeInstallPath(std::wstring& text);

// True when path no longer counts as an installation: nothing is found under that exact text (a
// text ending in a backslash finds nothing), it names something that is not a folder, the folder
// cannot be listed, or its listing holds nothing but "." and "..". Any other entry, hidden and
// system ones included, makes it non-empty.
bool isFolderEmpty(const std::wstring& path);

}  // namespace tendril
