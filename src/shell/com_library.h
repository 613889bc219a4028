// The three functions we use from the COM library (ole32.dll), bound the first time a shell
// operation needs them rather than when the program starts: only shortcuts need COM, and loading
// the library costs every other command start-up time and memory (under Wine about 10 ms and
// 1.8 MiB, most of what separates a bare program from us).
//
// The library is loaded by its full path in the system folder, never through the search path:
// we run elevated, and a planted ole32.dll beside us or in the current folder must not be run.
// It stays loaded until the process ends. When it cannot be loaded, the calls fail with
// CO_E_DLLNOTFOUND and the shell operation fails as it would without COM.
#pragma once

#include <objbase.h>

namespace tendril::com {

// CoInitialize(nullptr).
HRESULT initialize() noexcept;
// CoUninitialize(); only after an initialize() that succeeded.
void uninitialize() noexcept;
// CoCreateInstance.
HRESULT createInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId,
                       void** object) noexcept;

}  // namespace tendril::com
