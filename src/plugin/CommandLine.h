#pragma once
// The four option pairs with which the Stream Deck application starts the
// plug-in: -port, -pluginUUID, -registerEvent and -info, in any order.

#include <optional>
#include <string>
#include <vector>

struct CommandLine {
    int port = 0;
    std::string pluginUUID;
    std::string registerEvent;
    std::string info;  // must be present; read for the host's language

    // The values of a usable command line (exactly eight arguments after the
    // program name, a non-zero port, three non-empty texts, and an identifier
    // and event name in UTF-8, as the registration sends them to the host);
    // nothing otherwise.
    static std::optional<CommandLine> Parse(const std::vector<std::string>& arguments);
    static std::optional<CommandLine> Parse(int argc, const char* const argv[]);
};
