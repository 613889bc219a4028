// Times deleteTreeContents and setTreeSecurity on a tree of folders x files against bare loops
// on identical trees, in the same run, taking turns at which goes first: the secure against a
// loop making the calls a safe secure needs (open the entry as itself, second-name check of a
// file, access list through the handle, close); the delete against the plain FindFirstFileW /
// DeleteFileW loop and against a loop making the calls a safe delete needs (the same, with the
// file id checked where the secure checks the names). Prints every round and the medians.
#include "bare_loops.h"
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
using bench::median;
using bench::nowMs;

using Loop = void (*)(const std::wstring& root);

struct Contender {
    const char* key;  // what the command line names it by
    const char* name;
    Loop loop;
    std::wstring root;
    std::vector<double> times;
};

void resetProgress(int entries) {
    progressTotal = 2 * entries;
    progressDone = 0;
    lastProgressPercent = 0;
}

// The first contender's median against each other's, with the spread of the rounds' ratios.
void printSummary(const char* label, const std::vector<Contender>& all) {
    const Contender& walk = all.front();
    for (std::size_t c = 1; c < all.size(); ++c) {
        std::vector<double> ratios;
        for (std::size_t i = 0; i < walk.times.size(); ++i)
            ratios.push_back(walk.times[i] / all[c].times[i]);
        std::printf(
            "%s median: %s %8.1f ms   %s %8.1f ms   ratio %.3f   round ratios %.3f .. %.3f\n",
            label, walk.name, median(walk.times), all[c].name, median(all[c].times),
            median(walk.times) / median(all[c].times),
            *std::min_element(ratios.begin(), ratios.end()),
            *std::max_element(ratios.begin(), ratios.end()));
    }
}

enum class Mode { Tree, Folders };

// When set, only the contender of this key runs, between two marks (see mark): a run under
// "strace -f" then shows the system calls each contender makes per entry.
const char* onlyKey = nullptr;

// Under Wine a console line goes through the server, not a Unix write, so the mark is a look-up
// of a file name that strace shows: C:\\TendrilBench-mark-<what>-<key>.
void mark(const char* what, const char* key) {
    if (onlyKey == nullptr) return;
    char name[128];
    std::snprintf(name, sizeof name, "C:\\TendrilBench-mark-%s-%s", what, key);
    ::GetFileAttributesA(name);
}

bool selected(const Contender& c) { return onlyKey == nullptr || std::strcmp(onlyKey, c.key) == 0; }

// One round: each contender over its own tree. Mode::Tree times each over its whole tree, taking
// turns by round at which goes first; Mode::Folders times them folder by folder (the same 20,000
// files, in runs of one folder), taking turns by folder, so that a slow spell of a busy machine
// falls on all alike. under names the folder below each root that is walked ("" for the root).
void timeRound(Mode mode, int round, int folders, const std::wstring& under,
               std::vector<Contender>& all) {
    std::vector<double> spent(all.size(), 0.0);
    const int runs = mode == Mode::Tree ? 1 : folders;
    wchar_t name[64];
    for (int run = 0; run < runs; ++run) {
        std::wstring suffix = under;
        if (mode == Mode::Folders) {
            swprintf(name, 64, L"\\folder%03d", run);
            suffix += name;
        }
        for (std::size_t turn = 0; turn < all.size(); ++turn) {
            const std::size_t c = (turn + static_cast<std::size_t>(round + run)) % all.size();
            if (!selected(all[c])) continue;
            // Marks for a reader of "strace -f" output: what lies between is the contender's own.
            mark("begin", all[c].key);
            const double start = nowMs();
            all[c].loop(all[c].root + suffix);
            spent[c] += nowMs() - start;
            mark("end", all[c].key);
        }
    }
    for (std::size_t c = 0; c < all.size(); ++c) all[c].times.push_back(spent[c]);
}

void printRound(const char* label, int round, const std::vector<Contender>& all) {
    std::printf("%s round %d:", label, round + 1);
    for (const Contender& c : all) std::printf("   %s %8.1f ms", c.name, c.times.back());
    std::printf("\n");
}

void secureWalk(const std::wstring& root) { setTreeSecurity(root, true, commandWalkContext()); }
void safeSecure(const std::wstring& root) {
    bench::bareSafeSecure(root, usersSecurityDescriptor.get());
}
void deleteWalk(const std::wstring& root) { deleteTreeContents(root, commandWalkContext()); }

}  // namespace

int main(int argc, char** argv) {
    const int folders = argc > 1 ? std::atoi(argv[1]) : 200;
    const int filesPerFolder = argc > 2 ? std::atoi(argv[2]) : 100;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const Mode mode = argc > 4 && std::strcmp(argv[4], "folders") == 0 ? Mode::Folders : Mode::Tree;
    if (argc > 5) onlyKey = argv[5];
    const int entries = folders * (filesPerFolder + 1);
    exeNameCopy = L"client.exe";
    if (!buildUsersSecurityDescriptor() || folders < 1 || rounds < 1) return 1;

    wchar_t base[64];
    swprintf(base, 64, L"C:\\TendrilBench-%lu-", ::GetCurrentProcessId());
    std::printf("tree: %d folders x %d files (%d entries), %d rounds, timed %s\n", folders,
                filesPerFolder, entries, rounds,
                mode == Mode::Tree ? "a whole tree at a time" : "folder by folder");

    // Security: the same trees secured again each round.
    std::vector<Contender> secure{
        {"secure-walk", "setTreeSecurity", secureWalk, base + std::wstring(L"walk"), {}},
        {"secure-safe", "bare safe-secure loop", safeSecure, base + std::wstring(L"safe"), {}}};
    if (!bench::makeTrees({secure[0].root, secure[1].root}, folders, filesPerFolder)) {
        std::printf("cannot build the trees\n");
        return 1;
    }
    for (int round = 0; round < rounds; ++round) {
        resetProgress(entries);
        timeRound(mode, round, folders, L"", secure);
        printRound("secure", round, secure);
    }
    if (onlyKey == nullptr) printSummary("secure", secure);
    for (const Contender& c : secure) bench::bareDelete(c.root);

    // Deletion: fresh trees every round, in a subfolder t that the whole-tree walk removes too.
    std::vector<Contender> remove{
        {"delete-walk", "deleteTreeContents", deleteWalk, secure[0].root, {}},
        {"delete-bare", "bare DeleteFileW loop", bench::bareDelete, secure[1].root, {}},
        {"delete-safe",
         "bare safe-delete loop",
         bench::bareSafeDelete,
         base + std::wstring(L"safedel"),
         {}}};
    ::CreateDirectoryW(remove[2].root.c_str(), nullptr);
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::wstring> trees;
        for (const Contender& c : remove) trees.push_back(c.root + L"\\t");
        if (!bench::makeTrees(trees, folders, filesPerFolder)) {
            std::printf("cannot build the trees\n");
            return 1;
        }
        resetProgress(entries);
        timeRound(mode, round, folders, mode == Mode::Tree ? L"" : L"\\t", remove);
        printRound("delete", round, remove);
        for (const std::wstring& tree : trees) bench::removeTree(tree);
    }
    if (onlyKey == nullptr) printSummary("delete", remove);

    for (const Contender& c : remove) ::RemoveDirectoryW(c.root.c_str());
    return 0;
}
