// The two release packages (win32 and win64): the files the integration guide names are all in
// each (and nothing else), with the third-party notices they owe, and the packed binaries are what
// ships: tendril.exe the same 32-bit file in both, a GUI-subsystem program whose manifest asks for
// administrator rights and which imports only libraries that Windows takes from its KnownDLLs
// list; tendril-launch.exe and tendril_launcher.dll of the package's architecture, importing only
// libraries of Windows itself (no mingw runtime DLL), the DLL exporting exactly the functions of
// its C header.
#include "common/unique_handle.h"
#include "pe_image.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace tendril::test {
namespace {

// One unpacked package: its name, its top folder (a path of the build machine) and the machine
// type of the programs built for it.
struct ReleasePackage {
    const char* name;
    const char* root;
    WORD machine;
};
void PrintTo(const ReleasePackage& package, std::ostream* out) { *out << package.name; }
const ReleasePackage kWin32{"Win32", PACKAGE_ROOT_WIN32, IMAGE_FILE_MACHINE_I386};
const ReleasePackage kWin64{"Win64", PACKAGE_ROOT_WIN64, IMAGE_FILE_MACHINE_AMD64};

// The package's top folder, as Wine names the build machine's path.
std::wstring packageRoot(const ReleasePackage& package) {
    std::wstring path = L"Z:";
    for (const char* p = package.root; *p; ++p)
        path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

std::wstring windowsPath(const ReleasePackage& package, const std::string& relative) {
    std::wstring path = packageRoot(package) + L"\\";
    for (char c : relative) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Every file below folder, as "dir/name" relative to the package root.
void listFiles(const std::wstring& folder, const std::string& prefix,
               std::set<std::string>& files) {
    WIN32_FIND_DATAW found{};
    const UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!find) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        std::string narrowName;
        for (wchar_t c : name) narrowName += static_cast<char>(c);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            listFiles(folder + L"\\" + name, prefix + narrowName + "/", files);
        else
            files.insert(prefix + narrowName);
    } while (::FindNextFileW(find.get(), &found));
}

// The files that the guide's "What the package holds" table names: the first backticked text of
// each row.
std::set<std::string> filesTheGuideNames(const std::string& guide) {
    std::set<std::string> named;
    std::istringstream lines(guide);
    std::string line;
    bool inSection = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("## ", 0) == 0) inSection = line == "## What the package holds";
        if (!inSection || line.rfind("| `", 0) != 0) continue;
        const std::size_t end = line.find('`', 3);
        if (end != std::string::npos) named.insert(line.substr(3, end - 3));
    }
    return named;
}

// The libraries that Windows loads from the system folder whatever folder a program runs from:
// the values of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs as Windows 10
// and 11 carry them (the WOW64 and ARM emulation entries left out), and ntdll.dll, which every
// process has mapped from the system folder before anything of its own is loaded. Windows 7 lists
// the libraries Tendril imports as well. Any other import of the elevated tendril.exe, userenv.dll
// for one, is looked for in its own folder first, where the launcher writes.
const std::set<std::string> kKnownDlls = {
    "advapi32.dll", "clbcatq.dll",  "combase.dll",  "comdlg32.dll", "coml2.dll",    "difxapi.dll",
    "gdi32.dll",    "gdiplus.dll",  "imagehlp.dll", "imm32.dll",    "kernel32.dll", "msctf.dll",
    "msvcrt.dll",   "normaliz.dll", "nsi.dll",      "ole32.dll",    "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll",   "sechost.dll",  "setupapi.dll", "shcore.dll",   "shell32.dll",  "shlwapi.dll",
    "user32.dll",   "wldap32.dll",  "ws2_32.dll",   "ntdll.dll"};

// The imports (as the import table names them) that Windows would look for beside the program.
std::vector<std::string> outsideKnownDlls(const std::vector<std::string>& imports) {
    std::vector<std::string> outside;
    for (const std::string& library : imports)
        if (!kKnownDlls.count(lower(library))) outside.push_back(library);
    return outside;
}

TEST(KnownDlls, AnImportOutsideTheListIsFound) {
    const struct {
        std::vector<std::string> imports;
        std::vector<std::string> outside;
    } cases[] = {
        {{"KERNEL32.dll", "USER32.dll", "msvcrt.dll", "ntdll.dll", "SHLWAPI.dll", "PSAPI.DLL"}, {}},
        // What tendril.exe once imported, and what a careless link line would add.
        {{"ADVAPI32.dll", "USERENV.dll", "SHELL32.dll"}, {"USERENV.dll"}},
        {{"version.dll", "KERNEL32.dll", "uxtheme.dll", "kernelbase.dll"},
         {"version.dll", "uxtheme.dll", "kernelbase.dll"}},
        // A name is matched whole, not by its beginning.
        {{"kernel32.dll.evil", "shell32"}, {"kernel32.dll.evil", "shell32"}},
    };
    for (const auto& c : cases) EXPECT_EQ(outsideKnownDlls(c.imports), c.outside);
}

