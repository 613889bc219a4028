// tendril.exe: windowless and elevated; everything it does starts from the command line.
#include "launcher_link/serve.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return tendril::runTendril(); }
