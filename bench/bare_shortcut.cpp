// The least a program that handles shortcuts costs in memory: it writes one shortcut through the
// shell's link object, reads it back, deletes it and prints its own peak working set. Under Wine
// most of that is the COM runtime that the link object needs, which commands 1, 3, 5 and 8 pay
// as well.
//
//   bench_bare_shortcut <folder>   (the shortcut is <folder>\bare-shortcut-<pid>.lnk)
#include <windows.h>

#include <psapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 1;
    const std::wstring path = std::wstring(argv[1]) + L"\\bare-shortcut-" +
                              std::to_wstring(::GetCurrentProcessId()) + L".lnk";
    if (FAILED(::CoInitialize(nullptr))) return 2;
    bool done = false;
    {
        Microsoft::WRL::ComPtr<IShellLinkW> link;
        Microsoft::WRL::ComPtr<IPersistFile> file;
        wchar_t target[MAX_PATH] = {};
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        done = SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_ALL, IID_IShellLinkW,
                                            reinterpret_cast<void**>(link.GetAddressOf()))) &&
               SUCCEEDED(link.As(&file)) && SUCCEEDED(link->SetPath(self)) &&
               SUCCEEDED(file->Save(path.c_str(), TRUE)) &&
               SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
               SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, 0));
    }
    ::CoUninitialize();
    ::DeleteFileW(path.c_str());
    PROCESS_MEMORY_COUNTERS counters{};
    if (!done || !::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return 3;
    std::printf("%.2f\n", static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0));
    return 0;
}
