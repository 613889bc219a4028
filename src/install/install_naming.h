// The name under which an installation is shown: the first installation of a product carries the
// plain name, every further one a counter in parentheses. Shortcut files and the uninstall pass
// derive their names from it, so one installation always yields the same file names.
#pragma once

#include <string>

namespace tendril {

// Slot 0 or less: "<base>" ("<base> Portable"); slot n of 1 or more: "<base> (<n + 1>)"
// ("<base> Portable (<n + 1>)"). The number 1 is therefore never printed.
std::wstring makeInstallName(const std::wstring& baseName, bool portable, int slot);

}  // namespace tendril
