#include "oracle.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace tendril::test::bad_input {

namespace {

constexpr std::size_t kCommandBytes = 4;
constexpr std::size_t kRecordBytes = sizeof(AssistantRequest);
constexpr std::size_t kEntryBytes = sizeof(RequestEntry);

// The codes each command's handlers can store, and 0. Command 2 finds no update package beside
// the test's copy of tendril.exe, so it can only fail to start it.
std::vector<std::int32_t> allowedCodesOf(std::int32_t command) {
    switch (command) {
        case RefreshRegistration:
        case SetLongName:
            return {NoError,           InstallFolderUnavailable,
                    AccessNotGranted,  UninstallKeyNotCreated,
                    NoFreeInstallSlot, InstallRecordNotStored,
                    FolderNotFound,    SecurityDescriptorFailed};
        case InstallRuntimeUpdate:
            return {UpdateLaunchFailed};
        case UninstallClient:
            return {
                NoError,        InstallFolderTooShort,    AccessNotGranted, InstallRecordNotRemoved,
                FolderNotFound, SecurityDescriptorFailed, TerminateFailed};
        case GrantUsersAccess:
            return {NoError, AccessNotGranted, FolderNotFound, SecurityDescriptorFailed};
        case ApplyShortcuts:
            return {NoError};
        case TerminateProcesses:
            return {NoError, TerminateFailed};
        default:
            return {};
    }
}

bool contains(const std::vector<std::int32_t>& codes, std::int64_t code) {
    for (std::int32_t c : codes)
        if (c == code) return true;
    return false;
}

std::string messageText(const launch::ReceivedMessage& m) {
    std::ostringstream out;
    out << "(" << m.message << ", " << m.wParam << ", " << m.lParam << ")";
    return out.str();
}

}  // namespace

Expectation expectationOf(const std::string& request, bool closedAfter) {
    Expectation e;
    std::int32_t command = 0;
    std::memcpy(&command, request.data(), std::min(request.size(), kCommandBytes));
    e.command = command;
    auto early = [&](std::int32_t code) {
        e.end = Expectation::End::EarlyEnd;
        e.code = code;
        return e;
    };
    auto incomplete = [&] {
        if (closedAfter) return early(PipeReadFailed);
        e.end = Expectation::End::WaitsForMore;
        return e;
    };
    if (request.size() < kCommandBytes) return incomplete();
    if (command == 0 || static_cast<std::uint32_t>(command) > 9) return early(BadCommand);
    if (command != InstallRuntimeUpdate) {
        if (request.size() < kCommandBytes + kRecordBytes) return incomplete();
        std::int32_t entryCount = 0;
        std::memcpy(&entryCount,
                    request.data() + kCommandBytes + offsetof(AssistantRequest, entryCount), 4);
        if (entryCount < 0 || entryCount > kMaxEntryCount) return early(PipeReadFailed);
        const std::size_t entries = (request.size() - kCommandBytes - kRecordBytes) / kEntryBytes;
        if (entries < static_cast<std::size_t>(entryCount)) return incomplete();
    }
    if (command == NoOperation || command == Cancel) {
        e.end = Expectation::End::NoResult;
        return e;
    }
    e.end = Expectation::End::Result;
    e.allowedCodes = allowedCodesOf(command);
    return e;
}

std::vector<std::string> checkRun(const Case& c, const Expectation& expected,
                                  const Observation& seen) {
    std::vector<std::string> problems;
    auto problem = [&](const std::string& text) { problems.push_back(text); };
    if (!seen.started) {
        problem("tendril.exe did not start");
        return problems;
    }
    if (!seen.exited) problem("hang: tendril.exe had not exited when the run's time was up");
    if (seen.exited && seen.exitCode != 0)
        problem("exit code " + std::to_string(seen.exitCode) + " (a crash?)");

    const auto& m = seen.messages;
    if (expected.end == Expectation::End::ConnectFailed) {
        if (m.size() != 1 || m[0].message != WM_ASSISTANT_CONNECTED ||
            m[0].lParam != PipeOpenFailed || m[0].wParam != expected.code)
            problem("expected exactly (2324, " + std::to_string(expected.code) + ", 11)");
        return problems;
    }
    if (m.empty() || m[0].message != WM_ASSISTANT_CONNECTED || m[0].lParam != 0 ||
        m[0].wParam != static_cast<std::int64_t>(seen.processId)) {
        problem("the first message is not (2324, <its process id>, 0)");
        return problems;
    }
    std::vector<launch::ReceivedMessage> status;
    for (std::size_t i = 1; i < m.size(); ++i) {
        if (m[i].message != WM_ASSISTANT_STATUS)
            problem("unexpected message " + messageText(m[i]) + " after the handshake");
        else
            status.push_back(m[i]);
    }
    const bool pipeClosedLine =
        seen.log.size() >= 13 && seen.log.compare(seen.log.size() - 13, 13, "Pipe closed\r\n") == 0;

    switch (expected.end) {
        case Expectation::End::ConnectFailed:
        case Expectation::End::WaitsForMore:
            problem("the case waits for more bytes: the generator should have closed the pipe");
            break;
        case Expectation::End::EarlyEnd:
            if (status.size() != 1 || status[0].wParam != expected.command ||
                status[0].lParam != expected.code)
                problem("expected exactly one status (" + std::to_string(expected.command) + ", " +
                        std::to_string(expected.code) + ")");
            if (seen.log.find("Pipe closed") != std::string::npos)
                problem("an early end wrote \"Pipe closed\"");
            break;
        case Expectation::End::NoResult:
            if (!status.empty()) problem("commands 6 and 9 send no status");
            if (!pipeClosedLine) problem("the log does not end with \"Pipe closed\"");
            break;
        case Expectation::End::Result: {
            if (status.empty() || status.back().wParam != expected.command) {
                problem("no result (" + std::to_string(expected.command) + ", code) at the end");
                break;
            }
            const std::int64_t code = status.back().lParam;
            if (!contains(expected.allowedCodes, code))
                problem("result code " + std::to_string(code) + " is not one command " +
                        std::to_string(expected.command) + " can end with");
            if (c.expectedCode && code != *c.expectedCode)
                problem("result code " + std::to_string(code) + ", expected " +
                        std::to_string(*c.expectedCode));
            std::int64_t last = -1;
            for (std::size_t i = 0; i + 1 < status.size(); ++i) {
                const launch::ReceivedMessage& s = status[i];
                if (s.wParam != STATUS_PROGRESS) {
                    problem("a second result or a stray status " + messageText(s));
                    continue;
                }
                if (s.lParam < 0 || s.lParam > 100)
                    problem("progress out of range " + messageText(s));
                // The rename registers afresh after its own progress and starts again from 10.
                if (expected.command != SetLongName && s.lParam < last)
                    problem("progress went backwards at " + messageText(s));
                last = s.lParam;
            }
            if (!pipeClosedLine) problem("the log does not end with \"Pipe closed\"");
            break;
        }
    }
    return problems;
}

}  // namespace tendril::test::bad_input
