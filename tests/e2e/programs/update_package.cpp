// Stands in for the system's installer of update packages: the tests put it in the place of the
// system folder's wusa.exe. It is started with the package's path as its one argument and reads
// what to do from the package itself, lines of "exit=<code>" and "sleep=<ms>" (defaults 0 and 0).
// Beside the package it writes "<package>.started" as soon as it runs, holding its own path and
// then each argument it was given, one a line, and "<package>.done" just before it exits,
// holding the package path, so a test can see which program Tendril started, with what, and wait
// for the update to end after Tendril has gone.
#include <tendril_launcher/launcher.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

std::string readSmallFile(const std::wstring& path) {
    tendril::launch::Handle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    char buffer[512] = {};
    DWORD got = 0;
    ::ReadFile(file.get(), buffer, sizeof buffer - 1, &got, nullptr);
    return std::string(buffer, got);
}

void writeMarker(const std::wstring& path, const std::wstring& text) {
    tendril::launch::Handle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return;
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? n : 1, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), n, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(n > 0 ? n - 1 : 0), &written, nullptr);
}

unsigned long valueOf(const std::string& contents, const char* key) {
    const std::string prefix = std::string(key) + "=";
    const std::size_t at = contents.find(prefix);
    if (at == std::string::npos) return 0;
    return std::strtoul(contents.c_str() + at + prefix.size(), nullptr, 10);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr || count < 2) return 99;
    const std::wstring package = argv[1];
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring started = self;
    for (int i = 1; i < count; ++i) started += std::wstring(L"\n") + argv[i];
    ::LocalFree(argv);

    writeMarker(package + L".started", started);
    const std::string contents = readSmallFile(package);
    ::Sleep(valueOf(contents, "sleep"));
    writeMarker(package + L".done", package);
    return static_cast<int>(valueOf(contents, "exit"));
}
