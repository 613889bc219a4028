// Command 3: removes one registered installation: its processes, shortcuts, files, its
// install-directory record and its Uninstall entry, with progress and cancel.
#pragma once

namespace tendril {

// Reads the request. Ends the processes of `argument` first (TerminateFailed, nothing else done,
// when that fails). An installation folder that no slot of regPath records is left alone: false,
// no code, no progress. A folder of 3 characters or fewer, or a protected folder or registry
// path, removes nothing (InstallFolderTooShort; progress 0 and 100). Otherwise the per-application
// and main shortcuts, the folder's contents (the top-level executable last), the folder, the
// record (InstallRecordNotRemoved when it stays) and the Uninstall key go, with progress 0, the
// walks' ticks, 99 and 100. A cancel during the walks ends the command at once (true), keeping
// the record, the key and the main shortcuts.
bool uninstallClient();

}  // namespace tendril
