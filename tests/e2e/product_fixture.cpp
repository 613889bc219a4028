#include "product_fixture.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>

namespace tendril::test {

namespace {
constexpr wchar_t kUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring displayed(const std::wstring& name, int slot) {
    return slot == 0 ? name : name + L" (" + std::to_wstring(slot + 1) + L")";
}

void deleteMatching(const std::wstring& folder, const std::wstring& pattern) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do ::DeleteFileW((folder + L"\\" + data.cFileName).c_str());
    while (::FindNextFileW(find, &data));
    ::FindClose(find);
}
}  // namespace

std::vector<RegistryValue> valuesOf(const std::wstring& path) {
    std::vector<RegistryValue> values;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0;
        std::vector<BYTE> data(4096);
        DWORD size = static_cast<DWORD>(data.size());
        if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            break;
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        if (!text.empty() && text.back() == L'\0') text.pop_back();
        values.push_back({name, type, text});
    }
    ::RegCloseKey(key);
    std::sort(values.begin(), values.end(),
              [](const RegistryValue& a, const RegistryValue& b) { return a.name < b.name; });
    return values;
}

std::wstring dataOf(const std::vector<RegistryValue>& values, const std::wstring& name) {
    for (const RegistryValue& value : values)
        if (value.name == name) return value.data;
    return L"<none>";
}

bool keyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

TestProduct::TestProduct()
    : longName(uniqueName(L"Client")),
      iconName(uniqueName(L"Play")),
      editorName(uniqueName(L"Edit")),
      regPath(L"SOFTWARE\\TendrilTest\\" + uniqueName(L"product")) {}

TestProduct::~TestProduct() {
    for (int slot = 0; slot < 10; ++slot)
        ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, uninstallKey(slot).c_str());
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, regPath.c_str());
    for (const std::wstring& name : {iconName, editorName})
        deleteMatching(specialFolder(CSIDL_COMMON_STARTMENU), name + L"*.lnk");
    removeTree(specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + longName);
}

launch::Request TestProduct::request(std::int32_t command, const std::wstring& folder) const {
    launch::Request request;
    request.command = command;
    auto& r = request.record;
    launch::Request::setText(r.installFolder, folder);
    launch::Request::setText(r.longName, longName);
    launch::Request::setText(r.iconName, iconName);
    launch::Request::setText(r.regPath, regPath);
    launch::Request::setText(r.urlInfoAbout, L"https://example.com/about");
    launch::Request::setText(r.urlUpdateInfo, L"https://example.com/update");
    launch::Request::setText(r.shortcutFolder, shortcutFolder.path());
    launch::Request::setText(r.exeName, exeName);
    launch::Request::setText(r.argument, folder + L"\\" + exeName);
    r.programsShortcuts = r.iconShortcutFlag = r.startMenuShortcuts = 1;
    request.entries.push_back(launch::Request::entry(iconName, exeName, true));
    request.entries.push_back(launch::Request::entry(editorName, L"tools\\editor.exe", true));
    return request;
}

launch::RunResult TestProduct::run(const TendrilCopy& tendril,
                                   const launch::Request& request) const {
    launch::RunOptions options;
    options.tendrilPath = tendril.path();
    options.timeoutMs = 90000;
    return launch::runCommand(options, request);
}

std::wstring TestProduct::uninstallKey(int slot) const {
    return kUninstallRoot + longName + L" " + std::to_wstring(slot);
}

std::array<std::wstring, 10> TestProduct::slots() const {
    std::array<std::wstring, 10> slots;
    const std::vector<RegistryValue> values = valuesOf(regPath + L"\\Install");
    for (int i = 0; i < 10; ++i) {
        const std::wstring name = i == 0 ? L"Directory" : L"Directory" + std::to_wstring(i);
        slots[i] = L"<none>";
        for (const RegistryValue& value : values)
            if (value.name == name) slots[i] = value.data;
    }
    return slots;
}

void TestProduct::setSlots(const std::vector<std::wstring>& folders) const {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyW(HKEY_LOCAL_MACHINE, (regPath + L"\\Install").c_str(), &key), 0);
    for (int i = 0; i < 10; ++i) {
        const std::wstring name = i == 0 ? L"Directory" : L"Directory" + std::to_wstring(i);
        const std::wstring text = i < static_cast<int>(folders.size()) ? folders[i] : L"";
        ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    ::RegCloseKey(key);
}

std::wstring TestProduct::startMenuShortcut(const std::wstring& name, int slot) const {
    return specialFolder(CSIDL_COMMON_STARTMENU) + L"\\" + displayed(name, slot) + L".lnk";
}

std::wstring TestProduct::groupShortcut(const std::wstring& name, int slot) const {
    return specialFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + longName + L"\\" + displayed(name, slot) +
           L".lnk";
}

std::vector<std::int64_t> progressOf(const std::vector<launch::ReceivedMessage>& messages) {
    std::vector<std::int64_t> percentages;
    for (const launch::ReceivedMessage& m : messages)
        if (m.message == WM_ASSISTANT_STATUS && m.wParam == STATUS_PROGRESS)
            percentages.push_back(m.lParam);
    return percentages;
}

}  // namespace tendril::test
