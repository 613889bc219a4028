// A launcher that goes away in the middle of a command, as one that crashes does: it hands one
// request to tendril.exe and then ends itself abruptly, so that its window and its end of the
// pipe go with it while Tendril works.
//
//   e2e_dying_launcher <tendril.exe> <request file> <report file> <die at>
//
// The request file holds the bytes written into the pipe (command code, record, entries). Once
// Tendril has connected, before the request is written, the report file gets one line: Tendril's
// process id and the ids of its threads at that moment. Just before the launcher ends, a second
// line follows with the ids of Tendril's threads then. "die at" is a progress percentage: the
// launcher ends when the first progress message at or above it arrives; -1 ends it right after
// the request is written. It ends with exit code 3 as planned; any other code names the step
// that failed.
#include "request_file.h"

#include <tendril_launcher/launcher.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <string>

namespace {

using tendril::STATUS_PROGRESS;
using tendril::WM_ASSISTANT_CONNECTED;
using tendril::WM_ASSISTANT_STATUS;
using tendril::launch::Handle;

constexpr UINT kDiedAsPlanned = 3;

bool writeWholeFile(const std::wstring& path, const std::string& bytes) {
    Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              0, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

std::string threadsOf(DWORD processId) {
    std::string ids;
    Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == processId) ids += " " + std::to_string(entry.th32ThreadID);
    return ids;
}

struct Report {
    std::wstring path;
    std::string firstLine;
    DWORD tendrilId = 0;

    bool writeFirst() {
        firstLine = std::to_string(tendrilId) + threadsOf(tendrilId) + "\n";
        return writeWholeFile(path, firstLine);
    }
    void writeLastAndDie() {
        writeWholeFile(path, firstLine + threadsOf(tendrilId).substr(1) + "\n");
        ::TerminateProcess(::GetCurrentProcess(), kDiedAsPlanned);
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 10;
    const std::wstring tendrilPath = argv[1];
    const std::string request = tendril::test_programs::readWholeFile(argv[2]);
    Report report;
    report.path = argv[3];
    const long dieAt = std::wcstol(argv[4], nullptr, 10);
    if (request.empty()) return 11;

    tendril::launch::MessageWindow window;
    if (!window.valid()) return 12;
    window.setListener([&](const tendril::launch::ReceivedMessage& m) {
        if (dieAt >= 0 && m.message == WM_ASSISTANT_STATUS && m.wParam == STATUS_PROGRESS &&
            m.lParam >= dieAt)
            report.writeLastAndDie();
    });
    tendril::launch::LauncherPipe pipe =
        tendril::launch::LauncherPipe::create(tendril::launch::fileNameOf(tendrilPath));
    if (!pipe.valid()) return 13;
    Handle tendril =
        tendril::launch::startTendril(tendrilPath, tendril::launch::windowArgument(window.handle()),
                                      tendril::launch::StartMethod::RunAs);
    if (!tendril) return 14;
    const auto hello = window.waitFor(
        [](const tendril::launch::ReceivedMessage& m) {
            return m.message == WM_ASSISTANT_CONNECTED && m.lParam == 0;
        },
        30000);
    if (!hello || !pipe.waitForClient(10000)) return 15;
    report.tendrilId = static_cast<DWORD>(hello->wParam);
    if (!report.writeFirst()) return 16;
    if (!pipe.write(request.data(), request.size())) return 17;
    if (dieAt < 0) report.writeLastAndDie();
    // The listener ends the process; should the percentage never come, Tendril's exit does.
    ::WaitForSingleObject(tendril.get(), INFINITE);
    return 18;
}
