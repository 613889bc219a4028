#include "install/refresh_command.h"

#include "install/client_installation.h"
#include "install/install_directory_list.h"
#include "launcher_link/error_store.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"

#include <tendril/protocol.h>

namespace tendril {

void refreshRegistration() {
    notifyProgress(0);
    const std::wstring folder = fieldText(assistantRequest.installFolder);
    const std::wstring regPath = fieldText(assistantRequest.regPath);
    InstallDirectoryList list;
    // The pruning writes the records back, so a refused registry path is not even opened.
    if (refuseInstallLocation(folder, regPath) ||
        refuseShortcutFolder(fieldText(assistantRequest.shortcutFolder))) {
        setLastAssistantError(AccessNotGranted);
    } else {
        list.open(regPath);
        if (list.opened()) list.prune();
        notifyProgress(5);
        InstallClient(-1);
    }
    notifyProgress(100);
    sendStatus(RefreshRegistration, lastAssistantError);
}

}  // namespace tendril
