// The release package: the files the integration guide names are all in it (and nothing else),
// and the packed executables are what ships: 32-bit, tendril.exe a GUI-subsystem program whose
// manifest asks for administrator rights and which imports only libraries that Windows takes from
// its KnownDLLs list, tendril-launch.exe importing only libraries of Windows itself.
#include "common/unique_handle.h"
#include "pe_image.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace tendril::test {
namespace {

// The unpacked package's top folder, as Wine names the build machine's path.
std::wstring packageRoot() {
    std::wstring path = L"Z:";
    for (const char* p = PACKAGE_ROOT; *p; ++p)
        path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

std::wstring windowsPath(const std::string& relative) {
    std::wstring path = packageRoot() + L"\\";
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

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        guide_ = readFile(windowsPath("docs/integrating.md"));
        ASSERT_FALSE(guide_.empty()) << "no docs/integrating.md in " << PACKAGE_ROOT;
    }
    std::string guide_;
};

TEST_F(Package, HoldsExactlyTheFilesTheGuideNames) {
    const std::set<std::string> named = filesTheGuideNames(guide_);
    for (const char* required :
         {"bin/tendril.exe", "bin/tendril-launch.exe", "include/tendril/protocol.h",
          "include/tendril_launcher/launcher.h", "lib/libtendril_launcher.a",
          "docs/integrating.md"})
        EXPECT_TRUE(named.count(required)) << "the guide does not name " << required;

    std::set<std::string> packed;
    listFiles(packageRoot(), "", packed);
    for (const std::string& file : named)
        EXPECT_TRUE(packed.count(file)) << file << " is not packed";
    for (const std::string& file : packed)
        EXPECT_TRUE(named.count(file)) << file << " is packed but the guide does not name it";
}

struct ShippedProgram {
    const char* file;
    WORD subsystem;
    bool asksForAdministrator;
};

class ShippedPrograms : public Package, public ::testing::WithParamInterface<ShippedProgram> {};

TEST_P(ShippedPrograms, Are32BitAndImportOnlyWindowsLibraries) {
    const ShippedProgram& program = GetParam();
    const PeImage image(readFile(windowsPath(program.file)));
    ASSERT_TRUE(image.valid()) << program.file << " is not a PE32 image";
    EXPECT_EQ(image.machine(), IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(image.optionalMagic(), IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(image.subsystem(), program.subsystem);

    // Libraries of Windows itself (msvcrt.dll included); the mingw runtime is linked in.
    const std::set<std::string> system = {
        "kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll",
        "oleaut32.dll", "psapi.dll",  "msvcrt.dll",   "ntdll.dll",   "userenv.dll"};
    const std::vector<std::string> imports = image.importedLibraries();
    EXPECT_NE(std::find(imports.begin(), imports.end(), "KERNEL32.dll"), imports.end());
    for (const std::string& library : imports)
        EXPECT_TRUE(system.count(lower(library))) << program.file << " imports " << library;
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
    ::testing::Values(ShippedProgram{"bin/tendril.exe", IMAGE_SUBSYSTEM_WINDOWS_GUI, true},
                      ShippedProgram{"bin/tendril-launch.exe", IMAGE_SUBSYSTEM_WINDOWS_CUI, false}),
    [](const auto& info) {
        return std::string(info.param.asksForAdministrator ? "Tendril" : "TendrilLaunch");
    });

}  // namespace
}  // namespace tendril::test
