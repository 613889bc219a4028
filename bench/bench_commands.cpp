// Commands 3, 4 and 6 of the real tendril.exe, each started and driven through the launcher
// library as a launcher does, against what the same job costs without Tendril, measured in the
// same run on identical trees, taking turns by round at which goes first:
//   command 3 (uninstall of a registered installation) against cmd /c rmdir /s /q, the bare
//     FindFirstFileW / DeleteFileW loop, the bare SetFileSecurityW loop, the bare safe-secure
//     loop and the bare safe-delete loop (which checks each file's id as the walk does); the
//     least it has to do is one safe secure and one delete of the tree;
//   command 4 (access for Users) against the two bare secure loops;
//   command 6 (start to exit) against a bare program that only connects, reads and exits;
//   the peak working set of both programs while they run.
//
//   bench_commands [folders] [files per folder] [rounds] [round trips of command 6]
//                  [tendril.exe] [bare client]   (Unix paths; default: this build's)
#include "bare_loops.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/process_state.h"

#include <tendril_launcher/launcher.h>

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tendril;
using bench::median;
using bench::nowMs;

std::wstring windowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c != '\0'; ++c) path += *c == '/' ? L'\\' : wchar_t(*c);
    return path;
}

std::wstring copyInto(const std::wstring& folder, const char* unixPath, const wchar_t* name) {
    const std::wstring copy = folder + L"\\" + name;
    return ::CopyFileW(windowsPath(unixPath).c_str(), copy.c_str(), FALSE) ? copy : L"";
}

// Follows one process from the moment its id is known until it exits, and keeps the largest
// peak working set it reported. The peak is a high-water mark, so the last reading before exit
// (at most one interval before) is the process's peak.
class PeakSampler {
public:
    ~PeakSampler() { stop(); }
    void follow(DWORD processId) {
        if (thread_.joinable()) return;
        process_ = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE,
                                 processId);
        if (process_ == nullptr) return;
        thread_ = std::thread([this] {
            do {
                PROCESS_MEMORY_COUNTERS counters{};
                if (::GetProcessMemoryInfo(process_, &counters, sizeof counters))
                    peak_ = std::max<std::size_t>(peak_, counters.PeakWorkingSetSize);
            } while (::WaitForSingleObject(process_, 5) == WAIT_TIMEOUT && !stopped_);
        });
    }
    // The peak in bytes; 0 when it could not be read.
    std::size_t stop() {
        stopped_ = true;
        if (thread_.joinable()) thread_.join();
        if (process_ != nullptr) ::CloseHandle(process_);
        process_ = nullptr;
        return peak_;
    }

private:
    HANDLE process_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopped_{false};
    std::size_t peak_ = 0;
};

struct Timed {
    double ms = 0;
    // When the program said it was there, from the start of the run (-1: it never did).
    double connectedMs = -1;
    std::size_t peakBytes = 0;
    std::optional<std::pair<std::int32_t, std::int32_t>> result;
};

// Runs one command from start to exit through the launcher library, timing it and following
// the program's working set.
Timed runTimed(const std::wstring& program, const launch::Request& request) {
    PeakSampler sampler;
    launch::RunOptions options;
    options.tendrilPath = program;
    options.timeoutMs = 600000;
    options.onMessage = [&sampler](const launch::ReceivedMessage& m) {
        if (m.message == WM_ASSISTANT_CONNECTED && m.lParam == 0)
            sampler.follow(static_cast<DWORD>(m.wParam));
    };
    Timed timed;
    const double start = nowMs();
    const launch::RunResult run = launch::runCommand(options, request);
    timed.ms = nowMs() - start;
    timed.peakBytes = sampler.stop();
    timed.result = run.result;
    for (const launch::ReceivedMessage& m : run.messages)
        if (m.message == WM_ASSISTANT_CONNECTED && timed.connectedMs < 0)
            timed.connectedMs = m.atMs;
    if (!run.exited) timed.ms = -1;
    return timed;
}

// A client product as a launcher registers it: one application with its shortcuts.
struct Product {
    std::wstring longName, iconName = L"Bench Play", regPath, shortcutFolder;

    launch::Request request(std::int32_t command, const std::wstring& folder) const {
        launch::Request request;
        request.command = command;
        auto& r = request.record;
        launch::Request::setText(r.installFolder, folder);
        launch::Request::setText(r.longName, longName);
        launch::Request::setText(r.iconName, iconName);
        launch::Request::setText(r.regPath, regPath);
        launch::Request::setText(r.shortcutFolder, shortcutFolder);
        launch::Request::setText(r.exeName, L"client.exe");
        launch::Request::setText(r.argument, folder + L"\\client.exe");
        r.programsShortcuts = r.iconShortcutFlag = r.startMenuShortcuts = 1;
        request.entries.push_back(launch::Request::entry(iconName, L"client.exe", true));
        return request;
    }
};

