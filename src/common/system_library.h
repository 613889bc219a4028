// Where this process takes its libraries from. We run elevated, and unelevated code can write
// into our own folder (the launcher places the update package there) and can choose our current
// folder: nothing may be loaded from either. Our static imports are all on Windows' KnownDLLs
// list, which the loader takes from the system folder alone; every other library is loaded
// through loadSystemLibrary; and before anything else runs, the search of the whole process is
// narrowed to the system folder, which also covers what the system libraries load by name.
#pragma once

#include <windows.h>

namespace tendril {

// Narrows the library search of the process to the system folder
// (SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)). Windows 7 and 8 without the update
// KB2533623 lack that call: there only the current folder is taken out of the search
// (SetDllDirectoryW(L"")), and our own folder stays in it. True when the search is narrowed to
// the system folder.
bool restrictLibrarySearch() noexcept;

// Loads a library of Windows (fileName such as L"userenv.dll") from the system folder and from
// nowhere else; the libraries it needs in turn are looked for there first. Nullptr, with the
// loader's error, when it cannot be loaded. The caller owns the reference.
HMODULE loadSystemLibrary(const wchar_t* fileName) noexcept;

}  // namespace tendril
