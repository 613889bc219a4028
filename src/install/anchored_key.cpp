#include "install/anchored_key.h"

#include "log/log.h"

#include <winternl.h>

#include <string>

// Deletes the key a handle is open on, by that handle; no name is looked up. ntdll exports it,
// the SDK's user-mode headers do not declare it.
extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);

namespace tendril {

namespace {

// A link key carries its target in this value (type REG_LINK). A key that holds a value of this
// name is taken for a link whatever the type: nothing of ours writes one, and Windows follows
// only a link key's.
constexpr wchar_t kLinkValue[] = L"SymbolicLinkValue";

// Asks a key opened as itself whether it is a link; 0 when that could be answered.
LSTATUS askIsLink(HKEY key, bool& link) {
    const LSTATUS status = ::RegQueryValueExW(key, kLinkValue, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_FILE_NOT_FOUND) {
        link = false;
        return ERROR_SUCCESS;
    }
    if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        link = true;
        return ERROR_SUCCESS;
    }
    return status;
}

std::vector<std::wstring> componentsOf(std::wstring_view path) {
    std::vector<std::wstring> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\') continue;
        if (i > start) names.emplace_back(path.substr(start, i - start));
        start = i + 1;
    }
    return names;
}

LSTATUS deleteKeyItself(HKEY key) {
    const NTSTATUS status = ::NtDeleteKey(key);
    return NT_SUCCESS(status) ? ERROR_SUCCESS
                              : static_cast<LSTATUS>(::RtlNtStatusToDosError(status));
}

// The longest name a key may have.
constexpr std::size_t kMaxKeyNameChars = 255;

const wchar_t* reasonOf(KeyRefusal refusal) {
    switch (refusal) {
        case KeyRefusal::LinkOnTheWay:
            return L"a link on the way";
        case KeyRefusal::Undecidable:
            return L"a decision that could not be made";
        case KeyRefusal::NotOneName:
            return L"a name that is not one key";
        case KeyRefusal::None:
            break;
    }
    return L"";
}

}  // namespace

AnchoredKey AnchoredKey::open(HKEY parent, std::wstring_view path, REGSAM access, KeyUse use) {
    AnchoredKey key;
    key.parent_ = parent;
    key.names_ = componentsOf(path);
    key.access_ = access;
    key.use_ = use;
    if (key.names_.empty())
        key.refuse(KeyRefusal::NotOneName, ERROR_INVALID_PARAMETER);
    else
        key.walk(false);
    return key;
}

AnchoredKey AnchoredKey::openChild(HKEY parent, std::wstring_view name, REGSAM access, KeyUse use) {
    if (!name.empty() && name.find(L'\\') == std::wstring_view::npos)
        return open(parent, name, access, use);
    AnchoredKey key;
    key.parent_ = parent;
    key.names_.emplace_back(name);  // as given, so that the log shows it
    key.refuse(KeyRefusal::NotOneName, ERROR_INVALID_PARAMETER);
    return key;
}

LSTATUS AnchoredKey::createMissing() {
    if (refused()) return ERROR_ACCESS_DENIED;
    if (names_.empty() || use_ != KeyUse::Create) return ERROR_INVALID_FUNCTION;
    // A name no key may have is found before anything is created for it, so that no part of the
    // path is left behind.
    for (std::size_t i = held_; i < names_.size(); ++i)
        if (names_[i].size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
    const LSTATUS status = walk(true);
    return refused() ? ERROR_ACCESS_DENIED : status;
}

LSTATUS AnchoredKey::walk(bool create) {
    while (held_ < names_.size()) {
        const bool last = held_ + 1 == names_.size();
        // Every component is asked whether it is a link, which needs KEY_QUERY_VALUE.
        REGSAM access = KEY_QUERY_VALUE;
        if (last)
            access |= access_;
        else if (use_ == KeyUse::Create)
            access |= KEY_CREATE_SUB_KEY;
        const HKEY parent = held_ == 0 ? parent_ : key_.get();
        const wchar_t* name = names_[held_].c_str();
        HKEY opened = nullptr;
        DWORD disposition = REG_OPENED_EXISTING_KEY;
        LSTATUS status = ERROR_SUCCESS;
        if (create) {
            status = ::RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_OPEN_LINK, access,
                                       nullptr, &opened, &disposition);
            // Someone made the key since it was found missing. That a create given
            // REG_OPTION_OPEN_LINK opens a link itself is what Wine does (probed), but only the
            // open documents it: the key is taken again through the open.
            if (status == ERROR_SUCCESS && disposition != REG_CREATED_NEW_KEY) {
                ::RegCloseKey(opened);
                opened = nullptr;
                status = ::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, &opened);
            }
        } else {
            status = ::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, &opened);
        }
        if (status != ERROR_SUCCESS) {
            // Missing is no refusal: the deepest key that exists is kept for createMissing. A
            // create that fails has made nothing. A name longer than any key may have names no
            // key there is (the registry answers ERROR_INVALID_PARAMETER for it).
            const bool cannotExist =
                status == ERROR_INVALID_PARAMETER && names_[held_].size() > kMaxKeyNameChars;
            if (create || status == ERROR_FILE_NOT_FOUND || cannotExist) return status;
            return refuse(KeyRefusal::Undecidable, status);
        }
        RegistryKey next(opened);
        // A key we have just created is ours and no link; an existing one may be either.
        if (disposition != REG_CREATED_NEW_KEY) {
            bool link = false;
            const LSTATUS asked = askIsLink(next.get(), link);
            if (asked != ERROR_SUCCESS) return refuse(KeyRefusal::Undecidable, asked);
            if (link) return refuse(KeyRefusal::LinkOnTheWay, ERROR_SUCCESS);
        }
        key_ = std::move(next);
        ++held_;
    }
    return ERROR_SUCCESS;
}

