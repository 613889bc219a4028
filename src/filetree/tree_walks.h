// The three walks over an installation folder: count its entries, open them up to Users, delete
// them. Each refuses a path isWalkableRoot rejects, returns at once (true) when the context's
// cancel flag is set, stops after the current entry when it is set during the walk, and never
// lists what lies behind a link: a link inside the tree is one entry like any other, and a folder
// path that is itself a link is not walked at all.
//
// Every folder is listed through a handle to it, and every entry is opened relative to its
// folder's handle, as itself, and acted on through that handle only after its file id proved it
// the entry the listing reported. An entry that changed in between (renamed away and replaced, by
// a link or by anything else) is left alone, and still counts for progress.
#pragma once

#include "filetree/anchored_folder.h"
#include "filetree/walk_context.h"

#include <cstdint>
#include <string>

namespace tendril {

// Adds to counter the number of files and folders beneath folder, at every depth, not counting
// folder itself; a link counts as one entry. False, with the counter unchanged, for a refused
// path; a missing folder adds nothing. Only context's cancel flag is read.
bool countFiles(const std::wstring& folder, std::int32_t& counter, const WalkContext& context = {});

// Applies usersSecurityDescriptor to every file and folder beneath folder, each folder before its
// contents, leaving out links and files with a second name elsewhere; a folder that could not be
// secured is not entered. folder itself is the caller's to secure. When reportProgress, one
// context tick per file entry (never for folders). Failures of single entries are skipped. False
// only for a refused path.
bool setTreeSecurity(const std::wstring& folder, bool reportProgress,
                     const WalkContext& context = {});

// Deletes everything beneath folder, bottom-up, except files named like context's sparedName
// (letter case ignored, at any depth). A file is tried six times, 100 ms apart; a folder is
// removed once after it was emptied; a link is removed itself, never what it points to; a
// read-only mark is taken off the entry being deleted, through its handle. One context tick per
// file, folder and link, whatever the outcome. folder itself stays. False only for a refused path.
bool deleteTreeContents(const std::wstring& folder, const WalkContext& context = {});

// The same three walks from a folder a command has anchored (anchored_folder.h): they start from
// its handle and never open its path again. The command has taken the decision on it.
void countFiles(const AnchoredFolder& folder, std::int32_t& counter, const WalkContext& context);
void setTreeSecurity(const AnchoredFolder& folder, bool reportProgress,
                     const WalkContext& context);
void deleteTreeContents(const AnchoredFolder& folder, const WalkContext& context);

}  // namespace tendril
