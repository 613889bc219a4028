#include "launcher_link/request_reader.h"

#include "launcher_link/error_store.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"

#include <windows.h>

#include <algorithm>
#include <new>

namespace tendril {

bool readPipeExact(void* destination, std::size_t byteCount) {
    if (pipeHandle == INVALID_HANDLE_VALUE) return false;
    auto* bytes = static_cast<unsigned char*>(destination);
    std::size_t done = 0;
    while (done < byteCount) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(byteCount - done, MAXDWORD));
        DWORD got = 0;
        if (!::ReadFile(pipeHandle, bytes + done, want, &got, nullptr)) break;
        done += got;
    }
    return done == byteCount;
}

namespace {

// Reads entryCount entries into entryList. The list grows as entries arrive rather than being
// sized up front, so a launcher that announces millions of entries and sends none cannot make us
// allocate gigabytes; the list holds exactly entryCount entries on success.
bool readEntries(std::int32_t entryCount) {
    if (entryCount < 0 || entryCount > kMaxEntryCount) return false;
    try {
        constexpr std::int32_t kReserveStep = 4096;
        entryList.clear();
        entryList.reserve(static_cast<std::size_t>(std::min(entryCount, kReserveStep)));
        for (std::int32_t i = 0; i < entryCount; ++i) {
            RequestEntry entry{};
            if (!readPipeExact(&entry, sizeof entry)) return false;
            entryList.push_back(entry);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace

bool readRequest(std::int32_t& command) {
    command = 0;
    if (!readPipeExact(&command, sizeof command)) {
        setLastAssistantError(PipeReadFailed);
    } else if (command == 0 || static_cast<std::uint32_t>(command) > 9) {
        setLastAssistantError(BadCommand);
    }
    if (lastAssistantError != NoError) {
        sendStatus(command, lastAssistantError);
        return false;
    }
    if (command == InstallRuntimeUpdate) return true;

    if (!readPipeExact(&assistantRequest, sizeof assistantRequest)) {
        sendStatus(command, PipeReadFailed);
        return false;
    }
    if (assistantRequest.entryCount != 0 && !readEntries(assistantRequest.entryCount)) {
        entryList.clear();
        sendStatus(command, PipeReadFailed);
        return false;
    }
    return true;
}

}  // namespace tendril
