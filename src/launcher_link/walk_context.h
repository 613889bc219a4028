// The walk context of the running command: the launcher's cancel flag, the file-tree progress
// counter and the request's exeName as the name the tree delete spares.
#pragma once

#include "filetree/walk_context.h"

namespace tendril {

// Built from cancelRequested, tickProgress and exeNameCopy as they are when called; a command
// asks for it after the dispatch copied exeName.
WalkContext commandWalkContext();

}  // namespace tendril
