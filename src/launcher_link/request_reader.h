// Reading the request from the pipe: the command code, the record and its entries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tendril {

// Reads exactly byteCount bytes from pipeHandle, in as many pieces as the pipe delivers them.
// False when the pipe is not open or any read fails before all bytes have arrived.
bool readPipeExact(void* destination, std::size_t byteCount);

// Reads the command code, then (for every command but InstallRuntimeUpdate) assistantRequest and
// entryList. On failure the launcher has been told with WM_ASSISTANT_STATUS(command, 12 or 13) and
// false is returned: no command may run.
bool readRequest(std::int32_t& command);

}  // namespace tendril
