#include "filetree/users_descriptor.h"

#include <new>

namespace tendril {

UsersSecurityDescriptor usersSecurityDescriptor;

namespace {

struct SidFree {
    void operator()(void* sid) const noexcept { ::FreeSid(sid); }
};
using UniqueSid = std::unique_ptr<void, SidFree>;

UniqueSid allocateSid(SID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount,
                      DWORD subAuthority0, DWORD subAuthority1) {
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&authority, subAuthorityCount, subAuthority0, subAuthority1, 0,
                                    0, 0, 0, 0, 0, &sid))
        return UniqueSid();
    return UniqueSid(sid);
}

constexpr BYTE kInheritFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
// FILE_READ_DATA, FILE_LIST_DIRECTORY and KEY_QUERY_VALUE: the same bit.
constexpr DWORD kEveryoneAccess = 0x00000001;

}  // namespace

bool UsersSecurityDescriptor::build() {
    reset();

    const SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    const SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    const UniqueSid everyone = allocateSid(worldAuthority, 1, SECURITY_WORLD_RID, 0);
    const UniqueSid administrators =
        allocateSid(ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    const UniqueSid users =
        allocateSid(ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS);
    const UniqueSid localSystem = allocateSid(ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0);
    if (!everyone || !administrators || !users || !localSystem) return false;

    struct Entry {
        PSID sid;
        DWORD mask;
    };
    const Entry entries[] = {
        {administrators.get(), GENERIC_ALL},
        {users.get(), GENERIC_ALL},
        {localSystem.get(), GENERIC_ALL},
        {everyone.get(), kEveryoneAccess},
    };

    // The list header, then per entry its header and mask (the SID takes the place of SidStart)
    // and the SID itself.
    DWORD aclSize = sizeof(ACL);
    for (const Entry& entry : entries)
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(entry.sid);

    std::unique_ptr<std::byte[]> acl(new (std::nothrow) std::byte[aclSize]);
    if (!acl) return false;
    auto* list = reinterpret_cast<PACL>(acl.get());
    if (!::InitializeAcl(list, aclSize, ACL_REVISION_DS)) return false;
    for (const Entry& entry : entries)
        if (!::AddAccessAllowedAceEx(list, ACL_REVISION, kInheritFlags, entry.mask, entry.sid))
            return false;

    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) return false;
    if (!::SetSecurityDescriptorDacl(&descriptor_, TRUE, list, FALSE)) {
        descriptor_ = SECURITY_DESCRIPTOR{};
        return false;
    }
    acl_ = std::move(acl);
    return true;
}

void UsersSecurityDescriptor::reset() noexcept {
    descriptor_ = SECURITY_DESCRIPTOR{};
    acl_.reset();
}

bool buildUsersSecurityDescriptor() { return usersSecurityDescriptor.build(); }

}  // namespace tendril
