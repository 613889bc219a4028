// The security descriptor that opens an installation up to the Users group: full control for
// Administrators, Users and Local System, read access for Everyone, every entry inherited by
// files and folders beneath.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

namespace tendril {

// An absolute descriptor (revision 1) whose discretionary access list it owns. The descriptor
// points into the list, so the object neither copies nor moves; it lives as one process-wide
// instance and is rebuilt in place.
class UsersSecurityDescriptor {
public:
    UsersSecurityDescriptor() = default;
    UsersSecurityDescriptor(const UsersSecurityDescriptor&) = delete;
    UsersSecurityDescriptor& operator=(const UsersSecurityDescriptor&) = delete;

    // Drops what it held and builds the descriptor and its list anew. On failure nothing is held.
    bool build();
    // The descriptor, or null while none is built.
    PSECURITY_DESCRIPTOR get() noexcept { return acl_ ? &descriptor_ : nullptr; }
    // The access list, or null while none is built.
    const ACL* acl() const noexcept { return reinterpret_cast<const ACL*>(acl_.get()); }
    void reset() noexcept;

private:
    std::unique_ptr<std::byte[]> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
};

// Written by buildUsersSecurityDescriptor only; read by setTreeSecurity and the registry step of
// the access grant.
extern UsersSecurityDescriptor usersSecurityDescriptor;

// Rebuilds usersSecurityDescriptor. True only when every step succeeded.
bool buildUsersSecurityDescriptor();

}  // namespace tendril
