#include "plugin/CommandLine.h"

#include "diagnostics/TextParsing.h"

std::optional<CommandLine> CommandLine::Parse(const std::vector<std::string>& arguments) {
    if (arguments.size() != 9) return std::nullopt;
    CommandLine line;
    for (size_t i = 1; i + 1 < arguments.size(); i += 2) {
        const std::string& option = arguments[i];
        const std::string& value = arguments[i + 1];
        // Unknown options are skipped with their value; a repeated option keeps the later value.
        if (option == "-port") {
            line.port = ParseLeadingInt(value.c_str());
        } else if (option == "-pluginUUID") {
            line.pluginUUID = value;
        } else if (option == "-registerEvent") {
            line.registerEvent = value;
        } else if (option == "-info") {
            line.info = value;
        }
    }
    if (line.port == 0 || line.pluginUUID.empty() || line.registerEvent.empty() || line.info.empty()) {
        return std::nullopt;
    }
    // Both go into the registration message; text that is not UTF-8 could not be sent.
    if (!IsUtf8(line.pluginUUID) || !IsUtf8(line.registerEvent)) return std::nullopt;
    return line;
}

std::optional<CommandLine> CommandLine::Parse(int argc, const char* const argv[]) {
    return Parse(std::vector<std::string>(argv, argv + argc));
}
