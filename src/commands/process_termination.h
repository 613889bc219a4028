#pragma once

#include <string>

namespace tendril {

// Ends every running process whose executable path equals path (whole string, letter case
// ignored). Our own process is never ended, even when path names our executable: the launcher
// would otherwise get no result. True when every other matching process was ended (or none
// matched); false when the process list is unavailable or a matching process cannot be ended,
// and, ending nothing, for a path inside the Windows folder (the system's own programs are not
// the launcher's to end) or inside a folder that the anchor refuses or whose access list the
// launcher's user may not change (another product's programs are not that user's to end).
bool terminateProcessesByPath(const std::wstring& path);

}  // namespace tendril
