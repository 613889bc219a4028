// What a walk needs from the command that runs it: the launcher's cancel flag, the progress
// counter and the file name the delete spares. The command passes it in, so the walks know
// nothing of the launcher link; an empty context walks without cancel, progress or spared name.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

namespace tendril {

struct WalkContext {
    // Set (once, by another thread) when the walk is to stop; null: never.
    const std::atomic<bool>* cancel = nullptr;
    // Counts one unit of work; null: no progress is reported.
    void (*tick)() = nullptr;
    // Files of this name (letter case ignored, at any depth) stay when deleteTreeContents
    // runs; empty: nothing is spared.
    std::wstring sparedName;

    bool cancelled() const { return cancel != nullptr && cancel->load(); }
    void tickOnce() const {
        if (tick != nullptr) tick();
    }
    bool spares(std::wstring_view name) const {
        return !sparedName.empty() &&
               ::CompareStringOrdinal(name.data(), static_cast<int>(name.size()),
                                      sparedName.c_str(), static_cast<int>(sparedName.size()),
                                      TRUE) == CSTR_EQUAL;
    }
};

}  // namespace tendril
