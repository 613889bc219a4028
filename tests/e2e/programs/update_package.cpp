// Stands in for the system's installer of update packages: the tests register it as the program
// that opens ".msu" files. It is started with the package's path as its one argument and reads
// what to do from the package itself, lines of "exit=<code>" and "sleep=<ms>" (defaults 0 and 0).
// Beside the package it writes "<package>.started" as soon as it runs and "<package>.done" just
// before it exits, each holding the path it was given, so a test can see what Tendril started
// and wait for the update to end after Tendril has gone.
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
    ::LocalFree(argv);

    writeMarker(package + L".started", package);
    const std::string contents = readSmallFile(package);
    ::Sleep(valueOf(contents, "sleep"));
    writeMarker(package + L".done", package);
    return static_cast<int>(valueOf(contents, "exit"));
}
