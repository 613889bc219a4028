// InstallDirectoryList: the ten install-directory slots of one client product. A product can be
// installed up to ten times; the slot number of a folder (0 ... 9) numbers that installation
// everywhere else: its Uninstall entry, its display name and its shortcut names.
//
// The records live in root\<registry path>\Install as the REG_SZ values "Directory" (slot 0) and
// "Directory1" ... "Directory9"; a free slot is a 2-byte empty string. The slots held here are a
// cache: indexOf, remove and prune refresh them from the registry first. Nothing locks the records
// between a load and the following store; a second writer in between is overwritten.
#pragma once

#include "install/anchored_key.h"
#include "install/registry_key.h"

#include <windows.h>

#include <array>
#include <string>

namespace tendril {

class InstallDirectoryList {
public:
    static constexpr int kSlotCount = 10;
    // The longest slot text a load accepts, NUL included.
    static constexpr DWORD kReadBufferChars = 1023;
    using Slots = std::array<std::wstring, kSlotCount>;

    InstallDirectoryList() = default;
    InstallDirectoryList(const InstallDirectoryList&) = delete;
    InstallDirectoryList& operator=(const InstallDirectoryList&) = delete;

    // Remembers root and path and drops a held key; when path is not empty, opens root\path one
    // component at a time, each as itself (anchored_key.h; nothing is created). Success shows only
    // in opened(). A protected registry path (protected_locations.h) is refused and logged, and so
    // is a client key or "Install" key with a registry link on the way or one that cannot be told
    // apart from a link, whenever the list meets it: the list then reads and writes nothing more.
    void open(const std::wstring& registryPath, HKEY root = HKEY_LOCAL_MACHINE);
    bool opened() const { return opened_; }
    // True once the registry path has been refused.
    bool refused() const { return refused_; }

    // Reads the ten values into the slots. Without a client key the slots are left as they are;
    // without an "Install" key they all become empty and nothing is written. A value that is
    // missing or cannot be used (wrong type, malformed, longer than kReadBufferChars - 1
    // characters) empties its slot and is rewritten at once as an empty string; a usable text is
    // normalised (normalizeInstallPath).
    void load();

    // Writes all ten slots, empty ones included, creating the client key and "Install" when
    // missing, each component relative to the one above. Write failures are ignored: the next load
    // shows what really stands there.
    void store();

    // Loads, then returns the first slot equal to the normalised path (letters A to Z compared
    // without regard to case), or -1. An empty path finds the first free slot.
    int indexOf(const std::wstring& path);

    // Loads, empties every slot whose text has 3 characters or fewer or whose folder is empty or
    // gone (isFolderEmpty), and stores, also when nothing changed.
    void prune();

    // Loads and empties the first slot holding path, then stores (later slots are not looked at).
    // True when no slot holds the path afterwards, as read back from the registry; a path that no
    // slot held gives true without a store.
    bool remove(const std::wstring& path);

    // The slots as last loaded or set. Callers assign a slot and then call store.
    Slots& slots() { return slots_; }
    const Slots& slots() const { return slots_; }

    // "Directory" for slot 0, "Directory<i>" for slot i of 1 ... 9.
    static std::wstring valueName(int slot);

private:
    int findSlot(const std::wstring& normalizedPath) const;
    // Holds root\path when it exists (creating it first with KeyUse::Create); refuses it when the
    // anchor does.
    void openClientKey(KeyUse use);
    // "Install" below the held client key; refuses the path when the anchor refuses "Install".
    AnchoredKey openInstallKey(KeyUse use);
    // Logs nothing itself: drops the key and the path, so that nothing more is read or written.
    void refuse();

    HKEY root_ = HKEY_LOCAL_MACHINE;
    std::wstring registryPath_;
    RegistryKey key_;
    bool opened_ = false;
    bool refused_ = false;
    Slots slots_;
};

// True, after logging the refusal, when regPath is one of the system's protected keys, or the way
// from HKEY_LOCAL_MACHINE to the client key or its "Install" key, as far as they exist, holds a
// registry link or a component that cannot be told apart from one, or when either key exists and
// the launcher's user may not change its access list (launcher_user.h). Nothing is created.
bool refuseClientKey(const std::wstring& regPath);

}  // namespace tendril