LSTATUS AnchoredKey::refuse(KeyRefusal refusal, LSTATUS status) {
    refusal_ = refusal;
    refusalStatus_ = status;
    key_.close();
    return ERROR_ACCESS_DENIED;
}

const RegistryKey& AnchoredKey::key() const noexcept {
    static const RegistryKey closed;
    return isOpen() ? key_ : closed;
}

RegistryKey AnchoredKey::release() noexcept {
    RegistryKey result;
    if (isOpen()) result = std::move(key_);
    *this = AnchoredKey();
    return result;
}

std::wstring AnchoredKey::joined(std::size_t count) const {
    std::wstring text;
    for (std::size_t i = 0; i < count && i < names_.size(); ++i) {
        if (i > 0) text += L'\\';
        text += names_[i];
    }
    return text;
}

std::wstring AnchoredKey::refusedAt() const { return refused() ? joined(held_ + 1) : L""; }

std::wstring AnchoredKey::path() const { return joined(names_.size()); }

bool logKeyRefusal(const AnchoredKey& key, const std::wstring& parentPath) {
    if (!key.refused()) return false;
    auto within = [&](const std::wstring& tail) {
        if (parentPath.empty()) return tail;
        return tail.empty() ? parentPath : parentPath + L"\\" + tail;
    };
    std::wstring line =
        L"Refused registry path: " + within(key.path()) + L": " + reasonOf(key.refusal());
    if (key.refusal() == KeyRefusal::LinkOnTheWay)
        line += L" (" + within(key.refusedAt()) + L")";
    else if (key.refusal() == KeyRefusal::Undecidable)
        line += L" (" + within(key.refusedAt()) + L", error " +
                std::to_wstring(key.refusalStatus()) + L")";
    logText(line.c_str(), true);
    return true;
}

LSTATUS deleteKeyTree(HKEY key) {
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    LSTATUS first = ERROR_SUCCESS;
    // Subkeys that could not be deleted stay at the indexes below this one.
    DWORD index = 0;
    for (;;) {
        DWORD longest = 0;
        if (const LSTATUS status =
                ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
            status != ERROR_SUCCESS) {
            first = status;
            break;
        }
        std::wstring name(longest + 1, L'\0');
        DWORD length = longest + 1;
        const LSTATUS listed =
            ::RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) break;
        if (listed != ERROR_SUCCESS) {
            if (first == ERROR_SUCCESS) first = listed;
            break;
        }
        name.resize(length);
        HKEY opened = nullptr;
        LSTATUS status =
            ::RegOpenKeyExW(key, name.c_str(), REG_OPTION_OPEN_LINK, kKeyTreeDeleteAccess, &opened);
        if (status == ERROR_SUCCESS) {
            const RegistryKey child(opened);
            bool link = false;
            status = askIsLink(child.get(), link);
            // A link goes itself; below it lies some other key of the machine.
            if (status == ERROR_SUCCESS)
                status = link ? deleteKeyItself(child.get()) : deleteKeyTree(child.get());
        }
        if (status != ERROR_SUCCESS) {
            if (first == ERROR_SUCCESS) first = status;
            ++index;
        }
    }
    const LSTATUS deleted = deleteKeyItself(key);
    return first != ERROR_SUCCESS ? first : deleted;
}

}  // namespace tendril
