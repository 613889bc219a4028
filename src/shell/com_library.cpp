#include "shell/com_library.h"

#include "common/growing_buffer.h"

#include <windows.h>

#include <string>

namespace tendril::com {

namespace {

using InitializeProc = HRESULT(WINAPI*)(void*);
using UninitializeProc = void(WINAPI*)();
using CreateInstanceProc = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);

struct Library {
    InitializeProc initialize = nullptr;
    UninitializeProc uninitialize = nullptr;
    CreateInstanceProc createInstance = nullptr;

    bool ok() const { return initialize && uninitialize && createInstance; }
};

template <typename Proc>
Proc find(HMODULE module, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

Library bind() {
    const std::wstring system = callWithGrowingBuffer(
        [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
    Library library;
    if (system.empty()) return library;
    // Never freed: the functions are used until the process ends.
    const HMODULE module = ::LoadLibraryW((system + L"\\ole32.dll").c_str());
    if (module == nullptr) return library;
    library.initialize = find<InitializeProc>(module, "CoInitialize");
    library.uninitialize = find<UninitializeProc>(module, "CoUninitialize");
    library.createInstance = find<CreateInstanceProc>(module, "CoCreateInstance");
    return library;
}

// Bound once, on the first call from any thread.
const Library& library() {
    static const Library bound = bind();
    return bound;
}

}  // namespace

HRESULT initialize() noexcept {
    const Library& com = library();
    return com.ok() ? com.initialize(nullptr) : CO_E_DLLNOTFOUND;
}

void uninitialize() noexcept {
    const Library& com = library();
    if (com.ok()) com.uninitialize();
}

HRESULT createInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId,
                       void** object) noexcept {
    if (object != nullptr) *object = nullptr;
    const Library& com = library();
    return com.ok() ? com.createInstance(classId, outer, context, interfaceId, object)
                    : CO_E_DLLNOTFOUND;
}

}  // namespace tendril::com
