// Move-only owners of exactly one Windows handle. The invalid value and the closer are part of the
// type, so an owner can never close a handle with the wrong function, and no operation body needs
// a hand-written CloseHandle on any of its ways out.
#pragma once

#include <windows.h>

#include <utility>

namespace tendril {

template <typename T, T (*Invalid)(), auto Close>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Closes what is held and takes ownership of value.
    void reset(T value = Invalid()) noexcept {
        if (valid()) Close(value_);
        value_ = value;
    }
    // Gives up ownership without closing.
    [[nodiscard]] T release() noexcept { return std::exchange(value_, Invalid()); }
    // For APIs that return a handle through an out-parameter; closes what was held first.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_ = Invalid();
};

namespace detail {
inline HANDLE nullHandle() { return nullptr; }
inline HANDLE invalidHandle() { return INVALID_HANDLE_VALUE; }
inline HKEY nullKey() { return nullptr; }
inline HMODULE nullModule() { return nullptr; }
inline void closeHandle(HANDLE h) { ::CloseHandle(h); }
inline void closeFind(HANDLE h) { ::FindClose(h); }
inline void closeKey(HKEY k) { ::RegCloseKey(k); }
inline void freeLibrary(HMODULE m) { ::FreeLibrary(m); }
}  // namespace detail

// Process, thread, event and other kernel handles whose "none" is null.
using UniqueHandle = UniqueResource<HANDLE, detail::nullHandle, detail::closeHandle>;
// File and pipe handles, whose "none" is INVALID_HANDLE_VALUE.
using UniqueFile = UniqueResource<HANDLE, detail::invalidHandle, detail::closeHandle>;
// FindFirstFileW listings.
using UniqueFind = UniqueResource<HANDLE, detail::invalidHandle, detail::closeFind>;
// Registry keys opened outside RegistryKey.
using UniqueKey = UniqueResource<HKEY, detail::nullKey, detail::closeKey>;
using UniqueModule = UniqueResource<HMODULE, detail::nullModule, detail::freeLibrary>;

}  // namespace tendril
