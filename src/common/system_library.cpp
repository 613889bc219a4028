#include "common/system_library.h"

#include "common/growing_buffer.h"

#include <string>

namespace tendril {

namespace {

using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);

// Looked up, not imported: a static import of a function that an unpatched Windows 7 lacks would
// keep the program from starting there at all.
FARPROC kernel32Function(const char* name) {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? ::GetProcAddress(kernel32, name) : nullptr;
}

// The LOAD_LIBRARY_SEARCH_* flags of LoadLibraryExW exist where AddDllDirectory does (the same
// update brought both); an older loader rejects them.
bool searchFlagsKnown() {
    static const bool known = kernel32Function("AddDllDirectory") != nullptr;
    return known;
}

}  // namespace

bool restrictLibrarySearch() noexcept {
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(kernel32Function("SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    ::SetDllDirectoryW(L"");
    return false;
}

HMODULE loadSystemLibrary(const wchar_t* fileName) noexcept {
    if (searchFlagsKnown())
        return ::LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the flags: the full path, and its own folder first for what the library needs.
    const std::wstring system = callWithGrowingBuffer(
        [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
    if (system.empty()) return nullptr;
    return ::LoadLibraryExW((system + L"\\" + fileName).c_str(), nullptr,
                            LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace tendril
