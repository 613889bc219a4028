// The two answers we need from the profile service (userenv.dll): where the profiles lie. The
// library is not on Windows' KnownDLLs list, so it is not imported: as an import, a userenv.dll
// placed beside our executable would be loaded, and run, with our rights. It is bound from the
// system folder the first time a guard asks, and stays loaded until the process ends.
#pragma once

#include <windows.h>

#include <string>

namespace tendril {

// GetProfilesDirectoryW: the folder that holds every user's profile. Empty when the library
// cannot be loaded or the call fails.
std::wstring profilesFolder();

// GetUserProfileDirectoryW for token: that account's own profile folder. Empty when the library
// cannot be loaded or the call fails.
std::wstring userProfileFolder(HANDLE token);

}  // namespace tendril
