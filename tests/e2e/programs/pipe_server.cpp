// Serves a launcher pipe from a process of its own: pipe_server <exe file name> <seconds>.
// Tendril must refuse a pipe whose server is not the process that owns the launcher window.
#include <tendril_launcher/launcher.h>

#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    tendril::launch::LauncherPipe pipe = tendril::launch::LauncherPipe::create(argv[1]);
    if (!pipe.valid()) return 1;
    ::Sleep(static_cast<DWORD>(_wtoi(argv[2])) * 1000);
    return 0;
}
