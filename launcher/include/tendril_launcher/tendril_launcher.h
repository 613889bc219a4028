/* tendril_launcher.h: the launcher library's C interface (tendril_launcher.dll).
 *
 * A launcher uses it to have Tendril carry out one command: tendril_run_start starts tendril.exe
 * elevated, serves its pipe, writes the command, the request record and its entries once Tendril
 * has announced itself, and records every window message Tendril sends. The caller receives those
 * messages through a callback or pulls them, may cancel at any time, waits with a time-out and
 * reads the outcome.
 *
 * Plain C (C99 and C++ alike), fixed-size types, UTF-16 wchar_t text, the __cdecl calling
 * convention in 32-bit and 64-bit builds. Every function is exported by name; no C++ runtime type
 * or exception crosses this interface. The records below have the wire layout byte for byte
 * (offsets in the comments).
 */
#ifndef TENDRIL_LAUNCHER_H
#define TENDRIL_LAUNCHER_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TENDRIL_LAUNCHER_STATIC) || defined(TENDRIL_LAUNCHER_BUILDING)
#define TENDRIL_API
#else
#define TENDRIL_API __declspec(dllimport)
#endif
#define TENDRIL_CALL __cdecl

/* Command codes (the first 4 bytes a launcher writes) and Cancel, written while a command runs. */
enum {
    TENDRIL_REFRESH_REGISTRATION = 1,
    TENDRIL_INSTALL_RUNTIME_UPDATE = 2,
    TENDRIL_UNINSTALL_CLIENT = 3,
    TENDRIL_GRANT_USERS_ACCESS = 4,
    TENDRIL_APPLY_SHORTCUTS = 5,
    TENDRIL_NO_OPERATION = 6,
    TENDRIL_TERMINATE_PROCESSES = 7,
    TENDRIL_SET_LONG_NAME = 8,
    TENDRIL_CANCEL = 9
};

/* Tendril's result codes (lParam of its result message). tendril_error_name names them. */
enum {
    TENDRIL_NO_ERROR = 0,
    TENDRIL_INSTALL_FOLDER_UNAVAILABLE = 1,
    TENDRIL_INSTALL_FOLDER_TOO_SHORT = 2,
    TENDRIL_ACCESS_NOT_GRANTED = 4,
    TENDRIL_UNINSTALL_KEY_NOT_CREATED = 5,
    TENDRIL_NO_FREE_INSTALL_SLOT = 6,
    TENDRIL_INSTALL_RECORD_NOT_STORED = 7,
    TENDRIL_INSTALL_RECORD_NOT_REMOVED = 8,
    TENDRIL_FOLDER_NOT_FOUND = 9,
    TENDRIL_SECURITY_DESCRIPTOR_FAILED = 10,
    TENDRIL_PIPE_OPEN_FAILED = 11,
    TENDRIL_PIPE_READ_FAILED = 12,
    TENDRIL_BAD_COMMAND = 13,
    TENDRIL_TERMINATE_FAILED = 14,
    TENDRIL_UPDATE_LAUNCH_FAILED = 15,
    TENDRIL_UPDATE_WAIT_FAILED = 16,
    TENDRIL_UPDATE_EXIT_CODE_NON_ZERO = 17
};

/* The window messages Tendril sends, and the wParam of a progress message (lParam: percent). */
enum {
    TENDRIL_WM_CONNECTED = 2324,
    TENDRIL_WM_STATUS = 2325,
    TENDRIL_WM_NOT_ELEVATED = 2326,
    TENDRIL_STATUS_PROGRESS = 6
};

/* The request record that follows every command code but TENDRIL_INSTALL_RUNTIME_UPDATE.
 * Text fields are NUL-terminated inside the field; tendril_set_text fills one safely. */
