// The wire protocol between a launcher and Tendril.
//
// A launcher creates the pipe "\\.\pipe\launcher_<tendril's file name>", starts Tendril with the
// decimal value of one of its window handles, and then writes into the pipe: a 4-byte command code,
// for every command but InstallRuntimeUpdate an AssistantRequest, then entryCount RequestEntry
// records, and later, while the command runs, optional 4-byte values (Cancel asks it to stop).
// Everything Tendril answers travels as a window message. All integers are little-endian, all
// text is UTF-16LE terminated by a NUL inside its field.
//
// This header is shared by Tendril and by every launcher, 32-bit and 64-bit alike: the layouts
// below are checked offset by offset so that both builds agree byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tendril {

static_assert(sizeof(wchar_t) == 2, "the wire text is UTF-16: build with a 16-bit wchar_t");

enum AssistantCommand : std::int32_t {
    RefreshRegistration = 1,
    InstallRuntimeUpdate = 2,
    UninstallClient = 3,
    GrantUsersAccess = 4,
    ApplyShortcuts = 5,
    NoOperation = 6,
    TerminateProcesses = 7,
    SetLongName = 8,
    Cancel = 9,
};

enum AssistantError : std::int32_t {
    NoError = 0,
    InstallFolderUnavailable = 1,
    InstallFolderTooShort = 2,
    // 3 is not raised by any operation and stays free.
    AccessNotGranted = 4,
    UninstallKeyNotCreated = 5,
    NoFreeInstallSlot = 6,
    InstallRecordNotStored = 7,
    InstallRecordNotRemoved = 8,
    FolderNotFound = 9,
    SecurityDescriptorFailed = 10,
    PipeOpenFailed = 11,
    PipeReadFailed = 12,
    BadCommand = 13,
    TerminateFailed = 14,
    UpdateLaunchFailed = 15,
    UpdateWaitFailed = 16,
    UpdateExitCodeNonZero = 17,
};

// The name of an error code, or nullptr for a code that has none (3, negative, above 17).
constexpr const char* assistantErrorName(std::int32_t code) {
    constexpr const char* names[] = {
        "NoError",           "InstallFolderUnavailable", "InstallFolderTooShort",
        nullptr,             "AccessNotGranted",         "UninstallKeyNotCreated",
        "NoFreeInstallSlot", "InstallRecordNotStored",   "InstallRecordNotRemoved",
        "FolderNotFound",    "SecurityDescriptorFailed", "PipeOpenFailed",
        "PipeReadFailed",    "BadCommand",               "TerminateFailed",
        "UpdateLaunchFailed", "UpdateWaitFailed",        "UpdateExitCodeNonZero",
    };
    return code >= 0 && code < static_cast<std::int32_t>(sizeof(names) / sizeof(names[0]))
               ? names[code]
               : nullptr;
}

// Window messages Tendril sends to the launcher's window with SendNotifyMessageW.
constexpr unsigned WM_ASSISTANT_CONNECTED = 0x0400 + 1300;     // 2324
constexpr unsigned WM_ASSISTANT_STATUS = 0x0400 + 1301;        // 2325
constexpr unsigned WM_ASSISTANT_NOT_ELEVATED = 0x0400 + 1302;  // 2326
static_assert(WM_ASSISTANT_CONNECTED == 2324 && WM_ASSISTANT_STATUS == 2325 &&
              WM_ASSISTANT_NOT_ELEVATED == 2326);

// wParam of WM_ASSISTANT_STATUS when lParam carries a progress percentage.
constexpr std::int32_t STATUS_PROGRESS = 6;

// The request record that follows every command code but InstallRuntimeUpdate.
struct AssistantRequest {
    std::int32_t reserved;
    wchar_t installFolder[261];
    wchar_t reservedText[257];
    wchar_t shortName[33];
    wchar_t longName[65];
    wchar_t iconName[65];
    wchar_t regPath[261];
    wchar_t helpLink[261];
    wchar_t urlInfoAbout[261];
    wchar_t urlUpdateInfo[261];
    wchar_t shortcutFolder[261];
    wchar_t exeName[65];
    wchar_t argument[517];
    std::uint8_t programsShortcuts;
    std::uint8_t iconShortcutFlag;
    std::uint8_t startMenuShortcuts;
    std::uint8_t padding;
    std::int32_t entryCount;
};

static_assert(offsetof(AssistantRequest, reserved) == 0);
static_assert(offsetof(AssistantRequest, installFolder) == 4);
static_assert(offsetof(AssistantRequest, reservedText) == 526);
static_assert(offsetof(AssistantRequest, shortName) == 1040);
static_assert(offsetof(AssistantRequest, longName) == 1106);
static_assert(offsetof(AssistantRequest, iconName) == 1236);
static_assert(offsetof(AssistantRequest, regPath) == 1366);
static_assert(offsetof(AssistantRequest, helpLink) == 1888);
static_assert(offsetof(AssistantRequest, urlInfoAbout) == 2410);
static_assert(offsetof(AssistantRequest, urlUpdateInfo) == 2932);
static_assert(offsetof(AssistantRequest, shortcutFolder) == 3454);
static_assert(offsetof(AssistantRequest, exeName) == 3976);
static_assert(offsetof(AssistantRequest, argument) == 4106);
static_assert(offsetof(AssistantRequest, programsShortcuts) == 5140);
static_assert(offsetof(AssistantRequest, iconShortcutFlag) == 5141);
static_assert(offsetof(AssistantRequest, startMenuShortcuts) == 5142);
static_assert(offsetof(AssistantRequest, padding) == 5143);
static_assert(offsetof(AssistantRequest, entryCount) == 5144);
static_assert(sizeof(AssistantRequest) == 5148);

// One entry of the list that follows the request: a shortcut to create or delete. Its first 652
// bytes have the layout of a record of an installation's "applist.dat".
struct RequestEntry {
    wchar_t name[65];
    wchar_t path[261];
    std::uint8_t create;
    std::uint8_t padding;
};

static_assert(offsetof(RequestEntry, name) == 0);
static_assert(offsetof(RequestEntry, path) == 130);
static_assert(offsetof(RequestEntry, create) == 652);
static_assert(offsetof(RequestEntry, padding) == 653);
static_assert(sizeof(RequestEntry) == 654);

// The largest entryCount whose list size in bytes (count x 654) fits in 32 bits. A larger or a
// negative count is refused like a failed read.
constexpr std::int32_t kMaxEntryCount = 6567228;
static_assert(static_cast<std::uint64_t>(kMaxEntryCount) * sizeof(RequestEntry) <= 0xFFFFFFFFull);
static_assert(static_cast<std::uint64_t>(kMaxEntryCount + 1) * sizeof(RequestEntry) > 0xFFFFFFFFull);

// The prefix of the pipe name; Tendril's executable file name (extension included) follows it.
constexpr wchar_t kPipeNamePrefix[] = L"\\\\.\\pipe\\launcher_";

}  // namespace tendril
