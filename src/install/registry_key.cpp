#include "install/registry_key.h"

#include <shlwapi.h>

#include <cwchar>

namespace tendril {

namespace {

bool isEmpty(const wchar_t* text) { return text == nullptr || text[0] == L'\0'; }

}  // namespace

LSTATUS RegistryKey::open(HKEY parent, const wchar_t* subKey) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(parent, subKey, 0, kRegistryKeyAccess, &opened);
    if (status != ERROR_SUCCESS) return status;
    const LSTATUS closed = close();
    key_.reset(opened);
    return closed;
}

LSTATUS RegistryKey::close() {
    if (!key_) return ERROR_SUCCESS;
    return ::RegCloseKey(key_.release());
}

LSTATUS RegistryKey::readString(const wchar_t* name, wchar_t* buffer, DWORD& length) const {
    // Beyond this the byte capacity would not fit a DWORD.
    const DWORD capacity = length > MAXDWORD / 2 ? MAXDWORD / 2 : length;
    length = 0;
    if (buffer != nullptr && capacity > 0) buffer[0] = L'\0';
    if (!key_) return ERROR_INVALID_HANDLE;

    DWORD type = REG_NONE;
    DWORD bytes = capacity * 2;
    const LSTATUS status = ::RegQueryValueExW(key_.get(), name, nullptr, &type,
                                              reinterpret_cast<BYTE*>(buffer), &bytes);
    // The query may have written into the buffer before it failed; what the caller sees of the
    // text on any failure is the empty string.
    auto fail = [&](LSTATUS code) {
        if (buffer != nullptr && capacity > 0) buffer[0] = L'\0';
        return code;
    };
    if (status != ERROR_SUCCESS) return fail(status);
    if (type != REG_SZ && type != REG_EXPAND_SZ) return fail(ERROR_INVALID_DATA);
    if (buffer != nullptr) {
        if (bytes > capacity * 2) return fail(ERROR_MORE_DATA);  // never trust the count blindly
        if (bytes == 0) {
            // Nothing was stored, not even the NUL: the text is empty (when there is room for it).
            if (capacity > 0) buffer[0] = L'\0';
            return ERROR_SUCCESS;
        }
        if (bytes % 2 != 0 || buffer[bytes / 2 - 1] != L'\0') return fail(ERROR_INVALID_DATA);
    }
    length = bytes / 2;
    return ERROR_SUCCESS;
}

LSTATUS RegistryKey::writeString(const wchar_t* name, const wchar_t* text) const {
    if (!key_) return ERROR_INVALID_HANDLE;
    if (text == nullptr) text = L"";
    const std::size_t characters = std::wcslen(text);
    if (characters >= MAXDWORD / 2) return ERROR_INVALID_PARAMETER;
    const DWORD bytes = static_cast<DWORD>((characters + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                            bytes);
}

namespace {

// Runs one of the two legacy key calls that hand back a new handle; an empty sub-key is refused,
// since both would then return the parent itself, which the owner would close a second time.
RegistryKeyResult ownedKeyFrom(LSTATUS(WINAPI* call)(HKEY, LPCWSTR, PHKEY), HKEY parent,
                               const wchar_t* subKey) {
    RegistryKeyResult result;
    if (isEmpty(subKey)) {
        result.status = ERROR_INVALID_PARAMETER;
        return result;
    }
    HKEY key = nullptr;
    result.status = call(parent, subKey, &key);
    if (result.status == ERROR_SUCCESS) result.key = RegistryKey(key);
    return result;
}

}  // namespace

RegistryKeyResult createRegistryKey(HKEY parent, const wchar_t* subKey) {
    return ownedKeyFrom(::RegCreateKeyW, parent, subKey);
}

RegistryKeyResult openRegistryKeyLegacy(HKEY parent, const wchar_t* subKey) {
    return ownedKeyFrom(::RegOpenKeyW, parent, subKey);
}

LSTATUS deleteRegistryTree(HKEY parent, const wchar_t* subKey) {
    if (isEmpty(subKey)) return ERROR_INVALID_PARAMETER;
    return static_cast<LSTATUS>(::SHDeleteKeyW(parent, subKey));
}

}  // namespace tendril
