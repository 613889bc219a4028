// The least a program started by a launcher can do: the floor of command 6's round trip. It opens
// the launcher's pipe (named after its own file name, as Tendril's is), says it is there, reads
// the command code and the request record, and exits: no log, no administrator check, no dispatch.
#include <tendril/protocol.h>

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool readExact(HANDLE pipe, void* data, DWORD size) {
    auto* at = static_cast<char*>(data);
    while (size > 0) {
        DWORD read = 0;
        if (!::ReadFile(pipe, at, size, &read, nullptr) || read == 0) return false;
        at += read;
        size -= read;
    }
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 2) return 1;
    const auto window =
        reinterpret_cast<HWND>(static_cast<std::intptr_t>(std::wcstol(argv[1], nullptr, 10)));
    ::LocalFree(argv);

    wchar_t module[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    std::wstring name(module, length);
    name = tendril::kPipeNamePrefix + name.substr(name.rfind(L'\\') + 1);

    const HANDLE pipe =
        ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 3;
    ::SendNotifyMessageW(window, tendril::WM_ASSISTANT_CONNECTED, ::GetCurrentProcessId(), 0);
    std::int32_t command = 0;
    tendril::AssistantRequest request;
    const bool read =
        readExact(pipe, &command, sizeof command) &&
        (command == tendril::InstallRuntimeUpdate || readExact(pipe, &request, sizeof request));
    ::CloseHandle(pipe);
    return read ? 0 : 4;
}
