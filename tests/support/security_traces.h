// The traces a security change leaves that Wine lets us read back.
#pragma once

#include <string>

namespace tendril::test {

// The discretionary access list of a file or folder as SDDL ("" when unreadable).
std::wstring fileDaclText(const std::wstring& path);
// The same for HKEY_LOCAL_MACHINE\path ("" when the key cannot be opened).
std::wstring keyDaclText(const std::wstring& path);
// Sets the access list of HKEY_LOCAL_MACHINE\path from SDDL ("D:P(...)"), and its owner when the
// SDDL begins with one ("O:BAD:P(...)"); true when it took.
bool setKeyDacl(const std::wstring& path, const std::wstring& sddl);

// Under Wine a file's access list is kept as Unix permissions: the Everyone entry Tendril applies
// turns into read access for others, which reads back as an Everyone entry. denyOthersOn gives
// one file or folder a list without Everyone first; everyoneCanRead then tells whether Tendril's
// descriptor reached it.
bool denyOthersOn(const std::wstring& path);
bool everyoneCanRead(const std::wstring& path);

}  // namespace tendril::test