typedef struct TendrilRequest {
    int32_t reserved;                /*    0 */
    wchar_t installFolder[261];      /*    4 */
    wchar_t reservedText[257];       /*  526 */
    wchar_t shortName[33];           /* 1040 */
    wchar_t longName[65];            /* 1106 */
    wchar_t iconName[65];            /* 1236 */
    wchar_t regPath[261];            /* 1366 */
    wchar_t helpLink[261];           /* 1888 */
    wchar_t urlInfoAbout[261];       /* 2410 */
    wchar_t urlUpdateInfo[261];      /* 2932 */
    wchar_t shortcutFolder[261];     /* 3454 */
    wchar_t exeName[65];             /* 3976 */
    wchar_t argument[517];           /* 4106 */
    uint8_t programsShortcuts;       /* 5140 */
    uint8_t iconShortcutFlag;        /* 5141 */
    uint8_t startMenuShortcuts;      /* 5142 */
    uint8_t padding;                 /* 5143 */
    int32_t entryCount;              /* 5144: set by tendril_run_start from its entryCount */
} TendrilRequest;                    /* 5148 bytes */

/* One entry of the list that follows the request: a shortcut to create or delete. */
typedef struct TendrilEntry {
    wchar_t name[65];                /*   0 */
    wchar_t path[261];               /* 130 */
    uint8_t create;                  /* 652 */
    uint8_t padding;                 /* 653 */
} TendrilEntry;                      /* 654 bytes */

#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
#ifdef __cplusplus
#define TENDRIL_LAYOUT_CHECK static_assert
#else
#define TENDRIL_LAYOUT_CHECK _Static_assert
#endif
TENDRIL_LAYOUT_CHECK(sizeof(wchar_t) == 2, "the wire text is UTF-16: a 16-bit wchar_t");
TENDRIL_LAYOUT_CHECK(offsetof(TendrilRequest, argument) == 4106, "TendrilRequest layout");
TENDRIL_LAYOUT_CHECK(offsetof(TendrilRequest, entryCount) == 5144, "TendrilRequest layout");
TENDRIL_LAYOUT_CHECK(sizeof(TendrilRequest) == 5148, "TendrilRequest size");
TENDRIL_LAYOUT_CHECK(offsetof(TendrilEntry, create) == 652, "TendrilEntry layout");
TENDRIL_LAYOUT_CHECK(sizeof(TendrilEntry) == 654, "TendrilEntry size");
#undef TENDRIL_LAYOUT_CHECK
#endif

/* One window message Tendril sent, with the time it arrived in ms since the run started. */
typedef struct TendrilMessage {
    uint32_t message;                /* TENDRIL_WM_CONNECTED, _STATUS or _NOT_ELEVATED */
    uint32_t reserved;
    int64_t wParam;
    int64_t lParam;
    double atMs;
} TendrilMessage;                    /* 32 bytes */

/* How a run ended (TendrilOutcome.kind). tendril_outcome_name gives each its text. */
enum {
    TENDRIL_OUTCOME_RUNNING = 0,          /* "running": not ended yet */
    TENDRIL_OUTCOME_RESULT = 1,           /* "result": Tendril's result code is in resultCode */
    TENDRIL_OUTCOME_NO_RESULT = 2,        /* "no result": Tendril ended without a result */
    TENDRIL_OUTCOME_NOT_ELEVATED = 3,     /* "not elevated": Tendril did not run as administrator */
    TENDRIL_OUTCOME_CANCELLED = 4,        /* "cancelled": the caller cancelled; a result that
                                             came within the grace period is in resultCode */
    TENDRIL_OUTCOME_TIMED_OUT = 5,        /* "timed out": the caller's time-out ran out, Cancel
                                             was written; a result that came is in resultCode */
    TENDRIL_OUTCOME_FAILED_TO_START = 6   /* "failed to start": the pipe could not be created or
                                             tendril.exe not started; windowsError says why */
};

typedef struct TendrilOutcome {
    int32_t kind;                    /* TENDRIL_OUTCOME_* */
    int32_t hasResult;               /* 1 when a result message arrived */
    int32_t resultCommand;           /* its wParam: the command (0 for a failed pipe open) */
    int32_t resultCode;              /* its lParam: TENDRIL_NO_ERROR or an error code */
    uint32_t windowsError;           /* the Windows error behind FAILED_TO_START, else 0 */
    uint32_t tendrilProcessId;       /* from Tendril's announcement, 0 before it */
    int32_t exited;                  /* 1 once tendril.exe has ended */
    uint32_t exitCode;               /* its exit code, when it has ended */
} TendrilOutcome;                    /* 32 bytes */

/* Called on the library's own thread for every message, in order, as it arrives. It must return
 * promptly and must not call tendril_run_close. */
typedef void(TENDRIL_CALL* TendrilMessageCallback)(void* context, const TendrilMessage* message);

