#pragma once
// The ZIP attached to a crash report: "manifest.ini" first, then every file
// under the log folder, in ascending order of full path, as
// "kestrel-sdplugin/<path relative to the log folder>" with "/" between
// folders. Only regular files are taken, never through a link. They are
// read as bytes and shared with their writer (the log may still be open); a
// file that cannot be opened is left out, and a read or write error ends its
// entry early while the rest of the archive is still written.

#include <filesystem>
#include <optional>
#include <string>

// The 55 bytes of "manifest.ini".
extern const char kCrashReportManifest[];

// Writes the archive to |archive|; false when it cannot be created or written.
bool WriteCrashReportArchive(const std::filesystem::path& archive,
                             const std::filesystem::path& logsDirectory);

// Writes the archive under a new unique name in the temporary folder (the
// reserved name plus ".zip", created new for the user alone; the empty
// reserved file stays, so that no later archive is given the same name) and
// returns its path; nothing when no name can be made or the archive cannot
// be created. The caller hands it to the crash report, which moves it into
// the report folder.
std::optional<std::filesystem::path> BuildCrashReportArchive(const std::filesystem::path& logsDirectory);