bool succeeded(const Timed& t, std::int32_t command) {
    return t.ms >= 0 && t.result && t.result->first == command && t.result->second == 0;
}

bool folderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

double runRmdir(const std::wstring& tree) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring commandLine =
        L"\"" + std::wstring(system) + L"\\cmd.exe\" /c rmdir /s /q \"" + tree + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const double start = nowMs();
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &info))
        return -1;
    ::WaitForSingleObject(info.hProcess, INFINITE);
    const double ms = nowMs() - start;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return ms;
}

double mib(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

struct Series {
    const char* name;
    std::vector<double> ms;
};

void printLine(const Series& s) {
    std::printf("  %-40s median %9.1f ms   rounds", s.name, median(s.ms));
    for (double ms : s.ms) std::printf(" %.1f", ms);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int folders = argc > 1 ? std::atoi(argv[1]) : 200;
    const int filesPerFolder = argc > 2 ? std::atoi(argv[2]) : 100;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const int trips = argc > 4 ? std::atoi(argv[4]) : 20;
    if (folders < 1 || filesPerFolder < 0 || rounds < 1 || trips < 1) return 1;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    exeNameCopy = L"client.exe";
    if (!buildUsersSecurityDescriptor()) return 1;
    const PSECURITY_DESCRIPTOR descriptor = usersSecurityDescriptor.get();

    wchar_t base[64];
    swprintf(base, 64, L"C:\\TendrilBench-%lu-", ::GetCurrentProcessId());
    const std::wstring bin = base + std::wstring(L"bin");
    ::CreateDirectoryW(bin.c_str(), nullptr);
    const std::wstring tendril = copyInto(bin, argc > 5 ? argv[5] : TENDRIL_EXE, L"tendril.exe");
    const std::wstring bare =
        copyInto(bin, argc > 6 ? argv[6] : BARE_CLIENT_EXE, L"bare-client.exe");
    if (tendril.empty() || bare.empty()) {
        std::printf("cannot copy the programs into %ls\n", bin.c_str());
        return 1;
    }
    Product product;
    product.longName = L"Bench Client " + std::to_wstring(::GetCurrentProcessId());
    product.regPath = L"SOFTWARE\\TendrilBench\\" + std::to_wstring(::GetCurrentProcessId());
    product.shortcutFolder = base + std::wstring(L"links");
    ::CreateDirectoryW(product.shortcutFolder.c_str(), nullptr);
    const int entries = folders * (filesPerFolder + 1);
    std::printf("tree: %d folders x %d files (%d entries) per contender, %d rounds\n", folders,
                filesPerFolder, entries, rounds);

    // Command 6 first, on a quiet prefix: the round trip, and the working set of a program that
    // does nothing but its start-up.
    std::vector<Series> trip{{"command 6, tendril.exe", {}}, {"bare pipe client", {}}};
    std::vector<double> noopPeak, barePeak;
    std::vector<double> connected[2];
    for (int i = 0; i < trips; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool tendrilTurn = (turn == 0) == (i % 2 == 0);
            launch::Request noop;
            const Timed t = runTimed(tendrilTurn ? tendril : bare, noop);
            if (t.ms < 0) {
                std::printf("command 6 round trip %d did not end\n", i + 1);
                return 1;
            }
            trip[tendrilTurn ? 0 : 1].ms.push_back(t.ms);
            (tendrilTurn ? noopPeak : barePeak).push_back(mib(t.peakBytes));
            connected[tendrilTurn ? 0 : 1].push_back(t.connectedMs);
        }
    }
    std::printf("command 6 round trip, %d each:\n", trips);
    for (const Series& s : trip) printLine(s);
    std::printf(
        "  of which until the program said it was there: tendril.exe %.1f ms, bare %.1f ms\n",
        median(connected[0]), median(connected[1]));
    std::printf("  ratio %.3f (goal at most 1.15)\n", median(trip[0].ms) / median(trip[1].ms));

    // Commands 3 and 4 with their references, on trees built side by side every round.
    std::vector<Series> all{{"command 3, uninstall", {}},  {"cmd /c rmdir /s /q", {}},
                            {"bare DeleteFileW loop", {}}, {"bare SetFileSecurityW loop", {}},
                            {"bare safe-secure loop", {}}, {"command 4, access for Users", {}},
                            {"bare safe-delete loop", {}}};
    std::vector<double> uninstallPeak, grantPeak, registerPeak;
    for (int round = 0; round < rounds; ++round) {
        const std::wstring installation = base + std::wstring(L"inst");
        const std::wstring rmdirTree = base + std::wstring(L"rmdir");
        const std::wstring deleteTree = base + std::wstring(L"delete");
        const std::wstring secureTree = base + std::wstring(L"secure");
        const std::wstring safeDeleteTree = base + std::wstring(L"safedelete");
        const Timed registered =
            runTimed(tendril, product.request(RefreshRegistration, installation));
        if (!succeeded(registered, RefreshRegistration)) {
            std::printf("registration failed\n");
            return 1;
        }
        registerPeak.push_back(mib(registered.peakBytes));
        if (!bench::makeTrees({installation, rmdirTree, deleteTree, secureTree, safeDeleteTree},
                              folders, filesPerFolder)) {
            std::printf("cannot build the trees\n");
            return 1;
        }
        std::vector<std::function<bool()>> jobs{
            [&] {
                const Timed t = runTimed(tendril, product.request(UninstallClient, installation));
                all[0].ms.push_back(t.ms);
                uninstallPeak.push_back(mib(t.peakBytes));
                return succeeded(t, UninstallClient) && !folderExists(installation);
            },
            [&] {
                all[1].ms.push_back(runRmdir(rmdirTree));
                return !folderExists(rmdirTree);
            },
            [&] {
                const double start = nowMs();
                bench::removeTree(deleteTree);
                all[2].ms.push_back(nowMs() - start);
                return !folderExists(deleteTree);
            },
            [&] {
                const double start = nowMs();
                bench::bareSetFileSecurity(secureTree, descriptor);
                all[3].ms.push_back(nowMs() - start);
                return true;
            },
            [&] {
                const double start = nowMs();
                bench::bareSafeSecure(secureTree, descriptor);
                all[4].ms.push_back(nowMs() - start);
                return true;
            },
            [&] {
                const Timed t = runTimed(tendril, product.request(GrantUsersAccess, secureTree));
                all[5].ms.push_back(t.ms);
                grantPeak.push_back(mib(t.peakBytes));
                return succeeded(t, GrantUsersAccess);
            },
            [&] {
                const double start = nowMs();
                bench::bareSafeDelete(safeDeleteTree);
                ::RemoveDirectoryW(safeDeleteTree.c_str());
                all[6].ms.push_back(nowMs() - start);
                return !folderExists(safeDeleteTree);
            },
        };
        for (std::size_t turn = 0; turn < jobs.size(); ++turn) {
            const std::size_t j = (turn + static_cast<std::size_t>(round)) % jobs.size();
            if (!jobs[j]()) {
                std::printf("round %d: %s failed\n", round + 1, all[j].name);
                return 1;
            }
        }
        std::printf("round %d:", round + 1);
        for (const Series& s : all) std::printf(" %s %.1f ms;", s.name, s.ms.back());
        std::printf("\n");
        bench::removeTree(secureTree);
    }

    const double uninstall = median(all[0].ms), rmdir = median(all[1].ms),
                 bareDelete = median(all[2].ms), setFileSecurity = median(all[3].ms),
                 safeSecure = median(all[4].ms), grant = median(all[5].ms),
                 safeDelete = median(all[6].ms);
    std::printf("commands 3 and 4 on %d entries, %d rounds:\n", entries, rounds);
    for (const Series& s : all) printLine(s);
    std::printf("  command 3 / (bare safe-secure + bare delete)   %.3f (goal at most 1.10)\n",
                uninstall / (safeSecure + bareDelete));
    std::printf("  command 3 / (bare safe-secure + bare safe-delete) %.3f (both check ids)\n",
                uninstall / (safeSecure + safeDelete));
    std::printf("  command 3 / (bare SetFileSecurityW + bare delete) %.3f\n",
                uninstall / (setFileSecurity + bareDelete));
    std::printf("  command 3 / cmd /c rmdir /s /q                %.3f\n", uninstall / rmdir);
    std::printf("  command 4 / bare safe-secure loop             %.3f (goal at most 1.10)\n",
                grant / safeSecure);
    std::printf("  command 4 / bare SetFileSecurityW loop        %.3f\n", grant / setFileSecurity);

    std::printf("peak working set (MiB, median of runs):\n");
    std::printf("  tendril.exe during command 3   %6.2f (goal at most 16)\n",
                median(uninstallPeak));
    std::printf("  tendril.exe during command 4   %6.2f (the same walk, without shortcuts)\n",
                median(grantPeak));
    std::printf("  tendril.exe during command 1   %6.2f (a registration, with its shortcuts)\n",
                median(registerPeak));
    std::printf("  tendril.exe during command 6   %6.2f\n", median(noopPeak));
    std::printf("  bare pipe client               %6.2f (what any program costs under this Wine)\n",
                median(barePeak));

    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, product.regPath.c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TendrilBench");  // when no other run uses it
    bench::removeTree(product.shortcutFolder);
    bench::removeTree(bin);
    return 0;
}
