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

// True for a name that, appended to a folder with "\", names one entry directly inside that
// folder: no '\', '/' or ':', and not empty or made only of dots and spaces ("." and "..",
// which the system resolves to the folder or its parent, among them). A name from the request or
// from a file Users can write (a shortcut name, exeName, an applist record) must pass before we
// make a file name of it, or it could climb out of its folder.
bool isPlainName(const std::wstring& name);

}  // namespace tendril
