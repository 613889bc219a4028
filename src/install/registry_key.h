// RegistryKey: the owner of one open registry key, and the few key-level operations every
// registry user shares. All our registry data lives below HKEY_LOCAL_MACHINE in the process's
// default view (no WOW64 view flag anywhere) and is made of REG_SZ values whose stored size always
// includes the terminating NUL, so an empty text is 2 bytes, never 0.
#pragma once

#include "common/unique_handle.h"

#include <windows.h>

namespace tendril {

// KEY_READ | KEY_WRITE: the access every key is opened with by RegistryKey::open.
constexpr REGSAM kRegistryKeyAccess = KEY_READ | KEY_WRITE;
static_assert(kRegistryKeyAccess == 0x2001F);

// Holds at most one open key handle (null while closed) and nothing else. Movable, not copyable;
// the handle is closed when the object is destroyed. Every operation returns a Win32 status.
class RegistryKey {
public:
    RegistryKey() noexcept = default;
    // Takes ownership of an open key (null means closed).
    explicit RegistryKey(HKEY key) noexcept : key_(key) {}
    RegistryKey(RegistryKey&&) noexcept = default;
    RegistryKey& operator=(RegistryKey&&) noexcept = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() = default;  // the owner closes the handle

    HKEY get() const noexcept { return key_.get(); }
    bool isOpen() const noexcept { return key_.valid(); }

    // RegOpenKeyExW(parent, subKey, 0, KEY_READ | KEY_WRITE). On success the key held before is
    // closed and replaced, and the status of that close is returned (0 when nothing was held). On
    // failure the error is returned and the key held before is kept.
    LSTATUS open(HKEY parent, const wchar_t* subKey);
    // Closes the held key; 0 when nothing was held.
    LSTATUS close();

    // Reads a REG_SZ or REG_EXPAND_SZ value (expand text is taken literally). On entry length is
    // the capacity of buffer in characters; it is set to 0 at once and, on success, to the number
    // of characters read including the terminating NUL (0 for a value of 0 bytes, whose text is
    // then the empty string). Returns 2 for a missing value, 234 when the value does not fit (no
    // text is truncated), 13 for any other type, an odd byte count or a last character that is
    // not NUL. Whatever the status, a buffer with room for one character is left NUL-terminated;
    // the registry does not guarantee that, so callers must not rely on the stored data for it.
    // A null buffer asks only for the size: length becomes the stored byte count / 2.
    LSTATUS readString(const wchar_t* name, wchar_t* buffer, DWORD& length) const;

    // Writes text as REG_SZ with (length + 1) * 2 bytes, the NUL included; a null text is written
    // as the empty string. Fails with ERROR_INVALID_HANDLE, writing nothing, when closed.
    LSTATUS writeString(const wchar_t* name, const wchar_t* text) const;

private:
    UniqueKey key_;
};

// The operations below take a whole sub-key path and follow every registry link on it, as does
// RegistryKey::open. A key whose path a request names, or that Users may change (a client key
// after a grant, what lies below it, the Uninstall entry named after the request), is opened and
// created through anchored_key.h instead, and deleted with deleteKeyTree.

// A key handed back by the create and legacy-open operations, with the status of the call. The
// key is closed whenever status is not 0.
struct RegistryKeyResult {
    RegistryKey key;
    LSTATUS status = ERROR_SUCCESS;
};

// Create-or-open (RegCreateKeyW): opens parent\subKey, creating it and any missing key above it.
// An empty or null sub-key is refused with ERROR_INVALID_PARAMETER, so the result never aliases
// the parent handle.
RegistryKeyResult createRegistryKey(HKEY parent, const wchar_t* subKey);

// The legacy open (RegOpenKeyW, no access mask), used for a client's registry path. An empty or
// null sub-key is refused with ERROR_INVALID_PARAMETER: RegOpenKeyW would hand back the parent
// handle itself, which the result would then close a second time.
RegistryKeyResult openRegistryKeyLegacy(HKEY parent, const wchar_t* subKey);

// Removes parent\subKey with all its sub-keys and values (SHDeleteKeyW); 2 when it is missing.
// An empty or null sub-key is refused with ERROR_INVALID_PARAMETER instead of emptying parent.
LSTATUS deleteRegistryTree(HKEY parent, const wchar_t* subKey);

}  // namespace tendril
