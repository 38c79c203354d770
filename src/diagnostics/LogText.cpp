#include "diagnostics/LogText.h"

#include <algorithm>
#include <cstdio>

#include "diagnostics/BoundedJson.h"
#include "diagnostics/TextParsing.h"

using json = nlohmann::json;

namespace LogText {

namespace {

// Whether the UTF-8 sequence at |text| + |i| is NEL, LINE SEPARATOR or
// PARAGRAPH SEPARATOR, which some readers take as line breaks; its length.
size_t UnicodeBreakLength(const unsigned char* text, size_t size, size_t i) {
    if (text[i] == 0xC2 && i + 1 < size && text[i + 1] == 0x85) return 2;
    if (text[i] == 0xE2 && i + 2 < size && text[i + 1] == 0x80 &&
        (text[i + 2] == 0xA8 || text[i + 2] == 0xA9))
        return 3;
    return 0;
}

// Appends to a text that must not grow past a limit.
class BoundedOutput {
public:
    explicit BoundedOutput(size_t limit) : m_limit(limit) { m_text.reserve(std::min<size_t>(limit, 1024)); }

    bool Full() const { return m_text.size() >= m_limit; }
    // Appends |size| characters, or as many as still fit.
    void Put(const char* text, size_t size) { m_text.append(text, std::min(size, m_limit - m_text.size())); }
    void Put(const std::string& text) { Put(text.data(), text.size()); }
    void Put(char c) {
        if (!Full()) m_text.push_back(c);
    }
    // Appends |text| only when all of it fits; whether it did.
    bool PutWhole(const char* text, size_t size) {
        if (m_text.size() + size > m_limit) return false;
        m_text.append(text, size);
        return true;
    }
    std::string Take() { return std::move(m_text); }

private:
    size_t m_limit;
    std::string m_text;
};

// Writes JSON as the library's compact dump does (keys in its order, the
// same escapes), stopping once the output is full.
class JsonWriter {
public:
    explicit JsonWriter(BoundedOutput& out) : m_out(out) {}

    void Value(const json& value, size_t depth) {
        if (m_out.Full()) return;
        switch (value.type()) {
            case json::value_t::object:
                Container(value, depth, '{', '}');
                return;
            case json::value_t::array:
                Container(value, depth, '[', ']');
                return;
            case json::value_t::string:
                String(value.get_ref<const std::string&>());
                return;
            case json::value_t::binary:
                m_out.Put(std::string("<binary>"));
                return;
            default:  // numbers, booleans, null: short
                m_out.Put(value.dump());
                return;
        }
    }

private:
    void Container(const json& value, size_t depth, char open, char close) {
        m_out.Put(open);
        if (depth >= BoundedJson::kMaxDepth) {
            if (!value.empty()) m_out.Put("...", 3);
            m_out.Put(close);
            return;
        }
        bool first = true;
        for (auto it = value.begin(); it != value.end() && !m_out.Full(); ++it) {
            if (!first) m_out.Put(',');
            first = false;
            if (value.is_object()) {
                String(it.key());
                m_out.Put(':');
            }
            Value(it.value(), depth + 1);
        }
        m_out.Put(close);
    }

    void String(const std::string& text) {
        m_out.Put('"');
        for (char c : text) {
            if (m_out.Full()) return;
            Character(c);
        }
        m_out.Put('"');
    }

    void Character(char c) {
        switch (c) {
            case '"':
                m_out.Put("\\\"", 2);
                return;
            case '\\':
                m_out.Put("\\\\", 2);
                return;
            case '\b':
                m_out.Put("\\b", 2);
                return;
            case '\f':
                m_out.Put("\\f", 2);
                return;
            case '\n':
                m_out.Put("\\n", 2);
                return;
            case '\r':
                m_out.Put("\\r", 2);
                return;
            case '\t':
                m_out.Put("\\t", 2);
                return;
            default:
                break;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            m_out.Put(escape, 6);
            return;
        }
        m_out.Put(c);
    }

    BoundedOutput& m_out;
};

}  // namespace

std::string EscapeControls(const char* text, size_t size, size_t limit) {
    BoundedOutput out(limit);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size && !out.Full(); ++i) {
        const unsigned char c = bytes[i];
        char escape[8];
        size_t length = 0;
        if (c == '\n' || c == '\r' || c == '\t') {
            length = std::snprintf(escape, sizeof escape, "\\%c", c == '\n' ? 'n' : c == '\r' ? 'r' : 't');
        } else if (c < 0x20 || c == 0x7F) {
            length = std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
        } else if (c < 0x80) {
            out.Put(static_cast<char>(c));
            continue;
        } else if (size_t breakLength = UnicodeBreakLength(bytes, size, i)) {
            const unsigned codePoint = breakLength == 2 ? 0x85 : (bytes[i + 2] == 0xA8 ? 0x2028 : 0x2029);
            length = std::snprintf(escape, sizeof escape, "\\u%04x", codePoint);
            i += breakLength - 1;
        } else if (size_t sequence = Utf8SequenceLength(bytes, size, i)) {
            // Whole characters only: a cut record never ends inside one.
            if (!out.PutWhole(text + i, sequence)) break;
            i += sequence - 1;
            continue;
        } else {
            // Not UTF-8 (a POSIX file name may be any bytes): the byte's escape
            // keeps the log readable as UTF-8 and still names the file.
            length = std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
        }
        if (!out.PutWhole(escape, length)) break;
    }
    return out.Take();
}

std::string Json(const json& value, size_t limit) {
    BoundedOutput out(limit);
    JsonWriter(out).Value(value, 0);
    return out.Take();
}

}  // namespace LogText
