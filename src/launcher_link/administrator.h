#pragma once

namespace tendril {

// True when the calling thread's effective token is a member of BUILTIN\Administrators
// (S-1-5-32-544). Any failure of the check counts as "not a member".
bool isAdministrator();

}  // namespace tendril
