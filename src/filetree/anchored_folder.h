// The one place where a folder path from a request or a record becomes an opened, decided folder.
// We act as administrator on paths an unelevated user can shape: after a grant, Users control the
// installation folder and may turn it, or any folder they own on the way to it, into a link at
// any moment. A decision taken on a path's text and an act that resolves the text again are two
// different objects. So the path is opened from its volume root down, one component at a time,
// relative to the handle of the one before and never through a link; the decision is taken on
// what was opened; and every act goes through the handle it gives.
#pragma once

#include "common/unique_handle.h"
#include "filetree/protected_locations.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tendril {

enum class AnchorRefusal {
    None,
    // Not "X:\..." or "\\server\share\...", a wildcard, or a component that is empty, made of
    // dots, or ends in a dot or a space (which the system drops, so it names another folder).
    NotAPlainPath,
    // "\\?\", "\\.\" and "\??\" forms, which bypass the system's own path rules.
    DevicePath,
    // A share of this machine (its own names, localhost, a loopback address, or any share whose
    // name ends in "$"): another name for the system's own folders.
    LocalShare,
    // A link (junction, symbolic link, mount point, or a reparse point whose tag cannot be read)
    // on the way or at the end, or a component that changed while it was being opened.
    Link,
    // A file where a folder was expected.
    NotAFolder,
    // A component could not be opened or looked at: a decision that cannot be made is a refusal.
    Undecidable,
    // One of the system's own folders, or a folder it protects.
    Protected,
    // An existing folder whose access list the launcher's user may not change: acting on it
    // elevated would let that user do what they cannot do themselves.
    NotTheLaunchersOwn,
};

// The words the log gives for a refusal.
const wchar_t* refusalReason(AnchorRefusal refusal);

// An opened folder: its handle (with kListFolderAccess and the optional access that was granted),
// the path it was reached by, with every component as the file system spells it, and its
// identity.
struct AnchoredFolder {
    UniqueFile handle;
    std::wstring path;
    DWORD volume = 0;
    LONGLONG fileId = 0;

    HANDLE get() const { return handle.get(); }
    explicit operator bool() const { return handle.valid(); }
};

struct Anchor {
    AnchorRefusal refusal = AnchorRefusal::Undecidable;
    // The folder the path names, or, when its last components do not exist yet, the deepest
    // folder of it that does.
    AnchoredFolder folder;
    // The components below folder that do not exist yet, in order; empty when the path exists.
    std::vector<std::wstring> missing;

    bool refused() const { return refusal != AnchorRefusal::None; }
    // The path names an existing folder, opened and decided.
    bool exists() const { return !refused() && missing.empty(); }
    // The whole path as decided: folder.path and the missing components.
    std::wstring fullPath() const;
};

// Opens path as described above. The folder the path names (not the deepest existing one) gets
// optionalAccess as well, unless that is refused (by access rights or by another handle's
// sharing). A missing tail is decided as the text it will have once created. Refused for the
// reasons above, and when the guard (protected_locations.h) refuses the path for use, or finds a
// folder on the way to be one of the system's own under another name.
Anchor anchorFolder(const std::wstring& path, GuardUse use, ACCESS_MASK optionalAccess = 0);

// anchorFolder, logging "Refused protected location: <path>" or "Refused <path>: <reason>" when
// it refuses. A file in the way is the caller's to report: it is no location we refuse.
Anchor anchorFolderOrLog(const std::wstring& path, GuardUse use, ACCESS_MASK optionalAccess = 0);

// The log line of anchorFolderOrLog for an anchor of path; nothing when it was not refused.
void logRefusal(const Anchor& anchor, const std::wstring& path);

// Creates anchor's missing components one by one, each relative to the handle of the one before,
// as itself (a name that exists by then, a link included, fails); on success anchor names the
// new folder, opened with optionalAccess as anchorFolder would. False, with anchor left at the
// deepest folder that exists, when a component cannot be created.
bool createMissingFolders(Anchor& anchor, ACCESS_MASK optionalAccess = 0);

// How an entry directly inside an anchored folder is found: its name as listed, its attributes,
// reparse tag and file id. Found is false when there is no such entry.
struct ChildEntry {
    bool found = false;
    std::wstring name;
    DWORD attributes = 0;
    DWORD reparseTag = 0;
    LONGLONG fileId = 0;
};

// Looks up one plain name (path_guard.h: isPlainName, and no wildcard) in folder, with a handle of
// its own so that folder's own listing is left as it was. False when the name is not plain or the
// folder cannot be read.
bool findChild(HANDLE folder, const std::wstring& name, ChildEntry& entry);

// Opens the child named entry.name relative to folder, as itself, with access (and optionalAccess
// as granted), and only when it still carries entry.fileId. A handle or none.
UniqueFile openChild(HANDLE folder, const ChildEntry& entry, ACCESS_MASK access,
                     ACCESS_MASK optionalAccess = 0);

// Deletes the plain file called name directly inside folder through its own handle (a folder or a
// link of that name is left alone). False when there is none or it could not be deleted.
bool deleteChildFile(HANDLE folder, const std::wstring& name);

// Moves the folder source (opened with DELETE) into destinationParent under name, never over an
// existing entry. False, with the Windows error in GetLastError, when the move failed.
bool moveFolderInto(HANDLE source, HANDLE destinationParent, const std::wstring& name);

}  // namespace tendril
