// The guard every walk and every folder removal passes first. We run elevated on paths that come
// from unelevated code, so a path that could reach a drive root, a share root or the current
// directory is never walked, emptied or removed.
#pragma once

#include <string>

namespace tendril {

// True for a path we may walk: at least 4 characters, absolute ("X:\name..." or the UNC form
// "\\server\share\name..."), no wildcard, and no component that is empty or made only of dots
// and spaces ("C:\a\..", "C:\\", "C:\a\ ." all name something above or beside what they seem
// to). "\\?\" and "\\.\" device paths are refused: they would bypass the same checks.
bool isWalkablePath(const std::wstring& path);

// The guard of every walk's own folder: isWalkablePath, and not one of the system's protected
// folders (protected_locations.h), so that no caller can get a system folder walked.
bool isWalkableRoot(const std::wstring& path);

}  // namespace tendril
