// Running the one command of a run and ending the run.
#pragma once

#include <cstdint>

namespace tendril {

// Starts the pipe watch, runs the command's handler with the progress and result messages of its
// row, then performs the closing steps. The request has been read.
void dispatchCommand(std::int32_t command);

// The normal end of a run: the watch thread is stopped, the pipe flushed, disconnected and closed,
// "Pipe closed" logged and the log closed. A watch thread that cannot be stopped leaves the pipe
// open (and pipeHandle set) for process exit to close.
void closeSession();

}  // namespace tendril
