// The pipe watch thread: while a command runs it reads 4-byte values from the pipe and raises
// cancelRequested when the launcher writes Cancel (9). Other values are ignored.
#pragma once

#include <windows.h>

namespace tendril {

// Starts the thread on the given pipe handle. False when the thread cannot be created (the
// command then runs without a cancel watch).
bool startPipeWatch(HANDLE pipe);

// Ends the thread before the pipe is flushed and closed: on Windows, closing or flushing a
// synchronous pipe handle can wait for another thread's pending synchronous read on it, so a
// launcher that keeps its end open would hang us at exit. The pending read is cancelled and the
// thread returns without setting the flag. True when the thread has ended (or never ran); false
// when it still runs after about two seconds of trying, and then the pipe must be left alone.
bool stopPipeWatch();

// The watch thread started last, while stopPipeWatch has not seen it end; null otherwise. Tests
// hold the thread with it to see what a stop that cannot end it leads to.
HANDLE pipeWatchThreadHandle();

// The thread routine itself; the argument is the pipe handle.
DWORD WINAPI pipeWatchThread(void* pipe);

}  // namespace tendril
