// AnchoredKey: a registry key opened from its root down, one component at a time, each component
// as itself, so that no registry link on the way ever carries what we do as administrator.
//
// Once a grant has given Users full control of a client key, they can put a registry link
// anywhere below it: full control of a key includes KEY_CREATE_LINK. A key opened or created by
// its whole path follows every link on the way, REG_OPTION_OPEN_LINK only keeping the last
// component from being followed: "SOFTWARE\X\L\svc" with L leading to
// SYSTEM\CurrentControlSet\Services would have us create and open up a service's key. Here each
// component is opened relative to the one above with REG_OPTION_OPEN_LINK, which gives a link
// key itself, and is refused when it is a link (it carries a "SymbolicLinkValue") or when that
// cannot be told. A missing component is created relative to its parent, as itself too: a link
// planted at that name meanwhile is opened and refused, never followed. What is decided on is the
// handle that is acted on; a key deleted and put back as a link behind our handle is not reached
// through it (Wine and Windows then answer ERROR_KEY_DELETED).
//
// What Wine 8 does with each of these calls is in docs/wine-registry.md.
#pragma once

#include "install/registry_key.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace tendril {

enum class KeyRefusal {
    None,
    // A component is a registry link.
    LinkOnTheWay,
    // A component exists but could not be opened, or asked whether it is a link: whatever it is,
    // it is not acted on.
    Undecidable,
    // A name meant as one key of its parent is empty or holds a '\', which would make it a key
    // further down, below a key of the name's choosing.
    NotOneName,
};

// What a key will be used for: only opened, or created where missing, which needs
// KEY_CREATE_SUB_KEY on the components it is created below.
enum class KeyUse { Open, Create };

class AnchoredKey {
public:
    AnchoredKey() = default;
    AnchoredKey(AnchoredKey&&) noexcept = default;
    AnchoredKey& operator=(AnchoredKey&&) noexcept = default;
    AnchoredKey(const AnchoredKey&) = delete;
    AnchoredKey& operator=(const AnchoredKey&) = delete;

    // Opens parent\path one component at a time (empty components, as in "A\\B" or a leading
    // '\', name nothing and are skipped, as the protected-locations guard reads them). The final
    // key is opened with access, the components on the way with KEY_QUERY_VALUE, and with
    // KEY_CREATE_SUB_KEY as well for KeyUse::Create. Stops at the first component that does not
    // exist, holding the deepest one that does, for createMissing. A path of no component is
    // refused as NotOneName: the result never stands for parent itself.
    static AnchoredKey open(HKEY parent, std::wstring_view path, REGSAM access,
                            KeyUse use = KeyUse::Open);

    // open for a single name below parent; a name that is not one key is refused as NotOneName.
    static AnchoredKey openChild(HKEY parent, std::wstring_view name, REGSAM access,
                                 KeyUse use = KeyUse::Open);

    // Creates the components open found missing, each relative to the one above and as itself,
    // refusing a link that appeared at one of their names. 0 when the whole key is held (also when
    // nothing was missing); ERROR_ACCESS_DENIED when refused, now or before;
    // ERROR_INVALID_PARAMETER, with nothing created, when a missing name is longer than a key
    // name may be (255 characters); otherwise the failure of the create, and the key stays
    // incomplete, holding what was made. Only for KeyUse::Create.
    LSTATUS createMissing();

    // The whole key is held, with the access asked for.
    bool isOpen() const noexcept {
        return refusal_ == KeyRefusal::None && held_ == names_.size() && held_ > 0;
    }
    // The final key when isOpen(), else null.
    HKEY get() const noexcept { return isOpen() ? key_.get() : nullptr; }
    // The final key for value reads and writes; a closed key unless isOpen().
    const RegistryKey& key() const noexcept;
    // Gives up the final key (a closed key unless isOpen()); this object is then empty.
    RegistryKey release() noexcept;

    bool refused() const noexcept { return refusal_ != KeyRefusal::None; }
    KeyRefusal refusal() const noexcept { return refusal_; }
    // The components up to and including the refused one, joined with '\'.
    std::wstring refusedAt() const;
    // The whole path as opened, joined with '\' (empty components dropped).
    std::wstring path() const;
    // What the system answered where the decision could not be made (Undecidable).
    LSTATUS refusalStatus() const noexcept { return refusalStatus_; }

private:
    // Opens, or with create creates, the components from held_ on.
    LSTATUS walk(bool create);
    LSTATUS refuse(KeyRefusal refusal, LSTATUS status);
    std::wstring joined(std::size_t count) const;

    HKEY parent_ = nullptr;  // not owned: a predefined root or a key its caller holds
    std::vector<std::wstring> names_;
    REGSAM access_ = 0;
    KeyUse use_ = KeyUse::Open;
    RegistryKey key_;       // the deepest component held
    std::size_t held_ = 0;  // how many components of names_ are open (key_ is the last of them)
    KeyRefusal refusal_ = KeyRefusal::None;
    LSTATUS refusalStatus_ = ERROR_SUCCESS;
};

// Writes "Refused registry path: <parentPath\path>: <reason> (<where>)" for a refused key; does
// nothing for one that is not refused. parentPath names the key the anchor was opened below,
// empty for HKEY_LOCAL_MACHINE. True when it was refused.
bool logKeyRefusal(const AnchoredKey& key, const std::wstring& parentPath = L"");

// Deletes the opened key with everything below it, through handles only: each subkey is opened
// relative to its parent as itself; a subkey that is a registry link is deleted itself, never
// what it leads to (deleting by name, as RegDeleteTreeW and SHDeleteKeyW do, would empty the
// link's target and keep the link). key needs DELETE, KEY_ENUMERATE_SUB_KEYS and KEY_QUERY_VALUE.
// 0 when the key is gone; otherwise the first failure, and what could not be deleted stays.
LSTATUS deleteKeyTree(HKEY key);

// The access deleteKeyTree needs on the key it is given.
constexpr REGSAM kKeyTreeDeleteAccess = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;

}  // namespace tendril
