// The forms in which we compare folder paths. A request can name one folder in many ways ("C:/a",
// "C:\A.", a short name, a link to it), so a comparison that looks only at the text as sent can be
// talked out of seeing that two paths meet.
#pragma once

#include <string>

namespace tendril {

// The absolute form: a device prefix dropped, "." and ".." resolved, '/' read as '\', trailing
// dots and spaces of a component dropped as the system drops them, short names made long where
// the path exists, no trailing backslash. Empty when the path cannot be made absolute.
std::wstring normalizedPath(const std::wstring& path);

// The path an open handle on path finally names (links followed), in "X:\..." or "\\server\..."
// form; empty when path cannot be opened.
std::wstring finalPathOf(const std::wstring& path);

// True when inner lies strictly inside outer; both normalised, letters A to Z compared without
// regard to case.
bool isInsideFolder(const std::wstring& inner, const std::wstring& outer);

// True when the two folders are one, or one lies inside the other, compared as written and as
// they finally resolve where they exist. Removing or replacing one of them would then destroy
// the other.
bool foldersOverlap(const std::wstring& a, const std::wstring& b);

}  // namespace tendril
