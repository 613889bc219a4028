/* A launcher written in C against tendril_launcher.dll alone: it has one command carried out and
 * prints what happened in a fixed plain form, for the end-to-end tests of the C interface.
 *
 *   c_launcher <tendril.exe> <command> [option | field=value | entry=<create>|<name>|<path>]...
 *
 * Options: --timeout=<ms> and --grace=<ms> for tendril_wait (default: no limit, default grace);
 * --cancel-on-progress: the callback cancels the run at the first progress message;
 * --no-request: the record is not passed at all (NULL), as command 2 allows.
 * Fields: the text fields of TendrilRequest by name, and programsShortcuts, iconShortcutFlag,
 * startMenuShortcuts as numbers.
 *
 * Output, one item a line: every message "message <msg> <wParam> <lParam>" in order, then
 * "callbacks <n>" (messages the callback saw), "end <r>" (what tendril_next_message returned once
 * the queue was empty), "outcome <name>", "result <command> <code>" or "result none",
 * "exited <0|1> <exit code>", "windowsError <n>". Exit code 0 when the run was made, 2 for a bad
 * command line, 3 when tendril_run_start refused it.
 */
#include <tendril_launcher/tendril_launcher.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

struct TextField {
    const wchar_t* name;
    size_t offset;
    uint32_t length;
};