// The exported functions that a C header declares: the name before the parameter list of every
// declaration that starts a line with TENDRIL_API (not the macro's own definitions).
std::set<std::string> functionsTheHeaderDeclares(const std::string& header) {
    std::set<std::string> names;
    for (std::size_t at = header.find("TENDRIL_API "); at != std::string::npos;
         at = header.find("TENDRIL_API ", at + 1)) {
        if (at != 0 && header[at - 1] != '\n') continue;
        const std::size_t open = header.find('(', at);
        if (open == std::string::npos) break;
        std::size_t end = open;
        while (end > at && header[end - 1] == ' ') --end;
        std::size_t begin = end;
        while (begin > at && (std::isalnum(static_cast<unsigned char>(header[begin - 1])) ||
                              header[begin - 1] == '_'))
            --begin;
        if (begin < end) names.insert(header.substr(begin, end - begin));
    }
    return names;
}

// The libraries of Windows itself (msvcrt.dll included) that a packed binary may import: the
// mingw runtime (libgcc_s_*.dll, libstdc++-6.dll, libwinpthread-1.dll) is linked in, so that
// nothing but the package's own files has to lie beside a program.
const std::set<std::string> kWindowsLibraries = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll",  "msvcrt.dll",   "ntdll.dll",   "userenv.dll"};

void expectOnlyWindowsLibraries(const std::string& file, const std::vector<std::string>& imports) {
    EXPECT_NE(std::find(imports.begin(), imports.end(), "KERNEL32.dll"), imports.end()) << file;
    for (const std::string& library : imports)
        EXPECT_TRUE(kWindowsLibraries.count(lower(library))) << file << " imports " << library;
}

class Package : public ::testing::TestWithParam<ReleasePackage> {
protected:
    void SetUp() override {
        guide_ = readFile(windowsPath(GetParam(), "docs/integrating.md"));
        ASSERT_FALSE(guide_.empty()) << "no docs/integrating.md in " << GetParam().root;
    }
    std::wstring path(const std::string& relative) const {
        return windowsPath(GetParam(), relative);
    }
    std::string guide_;
};

TEST_P(Package, HoldsExactlyTheFilesTheGuideNames) {
    const std::set<std::string> named = filesTheGuideNames(guide_);
    for (const char* required :
         {"bin/tendril.exe", "bin/tendril-launch.exe", "bin/tendril_launcher.dll",
          "lib/libtendril_launcher.dll.a", "include/tendril/protocol.h",
          "include/tendril_launcher/tendril_launcher.h",
          "lib/cmake/TendrilLauncher/TendrilLauncherConfig.cmake",
          "lib/cmake/TendrilLauncher/TendrilLauncherConfigVersion.cmake", "docs/integrating.md",
          "docs/third-party/THIRD-PARTY-NOTICES.txt"})
        EXPECT_TRUE(named.count(required)) << "the guide does not name " << required;

    std::set<std::string> packed;
    listFiles(packageRoot(GetParam()), "", packed);
    for (const std::string& file : named)
        EXPECT_TRUE(packed.count(file)) << file << " is not packed";
    for (const std::string& file : packed)
        EXPECT_TRUE(named.count(file)) << file << " is packed but the guide does not name it";
}

// Each licence text is the one of the code it is named after (a text its licence requires in it),
// and the index names every text beside it.
TEST_P(Package, CarriesTheLicencesOfWhatItsProgramsContain) {
    const struct {
        const char* file;
        const char* mustContain;
    } notices[] = {
        {"CLI11.txt", "Upstream-Name: CLI11"},
        {"nlohmann-json.txt", "Upstream-Name: nlohmann-json"},
        {"mingw-w64.txt", "winpthreads"},
        {"gcc-runtime.txt", "GCC RUNTIME LIBRARY EXCEPTION"},
        {"GPL-3.txt", "GNU GENERAL PUBLIC LICENSE"},
    };
    const std::string index = readFile(path("docs/third-party/THIRD-PARTY-NOTICES.txt"));
    ASSERT_FALSE(index.empty()) << "no THIRD-PARTY-NOTICES.txt";
    for (const auto& notice : notices) {
        const std::string text = readFile(path(std::string("docs/third-party/") + notice.file));
        EXPECT_NE(text.find(notice.mustContain), std::string::npos)
            << notice.file << " is missing, empty or not the expected licence";
    }
    std::set<std::string> packed;
    listFiles(path("docs/third-party"), "", packed);
    for (const std::string& file : packed) {
        if (file == "THIRD-PARTY-NOTICES.txt") continue;
        EXPECT_NE(index.find(file), std::string::npos) << "the index does not name " << file;
    }
}

