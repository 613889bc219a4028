// The COM apartment of one shell operation. Every operation that talks to the shell opens its own
// single-threaded apartment on the command thread and closes it again before it returns, so that
// a caller never finds COM left initialised (or uninitialised) behind its back.
//
// Declare the scope before any COM pointer of the operation: members and locals are destroyed in
// reverse order, so every interface is released before the apartment is closed, on every way out.
#pragma once

#include "shell/com_library.h"

namespace tendril {

class ComScope {
public:
    // CoInitialize(nullptr). S_FALSE (already initialised on this thread) is a success too and is
    // matched by its own CoUninitialize: the platform counts the nesting. Fails when the COM
    // library cannot be loaded.
    ComScope() noexcept : initialized_(SUCCEEDED(com::initialize())) {}
    ~ComScope() {
        if (initialized_) com::uninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    // False when CoInitialize failed: the operation must then do nothing else.
    bool ok() const noexcept { return initialized_; }

private:
    bool initialized_;
};

}  // namespace tendril
