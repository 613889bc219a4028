// What the benchmarks measure Tendril against: the loops a programmer would write for the same
// job without Tendril's rules, the trees they run on, and the figures they print.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tendril::bench {

double nowMs();
double median(std::vector<double> values);

// Builds trees of folders x filesPerFolder small files under every root (created when missing),
// folder by folder, taking turns at which tree goes first: trees built one after the other
// differ in what the file system still has to write back, and the older one then pays for it
// while it is walked.
bool makeTrees(const std::vector<std::wstring>& roots, int folders, int filesPerFolder);

// FindFirstFileW over folder\*.*, DeleteFileW on each file, RemoveDirectoryW on each sub-folder
// after its contents; folder itself stays.
void bareDelete(const std::wstring& folder);
// bareDelete, then folder itself.
void removeTree(const std::wstring& folder);
// FindFirstFileW over folder\*.* and SetFileSecurityW on each entry: no check for links or
// second names.
void bareSetFileSecurity(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor);
// The least a safe secure does: each entry opened as itself (never through a link), a file's
// number of names checked, the access list set through the handle, the handle closed.
void bareSafeSecure(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor);
// The least a safe delete does, in plain Win32: the folder listed through its handle
// (FileIdBothDirectoryInfo, which gives each entry's file id), each entry opened by path as itself
// (never through a link), its id on the handle compared with the listed one
// (FileInternalInformation), deleted through the handle (FileDispositionInfo), closed.
void bareSafeDelete(const std::wstring& folder);

}  // namespace tendril::bench
