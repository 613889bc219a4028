// Prints the shortcuts in folders with the targets stored in them, as the shell reads them back:
// "<file name> -> <target>" for every *.lnk at the top of each folder given.
#include "common/unique_handle.h"

#include <shlobj.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

void printLine(const std::wstring& text) {
    const std::wstring line = text + L"\n";
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::wstring storedTarget(IShellLinkW* link, IPersistFile* file, const std::wstring& path) {
    if (FAILED(file->Load(path.c_str(), STGM_READ))) return L"(cannot be loaded)";
    wchar_t target[MAX_PATH] = {};
    if (link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH) != S_OK) return L"(no path)";
    return target;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(::CoInitialize(nullptr))) return 2;
    int status = 0;
    {
        ComPtr<IShellLinkW> link;
        ComPtr<IPersistFile> file;
        if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkW,
                                      reinterpret_cast<void**>(link.GetAddressOf()))) ||
            FAILED(link.As(&file))) {
            status = 2;
        }
        for (int i = 1; i < argc && status == 0; ++i) {
            const std::wstring folder = argv[i];
            printLine(folder + L":");
            WIN32_FIND_DATAW data;
            const tendril::UniqueFind find(::FindFirstFileW((folder + L"\\*.lnk").c_str(), &data));
            if (!find) {
                printLine(L"  (no shortcuts)");
                continue;
            }
            do {
                const std::wstring path = folder + L"\\" + data.cFileName;
                printLine(L"  " + std::wstring(data.cFileName) + L" -> " +
                          storedTarget(link.Get(), file.Get(), path));
            } while (::FindNextFileW(find.get(), &data));
        }
    }
    ::CoUninitialize();
    return status;
}
