#pragma once
// Resolves a plug-in folder file name against the directory of the running
// executable. An absolute path is used as it is; "." and ".." components are
// resolved. A combined path that the platform cannot hold gives an empty path,
// so that loading it fails and is logged.
#include <filesystem>
#include <string>

std::filesystem::path ResolveModulePath(const std::filesystem::path& relativePath);

// The same for a UTF-8 name (on POSIX its bytes are the name as they are).
std::filesystem::path ResolveModulePath(const std::string& relativePathUtf8);
