// Times deleteTreeContents and setTreeSecurity on a tree of folders x files against bare
// FindFirstFileW loops on an identical tree, in the same run, alternating which goes first: the
// delete against a plain DeleteFileW / RemoveDirectoryW loop, the secure against a loop making the
// calls a safe secure needs (open the entry as itself, second-name check of a file, access list
// through the handle, close). Prints every round and the medians.
#include "common/unique_handle.h"
#include "filetree/tree_walks.h"
#include "filetree/users_descriptor.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"
#include "launcher_link/walk_context.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

bool makeFolder(const std::wstring& folder, int files) {
    if (!::CreateDirectoryW(folder.c_str(), nullptr)) return false;
    wchar_t name[64];
    for (int i = 0; i < files; ++i) {
        swprintf(name, 64, L"\\file%04d.dat", i);
        const UniqueFile file(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        ::WriteFile(file.get(), "0123456789abcdef", 16, &written, nullptr);
    }
    return true;
}

// Builds the two trees side by side, folder by folder, taking turns at which goes first: trees
// built one after the other differ in what the file system still has to write back, and the
// older one then pays for it while it is walked.
bool makeTrees(const std::wstring& first, const std::wstring& second, int folders,
               int filesPerFolder) {
    if (!::CreateDirectoryW(first.c_str(), nullptr) || !::CreateDirectoryW(second.c_str(), nullptr))
        return false;
    wchar_t name[64];
    for (int f = 0; f < folders; ++f) {
        swprintf(name, 64, L"\\folder%03d", f);
        const std::wstring& a = f % 2 ? second : first;
        const std::wstring& b = f % 2 ? first : second;
        if (!makeFolder(a + name, filesPerFolder) || !makeFolder(b + name, filesPerFolder))
            return false;
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
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const UniqueFile entry(::CreateFileW(
            child.c_str(), WRITE_DAC | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!entry) continue;
        FILE_STANDARD_INFO standard;
        if (!isFolder && (!::GetFileInformationByHandleEx(entry.get(), FileStandardInfo, &standard,
                                                          sizeof standard) ||
                          standard.NumberOfLinks > 1))
            continue;
        ::SetKernelObjectSecurity(entry.get(), DACL_SECURITY_INFORMATION, descriptor);
        if (isFolder) bareSecure(child, descriptor);
    } while (::FindNextFileW(find.get(), &data));
}

// The median round and the spread of the rounds' ratios.
void printSummary(const char* label, const char* walkName, const std::vector<double>& walk,
                  const std::vector<double>& bare);

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

void printSummary(const char* label, const char* walkName, const std::vector<double>& walk,
                  const std::vector<double>& bare) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < walk.size(); ++i) ratios.push_back(walk[i] / bare[i]);
    std::printf("%s median: %s %8.1f ms   bare %8.1f ms   ratio %.3f   round ratios %.3f .. %.3f\n",
                label, walkName, median(walk), median(bare), median(walk) / median(bare),
                *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
}

enum class Mode { Tree, Folders };

using Loop = void (*)(const std::wstring& root);

// One round: the walk over its tree and the bare loop over the other. Mode::Tree times each over
// its whole tree, taking turns by round at which goes first; Mode::Folders times them folder by
// folder (the same 20,000 files, in runs of one folder), taking turns by folder, so that a slow
// spell of a busy machine falls on both alike.
void timeRound(Mode mode, int round, int folders, const std::wstring& walkRoot,
               const std::wstring& bareRoot, Loop walk, Loop bare, double& walkMs, double& bareMs) {
    walkMs = bareMs = 0;
    const int runs = mode == Mode::Tree ? 1 : folders;
    wchar_t name[64];
    for (int run = 0; run < runs; ++run) {
        std::wstring walkPath = walkRoot, barePath = bareRoot;
        if (mode == Mode::Folders) {
            swprintf(name, 64, L"\\folder%03d", run);
            walkPath += name;
            barePath += name;
        }
        for (int turn = 0; turn < 2; ++turn) {
            const bool walkTurn = (turn == 0) == ((round + run) % 2 == 0);
            const double start = nowMs();
            if (walkTurn)
                walk(walkPath);
            else
                bare(barePath);
            (walkTurn ? walkMs : bareMs) += nowMs() - start;
        }
    }
}

void secureWalk(const std::wstring& root) { setTreeSecurity(root, true, commandWalkContext()); }
void secureBare(const std::wstring& root) { bareSecure(root, usersSecurityDescriptor.get()); }
void deleteWalk(const std::wstring& root) { deleteTreeContents(root, commandWalkContext()); }

void removeAll(const std::wstring& root) {
    bareDelete(root);
    ::RemoveDirectoryW(root.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int folders = argc > 1 ? std::atoi(argv[1]) : 200;
    const int filesPerFolder = argc > 2 ? std::atoi(argv[2]) : 100;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const Mode mode = argc > 4 && std::strcmp(argv[4], "folders") == 0 ? Mode::Folders : Mode::Tree;
    const int entries = folders * (filesPerFolder + 1);
    exeNameCopy = L"client.exe";
    if (!buildUsersSecurityDescriptor()) return 1;

    wchar_t base[64];
    swprintf(base, 64, L"C:\\TendrilBench-%lu", ::GetCurrentProcessId());
    const std::wstring walkRoot = std::wstring(base) + L"-walk";
    const std::wstring bareRoot = std::wstring(base) + L"-bare";
    std::printf("tree: %d folders x %d files (%d entries), %d rounds, timed %s\n", folders,
                filesPerFolder, entries, rounds,
                mode == Mode::Tree ? "a whole tree at a time" : "folder by folder");

    // Security: the same two trees secured again each round.
    if (!makeTrees(walkRoot, bareRoot, folders, filesPerFolder)) {
        std::printf("cannot build the trees\n");
        return 1;
    }
    std::vector<double> walkTimes, bareTimes;
    for (int round = 0; round < rounds; ++round) {
        resetProgress(entries);
        double walk = 0, bare = 0;
        timeRound(mode, round, folders, walkRoot, bareRoot, secureWalk, secureBare, walk, bare);
        walkTimes.push_back(walk);
        bareTimes.push_back(bare);
        std::printf(
            "secure round %d: setTreeSecurity %8.1f ms   bare safe-secure loop %8.1f ms   "
            "ratio %.3f\n",
            round + 1, walk, bare, walk / bare);
    }
    printSummary("secure", "setTreeSecurity", walkTimes, bareTimes);
    bareDelete(walkRoot);
    bareDelete(bareRoot);

    // Deletion: fresh trees every round, in a subfolder t that the whole-tree walk removes too.
    walkTimes.clear();
    bareTimes.clear();
    const std::wstring walkTree = walkRoot + L"\\t";
    const std::wstring bareTree = bareRoot + L"\\t";
    for (int round = 0; round < rounds; ++round) {
        if (!makeTrees(walkTree, bareTree, folders, filesPerFolder)) {
            std::printf("cannot build the trees\n");
            return 1;
        }
        resetProgress(entries);
        double walk = 0, bare = 0;
        if (mode == Mode::Tree)
            timeRound(mode, round, folders, walkRoot, bareRoot, deleteWalk, bareDelete, walk, bare);
        else
            timeRound(mode, round, folders, walkTree, bareTree, deleteWalk, bareDelete, walk, bare);
        walkTimes.push_back(walk);
        bareTimes.push_back(bare);
        std::printf(
            "delete round %d: deleteTreeContents %8.1f ms   bare DeleteFileW loop %8.1f ms   "
            "ratio %.3f\n",
            round + 1, walk, bare, walk / bare);
        removeAll(walkTree);
        removeAll(bareTree);
    }
    printSummary("delete", "deleteTreeContents", walkTimes, bareTimes);

    ::RemoveDirectoryW(walkRoot.c_str());
    ::RemoveDirectoryW(bareRoot.c_str());
    return 0;
}
