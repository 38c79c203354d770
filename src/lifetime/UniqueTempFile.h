#pragma once
// A new, empty file with a unique name in the user's temporary folder
// (GetTempFileNameW on Windows, which takes the first three characters of
// the ASCII |prefix|; mkstemp elsewhere). The file stays: its name is reserved.

#include <filesystem>
#include <optional>

std::optional<std::filesystem::path> CreateUniqueTempFile(const char* prefix);
