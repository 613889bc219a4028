// The three walks over an installation folder: count its entries, open them up to Users, delete
// them. Each refuses a path isWalkableRoot rejects, returns at once (true) when the launcher has
// cancelled, stops after the current entry when it cancels during the walk, and never lists what
// lies behind a link: a link inside the tree is one entry like any other, and a folder path that
// is itself a link is not walked at all.
#pragma once

#include <cstdint>
#include <string>

namespace tendril {

// Adds to counter the number of files and folders beneath folder, at every depth, not counting
// folder itself; a link counts as one entry. False, with the counter unchanged, for a refused
// path; a missing folder adds nothing.
bool countFiles(const std::wstring& folder, std::int32_t& counter);

// Applies usersSecurityDescriptor to every file and folder beneath folder, each folder before its
// contents, leaving out links and files with a second name elsewhere. folder itself is the
// caller's to secure. When reportProgress, one tickProgress per file entry (never for folders).
// Failures of single entries are skipped. False only for a refused path.
bool setTreeSecurity(const std::wstring& folder, bool reportProgress);

// Deletes everything beneath folder, bottom-up, except files named like exeNameCopy (letter case
// ignored, at any depth). A file is tried six times, 100 ms apart; a folder is removed once after
// it was emptied; a link is removed itself, never what it points to. One tickProgress per file,
// folder and link, whatever the outcome. folder itself stays. False only for a refused path.
bool deleteTreeContents(const std::wstring& folder);

}  // namespace tendril
