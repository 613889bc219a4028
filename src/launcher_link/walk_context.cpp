#include "launcher_link/walk_context.h"

#include "launcher_link/cancel.h"
#include "launcher_link/process_state.h"
#include "launcher_link/progress.h"

namespace tendril {

WalkContext commandWalkContext() {
    return WalkContext{&cancelRequested, &tickProgress, exeNameCopy};
}

}  // namespace tendril
