#include "launcher_link/administrator.h"

#include <windows.h>

namespace tendril {

bool isAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL isMember = FALSE;
    const BOOL checked = ::CheckTokenMembership(nullptr, administrators, &isMember);
    ::FreeSid(administrators);
    return checked && isMember;
}

}  // namespace tendril
