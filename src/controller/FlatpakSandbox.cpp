#include "controller/FlatpakSandbox.h"

#include <cstdlib>
#include <fstream>

namespace {

// Longer than any app id Flatpak accepts: such a line is not read further.
constexpr size_t kMaxAppId = 255;

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

FlatpakSandbox FlatpakSandbox::Detect(const std::filesystem::path& infoFile) {
    FlatpakSandbox sandbox;
    const char* variable = std::getenv("FLATPAK_ID");
    std::error_code ignored;
    const bool hasFile = std::filesystem::exists(infoFile, ignored);
    sandbox.m_inside = (variable && *variable) || hasFile;
    if (variable && IsAppId(variable)) {
        sandbox.m_appId = variable;
    } else if (hasFile) {
        sandbox.m_appId = AppIdFromInfoFile(infoFile);
    }
    return sandbox;
}

std::string FlatpakSandbox::GrantCommand(const std::string& pipeName) const {
    // A plain name lives in $XDG_RUNTIME_DIR, which Flatpak calls xdg-run.
    const std::string target = pipeName.find('/') == std::string::npos ? "xdg-run/" + pipeName : pipeName;
    return "flatpak override --user " + ShellWord("--filesystem=" + target) + " " +
           ShellWord(m_appId.empty() ? "<app id>" : m_appId);
}

std::string FlatpakSandbox::UnreachableAdvice(const std::string& grantCommand) {
    return "the controller's socket is out of reach: the host runs this plug-in in a Flatpak sandbox. "
           "Start the streaming software; if the keys stay offline, restart the host after granting access "
           "with this command: " +
           grantCommand;
}

std::string FlatpakSandbox::ShellWord(const std::string& word) {
    // A leading '=' names a program's path in zsh.
    const bool plain = !word.empty() && word.front() != '=' &&
                       word.find_first_not_of(
                           "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                           "0123456789_@%+=:,./-") == std::string::npos;
    if (plain) return word;
    // Inside single quotes nothing is special; a quote itself ends the
    // quoted part, is written escaped, and a new quoted part begins.
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The file is a key file: "[Application]" then "name = <app id>" among others.
std::string FlatpakSandbox::AppIdFromInfoFile(const std::filesystem::path& infoFile) {
    std::ifstream file(infoFile);
    bool inApplication = false;
    for (std::string line; std::getline(file, line);) {
        line = Trimmed(line);
        if (!line.empty() && line.front() == '[') {
            inApplication = line == "[Application]";
        } else if (size_t equals = line.find('='); inApplication && equals != std::string::npos &&
                                                   Trimmed(line.substr(0, equals)) == "name") {
            std::string name = Trimmed(line.substr(equals + 1));
            return IsAppId(name) ? name : "";
        }
    }
    return "";
}

// Letters, digits, '_', '-' and '.': the app id is shown inside a shell
// command, so nothing else may pass.
bool FlatpakSandbox::IsAppId(const std::string& text) {
    if (text.empty() || text.size() > kMaxAppId || text.front() == '.' || text.front() == '-') return false;
    for (char c : text) {
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-' || c == '.';
        if (!allowed) return false;
    }
    return true;
}
