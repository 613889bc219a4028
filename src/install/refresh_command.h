// Command 1: frees the slots of vanished installations of the product, then registers the
// requested installation afresh, and sends the command's result itself.
#pragma once

namespace tendril {

// Progress 0, the pruning of the records (when the product's key opens), progress 5, a fresh
// InstallClient, progress 100, then WM_ASSISTANT_STATUS(RefreshRegistration, last error). A
// refused folder or registry path prunes and registers nothing and ends with AccessNotGranted.
void refreshRegistration();

}  // namespace tendril
