// Times deleteTreeContents and setTreeSecurity on a tree of folders x files against a bare
// FindFirstFileW loop doing the same DeleteFileW / SetFileSecurityW calls on an identical tree,
// in the same run, alternating which goes first. Prints every round and the medians.
#include "common/unique_handle.h"
#include "filetree/tree_walks.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace tendril;

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool makeTree(const std::wstring& root, int folders, int filesPerFolder) {
    if (!::CreateDirectoryW(root.c_str(), nullptr)) return false;
    wchar_t name[64];
    for (int f = 0; f < folders; ++f) {
        swprintf(name, 64, L"\\folder%03d", f);
        const std::wstring folder = root + name;
        if (!::CreateDirectoryW(folder.c_str(), nullptr)) return false;
        for (int i = 0; i < filesPerFolder; ++i) {
            swprintf(name, 64, L"\\file%04d.dat", i);
            const UniqueFile file(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file) return false;
            DWORD written = 0;
            ::WriteFile(file.get(), "0123456789abcdef", 16, &written, nullptr);
        }
    }
    return true;
}

bool isDots(const WIN32_FIND_DATAW& data) {
    return wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0;
}

// The loops a programmer would write without any of the walks' rules.
void bareDelete(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((folder + L"\\*.*").c_str(), &data));
    if (!find) return;
    do {
        if (isDots(data)) continue;
        const std::wstring child = folder + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            bareDelete(child);
            ::RemoveDirectoryW(child.c_str());
        } else {
            ::DeleteFileW(child.c_str());
        }
    } while (::FindNextFileW(find.get(), &data));
}

void bareSecure(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) {
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((folder + L"\\*.*").c_str(), &data));
    if (!find) return;
    do {
        if (isDots(data)) continue;
        const std::wstring child = folder + L"\\" + data.cFileName;
        ::SetFileSecurityW(child.c_str(), DACL_SECURITY_INFORMATION, descriptor);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) bareSecure(child, descriptor);
    } while (::FindNextFileW(find.get(), &data));
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void resetProgress(int entries) {
    progressTotal = 2 * entries;
    progressDone = 0;
    lastProgressPercent = 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int folders = argc > 1 ? std::atoi(argv[1]) : 200;
    const int filesPerFolder = argc > 2 ? std::atoi(argv[2]) : 100;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const int entries = folders * (filesPerFolder + 1);
    exeNameCopy = L"client.exe";
    if (!buildUsersSecurityDescriptor()) return 1;

    wchar_t base[64];
    swprintf(base, 64, L"C:\\TendrilBench-%lu", ::GetCurrentProcessId());
    const std::wstring walkRoot = std::wstring(base) + L"-walk";
    const std::wstring bareRoot = std::wstring(base) + L"-bare";
    std::printf("tree: %d folders x %d files (%d entries), %d rounds\n", folders, filesPerFolder,
                entries, rounds);

    // Security: the same two trees secured again each round.
    if (!makeTree(walkRoot, folders, filesPerFolder) ||
        !makeTree(bareRoot, folders, filesPerFolder)) {
        std::printf("cannot build the trees\n");
        return 1;
    }
    std::vector<double> walkTimes, bareTimes;
    for (int round = 0; round < rounds; ++round) {
        double walk = 0, bare = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (round % 2 == 0)) {
                resetProgress(entries);
                const double start = nowMs();
                setTreeSecurity(walkRoot, true);
                walk = nowMs() - start;
            } else {
                const double start = nowMs();
                bareSecure(bareRoot, usersSecurityDescriptor.get());
                bare = nowMs() - start;
            }
        }
        walkTimes.push_back(walk);
        bareTimes.push_back(bare);
        std::printf(
            "secure round %d: setTreeSecurity %8.1f ms   bare SetFileSecurityW loop %8.1f ms   "
            "ratio %.3f\n",
            round + 1, walk, bare, walk / bare);
    }
    std::printf("secure median: setTreeSecurity %8.1f ms   bare %8.1f ms   ratio %.3f\n",
                median(walkTimes), median(bareTimes), median(walkTimes) / median(bareTimes));
    deleteTreeContents(walkRoot);
    bareDelete(bareRoot);

    // Deletion: fresh trees every round.
    walkTimes.clear();
    bareTimes.clear();
    for (int round = 0; round < rounds; ++round) {
        if (!makeTree(walkRoot + L"\\t", folders, filesPerFolder) ||
            !makeTree(bareRoot + L"\\t", folders, filesPerFolder)) {
            std::printf("cannot build the trees\n");
            return 1;
        }
        double walk = 0, bare = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (round % 2 == 0)) {
                resetProgress(entries);
                const double start = nowMs();
                deleteTreeContents(walkRoot);
                walk = nowMs() - start;
            } else {
                const double start = nowMs();
                bareDelete(bareRoot);
                bare = nowMs() - start;
            }
        }
        walkTimes.push_back(walk);
        bareTimes.push_back(bare);
        std::printf(
            "delete round %d: deleteTreeContents %8.1f ms   bare DeleteFileW loop %8.1f ms   "
            "ratio %.3f\n",
            round + 1, walk, bare, walk / bare);
    }
    std::printf("delete median: deleteTreeContents %8.1f ms   bare %8.1f ms   ratio %.3f\n",
                median(walkTimes), median(bareTimes), median(walkTimes) / median(bareTimes));

    ::RemoveDirectoryW(walkRoot.c_str());
    ::RemoveDirectoryW(bareRoot.c_str());
    return 0;
}
