// The bad-input suite: the real tendril.exe driven by a launcher that sends malformed, cut,
// oversized and hostile requests, goes away at every stage and writes cancel values at odd times.
// Every run must end with the result or error message the protocol promises, within its time,
// and must change nothing outside the test's own work folder and key.
//
//   test_bad_input.exe                        the enumerated cases and 20 random ones, seed 13
//   test_bad_input.exe --long [--seed N] [--cases N]
//                                             every value of every field, then N random cases
//                                             (default 2000) with the seed printed
//   test_bad_input.exe [--long] --seed N --case I
//                                             case I of seed N alone, as a failure prints it
//   test_bad_input.exe [--long] --list        the cases, described, without running them
#include "bad_case.h"
#include "oracle.h"
#include "session.h"
#include "world.h"

#include <gtest/gtest.h>

#include <map>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

namespace tendril::test::bad_input {
namespace {

constexpr std::uint64_t kDefaultRandomCases = 20;
constexpr std::uint64_t kLongRandomCases = 2000;

struct Options {
    Mode mode;
    std::optional<std::uint64_t> randomCases;
    std::optional<std::uint64_t> only;
    bool list = false;  // print the cases instead of running them
};
Options options;

std::string firstDifference(const std::string& before, const std::string& after) {
    std::istringstream a(before), b(after);
    std::string lineA, lineB;
    for (int line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(a, lineA));
        const bool moreB = static_cast<bool>(std::getline(b, lineB));
        if (!moreA && !moreB) return "(none)";
        if (!moreA || !moreB || lineA != lineB)
            return "line " + std::to_string(line) + ": before \"" + (moreA ? lineA : "<end>") +
                   "\", after \"" + (moreB ? lineB : "<end>") + "\"";
    }
}

Expectation expectationFor(const Case& c) {
    if (c.closing == Closing::BeforeStart) {
        Expectation e;
        e.end = Expectation::End::ConnectFailed;
        e.code = ERROR_FILE_NOT_FOUND;
        return e;
    }
    return expectationOf(c.request,
                         c.closing == Closing::AfterConnect || c.closing == Closing::AfterRequest);
}

std::string tail(const std::string& text, std::size_t size) {
    return text.size() <= size ? text : "..." + text.substr(text.size() - size);
}

TEST(BadInput, EveryRunEndsAsPromisedAndChangesNothingOutsideItsOwnFolderAndKey) {
    World world;
    const Mode& mode = options.mode;
    const std::uint64_t planned = systematicCaseCount(world, mode);
    const std::uint64_t randomCases =
        options.randomCases.value_or(mode.thorough ? kLongRandomCases : kDefaultRandomCases);
    const std::uint64_t first = options.only.value_or(0);
    const std::uint64_t end = options.only ? first + 1 : planned + randomCases;
    std::printf("bad input: seed %llu, %s mode, %llu enumerated and %llu random cases%s\n",
                static_cast<unsigned long long>(mode.seed), mode.thorough ? "long" : "default",
                static_cast<unsigned long long>(planned),
                static_cast<unsigned long long>(randomCases),
                options.only ? " (running one of them)" : "");
    std::fflush(stdout);

    std::string sentinelBefore = world.sentinelState();
    std::map<std::string, std::string> protectedBefore;
    bool rebaseline = true;
    ASSERT_EQ(world.setUpFailure(), "") << sentinelBefore;
    const auto started = std::chrono::steady_clock::now();
    std::uint64_t failed = 0, runs = 0;
    double slowestMs = 0, playMs = 0;
    std::uint64_t slowest = 0;
    for (std::uint64_t index = first; index < end; ++index) {
        const Case c = makeCase(world, mode, index);
        if (options.list) {
            std::printf("%s\n", describe(c).c_str());
            continue;
        }
        ASSERT_TRUE(world.resetWork(c.extraRecord, c.appList, c.appListSize, c.shortcutFolder))
            << "the work folder cannot be made";
        const std::string plantedBefore = world.plantedState();
        // The clean-up puts back what a run may add; after a failed case the state is read
        // afresh, so that one failure is reported once.
        if (rebaseline) protectedBefore = world.protectedState();
        rebaseline = false;
        const auto played = std::chrono::steady_clock::now();
        const Observation seen = playCase(world, c);
        playMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - played)
                .count();
        ++runs;
        if (seen.elapsedMs > slowestMs) {
            slowestMs = seen.elapsedMs;
            slowest = index;
        }
        std::vector<std::string> problems = checkRun(c, expectationFor(c), seen);
        const std::string sentinelAfter = world.sentinelState();
        if (sentinelAfter != sentinelBefore) {
            problems.push_back("the sentinel changed, " +
                               firstDifference(sentinelBefore, sentinelAfter));
            sentinelBefore = sentinelAfter;
        }
        const std::string plantedAfter = world.plantedState();
        if (plantedAfter != plantedBefore)
            problems.push_back("another program's shortcut in " + narrow(c.shortcutFolder) +
                               " changed, " + firstDifference(plantedBefore, plantedAfter));
        auto protectedAfter = world.protectedState();
        for (const auto& [location, state] : protectedBefore)
            if (protectedAfter[location] != state)
                problems.push_back("a protected location changed: " + location + ", " +
                                   firstDifference(state, protectedAfter[location]));
        if (problems.empty()) continue;
        rebaseline = true;
        ++failed;
        std::ostringstream report;
        report << describe(c) << "\n";
        for (const std::string& p : problems) report << "  - " << p << "\n";
        report << "  messages: " << test::describe(seen.messages)
               << "\n  log: " << tail(seen.log, 600);
        ADD_FAILURE() << report.str();
        if (failed >= 25) {
            ADD_FAILURE() << "stopping after 25 failed cases";
            break;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "bad input: %llu cases in %.1f s (%.1f s of it in the runs), %llu failed; "
        "slowest: case %llu, %.0f ms\n",
        static_cast<unsigned long long>(runs), seconds, playMs / 1000,
        static_cast<unsigned long long>(failed), static_cast<unsigned long long>(slowest),
        slowestMs);
}

bool parseNumber(const char* text, std::uint64_t& value) {
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}

// Takes this suite's own options out of argv, leaving GoogleTest's.
bool parseOptions(int& argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        std::uint64_t value = 0;
        const bool takesValue =
            argument == "--seed" || argument == "--cases" || argument == "--case";
        if (takesValue && (i + 1 >= argc || !parseNumber(argv[i + 1], value))) {
            std::fprintf(stderr, "%s needs a number\n", argument.c_str());
            return false;
        }
        if (argument == "--list") {
            options.list = true;
        } else if (argument == "--long") {
            options.mode.thorough = true;
        } else if (argument == "--seed") {
            options.mode.seed = value;
            ++i;
        } else if (argument == "--cases") {
            options.randomCases = value;
            ++i;
        } else if (argument == "--case") {
            options.only = value;
            ++i;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return true;
}

}  // namespace
}  // namespace tendril::test::bad_input

int main(int argc, char** argv) {
    if (!tendril::test::bad_input::parseOptions(argc, argv)) return 2;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
