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
    // $XDG_RUNTIME_DIR, or a path). It is shown to be pasted into a shell, so
    // every word that is not plain is single-quoted: pasted, it runs flatpak
    // with exactly these arguments, whatever the name holds.
    std::string GrantCommand(const std::string& pipeName) const;
    // What the log says when the socket cannot be reached from the sandbox;
    // it ends with |grantCommand|, unquoted, so that copying the rest of the
    // line gives the command as it is.
    static std::string UnreachableAdvice(const std::string& grantCommand);
    // |word| as one shell word: itself when it holds only characters that no
    // POSIX shell treats specially, else in single quotes.
    static std::string ShellWord(const std::string& word);

private:
    static std::string AppIdFromInfoFile(const std::filesystem::path& infoFile);
    static bool IsAppId(const std::string& text);

    bool m_inside = false;
    std::string m_appId;
};
