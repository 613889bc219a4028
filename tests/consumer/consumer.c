/* A launcher written in C against tendril_launcher.dll: it runs command 6 (NoOperation), then
 * command 4 (GrantUsersAccess) on a folder it creates and a registry key that Tendril creates, and
 * says whether each ended as it must.
 *
 *   consumer.exe <tendril.exe> <scratch folder> <registry path below HKEY_LOCAL_MACHINE>
 *
 * Exit code 0 when both did, 1 when one did not, 2 for a wrong command line. The folder and the
 * key are removed again at the end. */
#define WIN32_LEAN_AND_MEAN
#define _WIN32_WINNT 0x0601
#include <windows.h>
#include <shellapi.h>

#include <tendril_launcher/tendril_launcher.h>

#include <stdio.h>
#include <string.h>

/* Counted on the library's thread: every message reaches the callback, across the DLL boundary. */
static volatile LONG messagesSeen;
static volatile LONG connectedSeen;

static void TENDRIL_CALL onMessage(void* context, const TendrilMessage* message) {
    (void)context;
    InterlockedIncrement(&messagesSeen);
    if (message->message == TENDRIL_WM_CONNECTED && message->lParam == 0)
        InterlockedIncrement(&connectedSeen);
}

/* Runs one command to its end (at most two minutes) and fills *outcome. 0 when the run could not
 * even be started (invalid arguments). */
static int runCommand(const wchar_t* tendril, int32_t command, const TendrilRequest* request,
                      TendrilOutcome* outcome) {
    messagesSeen = 0;
    connectedSeen = 0;
    TendrilRun* run = tendril_run_start(tendril, command, request, NULL, 0, onMessage, NULL);
    if (!run) {
        printf("command %d: tendril_run_start refused the arguments\n", (int)command);
        return 0;
    }
    tendril_wait(run, 120000, 0);
    tendril_get_outcome(run, outcome);
    tendril_run_close(run);
    const char* kind = tendril_outcome_name(outcome->kind);
    const char* error = tendril_error_name(outcome->resultCode);
    printf("command %d: %s, result %d (%s), exited %d with %u, windows error %u, "
           "%ld message(s), connected %ld time(s)\n",
           (int)command, kind ? kind : "?", (int)outcome->resultCode, error ? error : "?",
           (int)outcome->exited, (unsigned)outcome->exitCode, (unsigned)outcome->windowsError,
           (long)messagesSeen, (long)connectedSeen);
    return 1;
}

static int keyExists(const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    RegCloseKey(key);
    return 1;
}

static int run(const wchar_t* tendril, const wchar_t* folder, const wchar_t* regPath) {
    const char* version = tendril_version();
    printf("tendril_launcher.dll %s\n", version ? version : "(no version)");
    if (!version) return 0;

    /* Command 6: Tendril connects, reads the request and exits normally, with no result. */
    TendrilRequest request;
    memset(&request, 0, sizeof request);
    TendrilOutcome outcome;
    if (!runCommand(tendril, TENDRIL_NO_OPERATION, &request, &outcome)) return 0;
    if (outcome.kind != TENDRIL_OUTCOME_NO_RESULT || !outcome.exited || outcome.exitCode != 0 ||
        connectedSeen != 1 || outcome.tendrilProcessId == 0) {
        printf("command 6 did not end as it must: no result, exit code 0, connected once\n");
        return 0;
    }

    /* Command 4 on a folder of ours; the key does not exist before, Tendril creates it with its
     * "Install" subkey. */
    wchar_t installKey[300];
    if (_snwprintf(installKey, 300, L"%ls\\Install", regPath) < 0) return 0;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, regPath);
    if (!CreateDirectoryW(folder, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
        printf("the scratch folder cannot be created (%lu)\n", GetLastError());
        return 0;
    }
    if (!tendril_set_text(request.installFolder, 261, folder) ||
        !tendril_set_text(request.regPath, 261, regPath)) {
        printf("the folder or the registry path does not fit the request\n");
        return 0;
    }
    const int ran = runCommand(tendril, TENDRIL_GRANT_USERS_ACCESS, &request, &outcome);
    const int created = keyExists(installKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, regPath);
    RemoveDirectoryW(folder);
    if (!ran) return 0;
    if (outcome.kind != TENDRIL_OUTCOME_RESULT || outcome.resultCommand != 4 ||
        outcome.resultCode != TENDRIL_NO_ERROR || !created) {
        printf("command 4 did not end as it must: result 0 for command 4, the key and its Install "
               "subkey created (%s)\n", created ? "they were" : "they were not");
        return 0;
    }
    return 1;
}

int main(void) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args || count != 4) {
        printf("usage: consumer.exe <tendril.exe> <scratch folder> <registry path below HKLM>\n");
        if (args) LocalFree(args);
        return 2;
    }
    const int passed = run(args[1], args[2], args[3]);
    LocalFree(args);
    printf("%s\n", passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
