#include "host/CommandLine.h"

#include "diagnostics/TextParsing.h"

std::optional<CommandLine> CommandLine::Parse(int argc, const char* const argv[]) {
    if (argc != 9) return std::nullopt;
    CommandLine line;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        // Unknown options are skipped with their value; a repeated option keeps the later value.
        if (option == "-port") {
            line.port = ParseLeadingInt(value);
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
    return line;
}
