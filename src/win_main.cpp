// tendril.exe: windowless and elevated; everything it does starts from the command line.
#include "common/system_library.h"
#include "launcher_link/serve.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // First: from here on no library is looked for beside us or in the current folder.
    tendril::restrictLibrarySearch();
    return tendril::runTendril();
}
