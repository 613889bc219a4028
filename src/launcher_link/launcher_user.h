// Whose rights a request may use. Tendril runs elevated for an unelevated launcher: whatever the
// request names, Tendril must not let the launcher's user do more than that user could already do
// (except with what Tendril itself creates in the run). The launcher's user is the token of the
// process that serves the pipe, which the connection has already proved to own the launcher's
// window. It is taken once, at identification level (it can be asked about, never acted as), and
// kept for the run. Without it every check below fails closed.
#pragma once

#include "common/unique_handle.h"
#include "filetree/anchored_folder.h"

#include <windows.h>

namespace tendril {

// The kinds of objects whose access lists are asked about; each maps generic rights its own way.
enum class SecuredObject { FileOrFolder, RegistryKey, Process };

// Takes the token of launcherProcess (opened with PROCESS_QUERY_LIMITED_INFORMATION) and keeps an
// identification-level copy of it for the run. False, keeping none, when it cannot be had.
bool takeLauncherUser(HANDLE launcherProcess);

// Forgets the launcher's user (tests).
void forgetLauncherUser();

// True when the launcher's user is known.
bool launcherUserKnown();

// True when the launcher's user is granted every right of desired on the object behind handle,
// judged by the object's own security descriptor (AccessCheck). The handle needs READ_CONTROL.
// False when the user is not known or the question cannot be answered.
bool launcherUserMay(HANDLE object, SecuredObject kind, ACCESS_MASK desired);

// The rule for an existing folder a request names: an anchored folder that exists is refused
// (its refusal set to NotTheLaunchersOwn, and "Refused <path>: ..." logged) unless the launcher's
// user may change its access list (WRITE_DAC): a user who may could do the act himself. A folder
// that does not exist yet is Tendril's to create and is left as it is. True when refused now.
bool refuseUnlessLaunchersOwn(Anchor& folder, const std::wstring& path);

// The same rule for an existing registry key a request names (the client key, the records'
// "Install" key, a rename's old ones): refused, logging "Refused registry path: <path>: not the
// launcher's user's to change", unless the launcher's user may change its access list. A null
// key (one that does not exist, which Tendril may create) is left as it is. True when refused.
// The key needs READ_CONTROL.
bool refuseUnlessLaunchersKey(HKEY key, const std::wstring& path);

// Test seam: when set, launcherUserMay asks it instead for files and folders. Under Wine the
// access lists of files are made up from Unix permissions, so a folder the launcher's user may
// not change cannot be made there; the tests of that rule answer through this. Empty in the
// product.
extern bool (*launcherFolderAccessSeam)(HANDLE folder, ACCESS_MASK desired);

}  // namespace tendril