// tendril_launcher.dll: a DLL of the package's architecture whose export table is exactly the
// functions of tendril_launcher.h (no C++ name, no internal function, none missing), and which
// needs no mingw runtime DLL beside it.
TEST_P(Package, LauncherDllExportsExactlyItsCHeader) {
    const std::set<std::string> declared =
        functionsTheHeaderDeclares(readFile(path("include/tendril_launcher/tendril_launcher.h")));
    ASSERT_TRUE(declared.count("tendril_run_start") && declared.count("tendril_version"))
        << "tendril_launcher.h is missing or its declarations could not be read";

    const PeImage dll(readFile(path("bin/tendril_launcher.dll")));
    ASSERT_TRUE(dll.valid()) << "bin/tendril_launcher.dll is not a PE image";
    EXPECT_EQ(dll.machine(), GetParam().machine);
    EXPECT_TRUE(dll.characteristics() & IMAGE_FILE_DLL);
    const std::vector<std::string> exports = dll.exportedNames();
    EXPECT_EQ(std::set<std::string>(exports.begin(), exports.end()), declared);
    EXPECT_EQ(exports.size(), declared.size()) << "a name is exported twice";
    expectOnlyWindowsLibraries("bin/tendril_launcher.dll", dll.importedLibraries());
}

INSTANTIATE_TEST_SUITE_P(Release, Package, ::testing::Values(kWin32, kWin64),
                         [](const auto& info) { return std::string(info.param.name); });

// What ships is the 32-bit tendril.exe: the 64-bit package carries that very file.
TEST(Packages, CarryTheSameTendrilExe) {
    const std::string win32 = readFile(windowsPath(kWin32, "bin/tendril.exe"));
    ASSERT_FALSE(win32.empty()) << "no bin/tendril.exe in " << kWin32.root;
    EXPECT_TRUE(win32 == readFile(windowsPath(kWin64, "bin/tendril.exe")))
        << "the win64 package's tendril.exe is not the win32 package's";
}

struct ShippedProgram {
    const char* file;
    WORD subsystem;
    bool asksForAdministrator;
};
void PrintTo(const ShippedProgram& program, std::ostream* out) { *out << program.file; }

class ShippedPrograms
    : public ::testing::TestWithParam<std::tuple<ReleasePackage, ShippedProgram>> {};

TEST_P(ShippedPrograms, HaveTheirArchitectureAndImportOnlyWindowsLibraries) {
    const auto& [package, program] = GetParam();
    const PeImage image(readFile(windowsPath(package, program.file)));
    ASSERT_TRUE(image.valid()) << program.file << " is not a PE image";
    // tendril.exe is 32-bit in both packages; the launcher side is built for the package's.
    const WORD machine = program.asksForAdministrator ? IMAGE_FILE_MACHINE_I386 : package.machine;
    EXPECT_EQ(image.machine(), machine);
    EXPECT_EQ(image.optionalMagic(), machine == IMAGE_FILE_MACHINE_I386
                                         ? IMAGE_NT_OPTIONAL_HDR32_MAGIC
                                         : IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(image.subsystem(), program.subsystem);

    const std::vector<std::string> imports = image.importedLibraries();
    expectOnlyWindowsLibraries(program.file, imports);
    if (program.asksForAdministrator) {
        // Elevated, Tendril loads nothing from the folder the launcher writes into.
        EXPECT_EQ(outsideKnownDlls(imports), std::vector<std::string>())
            << program.file << " imports libraries that Windows looks for beside it";
        // Tendril loads the COM library only when a shortcut needs it: at start-up it would cost
        // every command time and memory.
        for (const std::string& library : imports)
            EXPECT_NE(lower(library), "ole32.dll") << program.file << " imports ole32.dll";
    }

    const std::vector<std::string> manifests = image.manifests();
    if (!program.asksForAdministrator) return;
    ASSERT_EQ(manifests.size(), 1u) << "one embedded manifest";
    const std::string& manifest = manifests.front();
    const std::size_t level = manifest.find("<requestedExecutionLevel");
    ASSERT_NE(level, std::string::npos) << manifest;
    const std::string element = manifest.substr(level, manifest.find('>', level) - level);
    EXPECT_NE(element.find("level=\"requireAdministrator\""), std::string::npos) << element;
}

INSTANTIATE_TEST_SUITE_P(
    Release, ShippedPrograms,
    ::testing::Combine(::testing::Values(kWin32, kWin64),
                       ::testing::Values(ShippedProgram{"bin/tendril.exe",
                                                        IMAGE_SUBSYSTEM_WINDOWS_GUI, true},
                                         ShippedProgram{"bin/tendril-launch.exe",
                                                        IMAGE_SUBSYSTEM_WINDOWS_CUI, false})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param).asksForAdministrator ? "Tendril" : "TendrilLaunch");
    });

}  // namespace
}  // namespace tendril::test
