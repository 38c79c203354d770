#include "plugin/CommandLine.h"

#include <cstdint>

#include "diagnostics/TextParsing.h"

namespace {

// The length of the UTF-8 sequence that |lead| starts; 0 when it starts none.
size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF; what the JSON library refuses to serialise.
bool IsUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = SequenceLength(lead);
        if (length == 0 || i + length > text.size()) return false;
        uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = (point << 6) | (next & 0x3F);
        }
        static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

}  // namespace

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