typedef struct TendrilRun TendrilRun;

#define TENDRIL_INFINITE 0xFFFFFFFFu
/* The grace period used when graceMs is 0: how long to wait for Tendril's result after Cancel. */
#define TENDRIL_DEFAULT_GRACE_MS 10000u

/* The library's version ("1.0.0"): the project's version. */
TENDRIL_API const char* TENDRIL_CALL tendril_version(void);

/* The name of a result code ("NoError", "FolderNotFound", ...), or NULL for a code with none. */
TENDRIL_API const char* TENDRIL_CALL tendril_error_name(int32_t code);

/* The text of an outcome kind ("result", "no result", "not elevated", "cancelled", "timed out",
 * "failed to start", "running"), or NULL for an unknown kind. */
TENDRIL_API const char* TENDRIL_CALL tendril_outcome_name(int32_t kind);

/* Copies NUL-terminated text into a field of fieldLength wchar_t and zero-fills the rest. Text that
 * does not fit with its NUL is refused: the field is left empty and 0 comes back (a path cut to
 * fit could name another folder). 1 on success. */
TENDRIL_API int32_t TENDRIL_CALL tendril_set_text(wchar_t* field, uint32_t fieldLength,
                                                  const wchar_t* text);

/* Starts one run: creates the pipe named after tendrilPath's file name, starts tendrilPath
 * elevated (the "runas" verb) with the library's window, and writes command, *request (with its
 * entryCount set to entryCount) and the entries once Tendril announces itself. request may be
 * NULL only for TENDRIL_INSTALL_RUNTIME_UPDATE, which sends the code alone. onMessage may be NULL:
 * every message is also queued for tendril_next_message.
 * Returns NULL only for invalid arguments (no path, a negative entryCount, entries NULL with a
 * count, request NULL where one is needed) or when memory runs out; a start that fails is a run
 * whose outcome is TENDRIL_OUTCOME_FAILED_TO_START. The run is released by tendril_run_close. */
TENDRIL_API TendrilRun* TENDRIL_CALL tendril_run_start(const wchar_t* tendrilPath, int32_t command,
                                                       const TendrilRequest* request,
                                                       const TendrilEntry* entries,
                                                       int32_t entryCount,
                                                       TendrilMessageCallback onMessage,
                                                       void* context);

/* Takes the next message not yet taken, waiting at most timeoutMs. 1: *message is set; 0: none
 * arrived in time; -1: the run has ended and every message was taken. */
TENDRIL_API int32_t TENDRIL_CALL tendril_next_message(TendrilRun* run, TendrilMessage* message,
                                                      uint32_t timeoutMs);

/* Asks Tendril to stop: writes Cancel once the request is written (at once if it is), or stops
 * the start before the request when Tendril has not announced itself yet. Returns at once; the
 * outcome becomes TENDRIL_OUTCOME_CANCELLED. Safe from any thread, also from the callback. */
TENDRIL_API void TENDRIL_CALL tendril_cancel(TendrilRun* run);

/* Waits until Tendril ends, at most timeoutMs (TENDRIL_INFINITE: no limit). When the time runs
 * out the run is cancelled and given graceMs (0: TENDRIL_DEFAULT_GRACE_MS) more for its result
 * and its end; the outcome is then TENDRIL_OUTCOME_TIMED_OUT. A cancel by the caller waits the
 * same grace. Returns the outcome's kind (TENDRIL_OUTCOME_RUNNING never, unless Tendril is still
 * running after the grace period: Tendril is elevated, the library cannot end it). */
TENDRIL_API int32_t TENDRIL_CALL tendril_wait(TendrilRun* run, uint32_t timeoutMs,
                                              uint32_t graceMs);

/* The outcome so far. */
TENDRIL_API void TENDRIL_CALL tendril_get_outcome(TendrilRun* run, TendrilOutcome* outcome);

/* Releases the run. A run still going is cancelled and given TENDRIL_DEFAULT_GRACE_MS first; one
 * whose elevation prompt is still open waits for the user's answer. tendril_run_start copies the
 * request and the entries before it returns. */
TENDRIL_API void TENDRIL_CALL tendril_run_close(TendrilRun* run);

#ifdef __cplusplus
}
#endif

#endif /* TENDRIL_LAUNCHER_H */
