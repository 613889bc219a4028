// The cancel flag. Only the pipe watch thread sets it (false to true, once); the long-running
// operations poll it and stop their work. Nothing clears it.
#pragma once

#include <atomic>

namespace tendril {

extern std::atomic<bool> cancelRequested;

}  // namespace tendril
