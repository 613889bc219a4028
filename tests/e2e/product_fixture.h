// A client product as the end-to-end tests of registration and uninstall use it: unique names,
// its own registry path, a request builder, readers for what Tendril writes, and clean-up of
// everything registered for it (Uninstall keys, shortcuts, program group).
#pragma once

#include "e2e_support.h"
#include "support/shell_fixture.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace tendril::test {

// name, type and data of every value of HKLM\path, sorted by name: Wine lists values in its own
// order, not in the order they were written, so the order of writing cannot be checked.
struct RegistryValue {
    std::wstring name;
    DWORD type;
    std::wstring data;
    bool operator==(const RegistryValue&) const = default;
};
std::vector<RegistryValue> valuesOf(const std::wstring& path);
// The data of the value called name among values; "<none>" when there is none.
std::wstring dataOf(const std::vector<RegistryValue>& values, const std::wstring& name);
bool keyExists(const std::wstring& path);

class TestProduct {
public:
    TestProduct();
    ~TestProduct();
    TestProduct(const TestProduct&) = delete;
    TestProduct& operator=(const TestProduct&) = delete;

    std::wstring longName, iconName, editorName, regPath, exeName = L"client.exe";
    ScratchFolder shortcutFolder{L"links"};

    // A request for command on folder, with the entries "<iconName>" -> client.exe and
    // "<editorName>" -> tools\editor.exe (create set) and all three shortcut flags.
    launch::Request request(std::int32_t command, const std::wstring& folder) const;
    launch::RunResult run(const TendrilCopy& tendril, const launch::Request& request) const;

    std::wstring uninstallKey(int slot) const;
    // The ten slots as stored ("Directory", "Directory1" ...); "<none>" for a missing value.
    std::array<std::wstring, 10> slots() const;
    void setSlots(const std::vector<std::wstring>& folders) const;
    // Paths of the shortcuts command 1 makes for entry name in slot.
    std::wstring startMenuShortcut(const std::wstring& name, int slot) const;
    std::wstring groupShortcut(const std::wstring& name, int slot) const;
};

// The percentages of the progress messages, in order, and whether the result came last.
std::vector<std::int64_t> progressOf(const std::vector<launch::ReceivedMessage>& messages);

}  // namespace tendril::test
