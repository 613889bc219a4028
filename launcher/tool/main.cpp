// tendril-launch: starts tendril.exe as a launcher does, sends it one command and shows its
// messages. Run "tendril-launch --help".
#include "command_line.h"
#include "commands.h"
#include "console.h"
#include "exit_status.h"
#include "reporter.h"
#include "text.h"

#include <tendril_launcher/launcher.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tendril;

void write(std::FILE* stream, std::string_view text) {
    if (text.empty()) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// The system's text for a Windows error code, without the line end; empty when it has none.
std::string windowsErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) return std::string();
    std::wstring text(buffer, length);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return tool::toUtf8(text);
}

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// tendril.exe beside this program, or the given path made absolute.
std::wstring tendrilPath(const std::wstring& given) {
    if (given.empty()) {
        const std::wstring self = modulePath();
        const std::size_t slash = self.find_last_of(L"\\/");
        return (slash == std::wstring::npos ? std::wstring() : self.substr(0, slash + 1)) +
               L"tendril.exe";
    }
    const DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return given;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return given;
    full.resize(length);
    return full;
}

std::string entriesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

const char* methodName(launch::StartMethod method) {
    switch (method) {
        case launch::StartMethod::RunAs:
            return "runas";
        case launch::StartMethod::CreateProcess:
            return "create";
        case launch::StartMethod::RestrictedToken:
            return "restricted";
    }
    return "?";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // UTF-8 on the console while this runs; the code page the console had is put back on every
    // way out of wmain.
    const tool::ConsoleOutputCodePage utf8;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(tool::toUtf8(argv[i]));

    const tool::ParsedCommandLine parsed = tool::parseCommandLine(arguments);
    write(stdout, parsed.out);
    write(stderr, parsed.err);
    if (!parsed.run) return parsed.exitStatus;
    const tool::ToolOptions& options = parsed.options;
    const std::int32_t command = options.request.command;

    launch::RunOptions run;
    run.tendrilPath = tendrilPath(options.tendrilPath);
    run.method = options.method;
    run.cancelAfterMs = options.cancelAfterMs;
    run.timeoutMs = options.timeoutMs;
    run.graceMs = options.graceMs;

    tool::Reporter reporter([](std::string_view text) { write(stdout, text); },
                            [](std::string_view text) { write(stderr, text); },
                            tool::outputStyleFor(options.json, ::GetStdHandle(STD_OUTPUT_HANDLE)),
                            command, windowsErrorText);
    run.onMessage = [&reporter](const launch::ReceivedMessage& m) { reporter.message(m); };

    // Ctrl-C and the others cancel the run instead of ending this process: an elevated Tendril
    // would go on alone, and nobody would see what it did.
    tool::ConsoleControl& control = tool::ConsoleControl::forProcess();
    const DWORD graceMs = options.graceMs;
    control.onCancel([&reporter, graceMs](const char* event) {
        reporter.notice("tendril-launch: " + std::string(event) +
                        ": asking Tendril to stop (Cancel) and waiting up to " +
                        std::to_string(graceMs) + " ms for its result");
    });
    if (tool::ConsoleControl::install()) run.cancelEvent = control.cancelEvent();

    reporter.line("starting " + tool::toUtf8(run.tendrilPath) + " (" + methodName(run.method) +
                  ") for command " + std::to_string(command) + " (" + tool::commandName(command) +
                  "), " + entriesText(options.request.entries.size()));

    const launch::RunResult result = launch::runCommand(run, options.request);
    const tool::Outcome outcome =
        tool::outcomeOf(result, command, options.timeoutMs, windowsErrorText);
    if (result.exited && !options.json)
        reporter.line("Tendril ended: exit code " + std::to_string(result.exitCode));
    reporter.finish(result, outcome);
    control.runEnded();
    return outcome.exitStatus;
}
