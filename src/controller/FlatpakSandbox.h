#pragma once
// Whether the plug-in runs inside a Flatpak sandbox, and the one command that
// lets that sandbox reach the controller's socket. A host installed as a
// Flatpak (OpenDeck's Flatpak build) runs native plug-ins inside its sandbox,
// whose $XDG_RUNTIME_DIR is private: the socket of the streaming software
// outside stays out of reach until the streamer grants access to it.

#include <filesystem>
#include <string>

class FlatpakSandbox {
public:
    // Flatpak writes this file into every sandbox it starts.
    static constexpr char kInfoFile[] = "/.flatpak-info";

    // The sandbox of this process: inside one when FLATPAK_ID is set or
    // |infoFile| exists. The app id comes from FLATPAK_ID, else from the
    // file's "name=" in its [Application] group.
    static FlatpakSandbox Detect(const std::filesystem::path& infoFile = kInfoFile);

    bool Inside() const { return m_inside; }
    // Empty when unknown or not a well-formed app id.
    const std::string& AppId() const { return m_appId; }
    // The command that grants access to the socket |pipeName| (a name in
    // $XDG_RUNTIME_DIR, or a path).
    std::string GrantCommand(const std::string& pipeName) const;

private:
    static std::string AppIdFromInfoFile(const std::filesystem::path& infoFile);
    static bool IsAppId(const std::string& text);

    bool m_inside = false;
    std::string m_appId;
};
