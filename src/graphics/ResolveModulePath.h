#pragma once
// Resolves a plug-in folder file name against the directory of the running
// executable. An absolute path is used as it is; "." and ".." components are
// resolved. A combined path that the platform cannot hold gives an empty path,
// so that loading it fails and is logged.
#include <string>

std::wstring ResolveModulePath(const std::wstring& relativePath);

// The same for a UTF-8 name; ill-formed UTF-8 raises std::range_error("bad conversion").
std::wstring ResolveModulePath(const std::string& relativePathUtf8);