#define TEXT_FIELD(f) \
    { L## #f, offsetof(TendrilRequest, f), sizeof(((TendrilRequest*)0)->f) / sizeof(wchar_t) }
static const struct TextField kTextFields[] = {
    TEXT_FIELD(installFolder),  TEXT_FIELD(reservedText), TEXT_FIELD(shortName),
    TEXT_FIELD(longName),       TEXT_FIELD(iconName),     TEXT_FIELD(regPath),
    TEXT_FIELD(helpLink),       TEXT_FIELD(urlInfoAbout), TEXT_FIELD(urlUpdateInfo),
    TEXT_FIELD(shortcutFolder), TEXT_FIELD(exeName),      TEXT_FIELD(argument),
};

struct Watch {
    TendrilRun* volatile run; /* set once tendril_run_start has returned */
    volatile LONG callbacks;
    volatile LONG cancelOnProgress;
    volatile LONG cancelPending; /* progress came before run was set */
};

static void TENDRIL_CALL onMessage(void* context, const TendrilMessage* message) {
    struct Watch* watch = (struct Watch*)context;
    InterlockedIncrement(&watch->callbacks);
    if (watch->cancelOnProgress && message->message == TENDRIL_WM_STATUS &&
        message->wParam == TENDRIL_STATUS_PROGRESS) {
        TendrilRun* run = (TendrilRun*)InterlockedCompareExchangePointer(
            (PVOID volatile*)&watch->run, NULL, NULL);
        if (run != NULL)
            tendril_cancel(run); /* from the library's own thread, as the header allows */
        else
            InterlockedExchange(&watch->cancelPending, 1);
    }
}

static int startsWith(const wchar_t* text, const wchar_t* prefix) {
    return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

static int setField(TendrilRequest* request, const wchar_t* name, size_t nameLength,
                    const wchar_t* value) {
    size_t i;
    for (i = 0; i < sizeof kTextFields / sizeof kTextFields[0]; ++i) {
        if (wcslen(kTextFields[i].name) == nameLength &&
            wcsncmp(kTextFields[i].name, name, nameLength) == 0)
            return tendril_set_text((wchar_t*)((char*)request + kTextFields[i].offset),
                                    kTextFields[i].length, value);
    }
    if (nameLength == 17 && wcsncmp(name, L"programsShortcuts", 17) == 0)
        request->programsShortcuts = (uint8_t)wcstoul(value, NULL, 10);
    else if (nameLength == 16 && wcsncmp(name, L"iconShortcutFlag", 16) == 0)
        request->iconShortcutFlag = (uint8_t)wcstoul(value, NULL, 10);
    else if (nameLength == 18 && wcsncmp(name, L"startMenuShortcuts", 18) == 0)
        request->startMenuShortcuts = (uint8_t)wcstoul(value, NULL, 10);
    else
        return 0;
    return 1;
}

/* "<create>|<name>|<path>" */
static int parseEntry(TendrilEntry* entry, const wchar_t* text) {
    wchar_t buffer[1024];
    wchar_t* name;
    wchar_t* path;
    if (wcslen(text) >= sizeof buffer / sizeof buffer[0]) return 0;
    wcscpy(buffer, text);
    name = wcschr(buffer, L'|');
    if (name == NULL) return 0;
    *name++ = L'\0';
    path = wcschr(name, L'|');
    if (path == NULL) return 0;
    *path++ = L'\0';
    memset(entry, 0, sizeof *entry);
    entry->create = (uint8_t)wcstoul(buffer, NULL, 10);
    return tendril_set_text(entry->name, 65, name) && tendril_set_text(entry->path, 261, path);
}

int wmain(int argc, wchar_t** argv) {
    static TendrilRequest request;
    static TendrilEntry entries[64];
    int32_t entryCount = 0;
    int passRequest = 1;
    uint32_t timeoutMs = TENDRIL_INFINITE, graceMs = 0;
    struct Watch watch;
    TendrilRun* run;
    TendrilMessage message;
    TendrilOutcome outcome;
    int32_t next;
    int i;

    memset(&watch, 0, sizeof watch);
    if (argc < 3) {
        fprintf(stderr, "usage: c_launcher <tendril.exe> <command> [options] [field=value]...\n");
        return 2;
    }
    for (i = 3; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        const wchar_t* equals = wcschr(arg, L'=');
        if (wcscmp(arg, L"--cancel-on-progress") == 0) {
            watch.cancelOnProgress = 1;
        } else if (wcscmp(arg, L"--no-request") == 0) {
            passRequest = 0;
        } else if (startsWith(arg, L"--timeout=")) {
            timeoutMs = (uint32_t)wcstoul(arg + 10, NULL, 10);
        } else if (startsWith(arg, L"--grace=")) {
            graceMs = (uint32_t)wcstoul(arg + 8, NULL, 10);
        } else if (startsWith(arg, L"entry=")) {
            if (entryCount == (int32_t)(sizeof entries / sizeof entries[0]) ||
                !parseEntry(&entries[entryCount], arg + 6)) {
                fprintf(stderr, "bad entry: argument %d\n", i);
                return 2;
            }
            ++entryCount;
        } else if (equals == NULL || !setField(&request, arg, (size_t)(equals - arg), equals + 1)) {
            fprintf(stderr, "unknown or too long field: argument %d\n", i);
            return 2;
        }
    }

    run = tendril_run_start(argv[1], (int32_t)wcstol(argv[2], NULL, 10),
                            passRequest ? &request : NULL, entryCount ? entries : NULL, entryCount,
                            onMessage, &watch);
    if (run == NULL) {
        fprintf(stderr, "tendril_run_start refused the run\n");
        return 3;
    }
    InterlockedExchangePointer((PVOID volatile*)&watch.run, run);
    if (InterlockedCompareExchange(&watch.cancelPending, 0, 0)) tendril_cancel(run);

    tendril_wait(run, timeoutMs, graceMs);
    while ((next = tendril_next_message(run, &message, 0)) == 1)
        printf("message %u %lld %lld\n", (unsigned)message.message, (long long)message.wParam,
               (long long)message.lParam);
    tendril_get_outcome(run, &outcome);
    printf("callbacks %ld\n", (long)InterlockedCompareExchange(&watch.callbacks, 0, 0));
    printf("end %d\n", (int)next);
    printf("outcome %s\n", tendril_outcome_name(outcome.kind));
    if (outcome.hasResult)
        printf("result %d %d\n", (int)outcome.resultCommand, (int)outcome.resultCode);
    else
        printf("result none\n");
    printf("exited %d %lu\n", (int)outcome.exited, (unsigned long)outcome.exitCode);
    printf("windowsError %lu\n", (unsigned long)outcome.windowsError);
    fflush(stdout);
    tendril_run_close(run);
    return 0;
}
