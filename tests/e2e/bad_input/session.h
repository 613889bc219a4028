// Plays one case against the real tendril.exe as a launcher that misbehaves in the ways the case
// describes: the pipe, the window, the start, the writes, the going away.
#pragma once

#include "bad_case.h"
#include "oracle.h"

namespace tendril::test::bad_input {

// How long a run may take before it counts as a hang.
constexpr DWORD kRunTimeoutMs = 30000;

Observation playCase(const World& world, const Case& c);

}  // namespace tendril::test::bad_input
