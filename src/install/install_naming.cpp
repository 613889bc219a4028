#include "install/install_naming.h"

namespace tendril {

std::wstring makeInstallName(const std::wstring& baseName, bool portable, int slot) {
    std::wstring name = baseName;
    if (portable) name += L" Portable";
    // The counter is built in a wider type: slot + 1 must not overflow for the largest slot.
    if (slot > 0) name += L" (" + std::to_wstring(static_cast<long long>(slot) + 1) + L")";
    return name;
}

}  // namespace tendril
