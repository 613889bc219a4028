// The launcher of a standard user, for the tests of whose rights a request may use: started with
// Administrators disabled, it serves the pipe and owns the window, while the test (an
// administrator, as the system's elevation would be) starts tendril.exe with that window.
//
//   e2e_standard_launcher <tendril.exe file name> <request file> <report file>
//
// Once its window and pipe exist it writes the window argument into "<report file>.window"; it
// then waits for Tendril's connection, writes the request file's bytes (command code, record,
// entries) and waits for the result. The report file gets one line per message received,
// "message wParam lParam". Exit code 0 once the result came; any other code names the step that
// failed.
#include "request_file.h"

#include <tendril_launcher/launcher.h>

#include <cstdint>
#include <string>

namespace {

using tendril::launch::Handle;
using tendril::launch::ReceivedMessage;

// Written under another name first and then renamed, so that the test never reads half of it.
bool writeWholeFile(const std::wstring& path, const std::string& bytes) {
    const std::wstring partial = path + L".partial";
    {
        Handle file(::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                  nullptr));
        DWORD written = 0;
        if (!file ||
            !::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) ||
            written != bytes.size())
            return false;
    }
    return ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 10;
    const std::string request = tendril::test_programs::readWholeFile(argv[2]);
    const std::wstring report = argv[3];
    if (request.size() < sizeof(std::int32_t)) return 11;
    std::int32_t command = 0;
    request.copy(reinterpret_cast<char*>(&command), sizeof command);

    tendril::launch::MessageWindow window;
    if (!window.valid()) return 12;
    tendril::launch::LauncherPipe pipe = tendril::launch::LauncherPipe::create(argv[1]);
    if (!pipe.valid()) return 13;
    const std::wstring argument = tendril::launch::windowArgument(window.handle());
    if (!writeWholeFile(report + L".window", std::string(argument.begin(), argument.end())))
        return 14;

    const auto hello = window.waitFor(
        [](const ReceivedMessage& m) {
            return m.message == tendril::WM_ASSISTANT_CONNECTED ||
                   m.message == tendril::WM_ASSISTANT_NOT_ELEVATED;
        },
        30000);
    if (!hello || hello->message != tendril::WM_ASSISTANT_CONNECTED || hello->lParam != 0 ||
        !pipe.waitForClient(10000))
        return 15;
    if (!pipe.write(request.data(), request.size())) return 16;
    const auto result = window.waitFor(
        [command](const ReceivedMessage& m) {
            return m.message == tendril::WM_ASSISTANT_STATUS && m.wParam == command;
        },
        60000);

    std::string lines;
    for (const ReceivedMessage& m : window.messages())
        lines += std::to_string(m.message) + " " + std::to_string(m.wParam) + " " +
                 std::to_string(m.lParam) + "\n";
    if (!writeWholeFile(report, lines)) return 17;
    return result ? 0 : 18;
}
