#pragma once

namespace tendril {

// Serves the launcher for one run: opens the log, connects to the pipe and announces us, reads
// the request and runs its command. True when the run reached its normal end, false when it
// stopped early (no pipe, unreadable request); an early end leaves the pipe and the log to be
// closed at process exit.
bool serveLauncher();

// The whole program: argument check, administrator check, then serveLauncher. Always 0.
int runTendril();

}  // namespace tendril
