#include "diagnostics/BoundedJson.h"

namespace BoundedJson {

namespace {

using json = nlohmann::json;

// The library's document builder, with the nesting bound checked as each
// array or object opens and the parser's error kept as text. The text is
// read once, and a refusal raises nothing: a peer's bad message costs no
// more than its parse up to the fault.
class BoundedBuilder {
public:
    BoundedBuilder(json& out, std::string& reason) : m_builder(out, false), m_reason(reason) {}

    bool null() { return m_builder.null(); }
    bool boolean(bool value) { return m_builder.boolean(value); }
    bool number_integer(json::number_integer_t value) { return m_builder.number_integer(value); }
    bool number_unsigned(json::number_unsigned_t value) { return m_builder.number_unsigned(value); }
    bool number_float(json::number_float_t value, const json::string_t& text) {
        return m_builder.number_float(value, text);
    }
    bool string(json::string_t& value) { return m_builder.string(value); }
    bool binary(json::binary_t& value) { return m_builder.binary(value); }
    bool start_object(std::size_t size) { return Deeper() && m_builder.start_object(size); }
    bool key(json::string_t& value) { return m_builder.key(value); }
    bool end_object() {
        --m_depth;
        return m_builder.end_object();
    }
    bool start_array(std::size_t size) { return Deeper() && m_builder.start_array(size); }
    bool end_array() {
        --m_depth;
        return m_builder.end_array();
    }
    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& error) {
        m_reason = error.what();
        return false;
    }

private:
    bool Deeper() {
        if (++m_depth <= kMaxDepth) return true;
        m_reason = "nested deeper than " + std::to_string(kMaxDepth) + " levels";
        return false;
    }

    nlohmann::detail::json_sax_dom_parser<json> m_builder;
    std::string& m_reason;
    size_t m_depth = 0;
};

}  // namespace

bool Parse(const std::string& text, json& out, std::string& reason) {
    out = nullptr;
    json document;
    bool parsed = false;
    try {
        BoundedBuilder builder(document, reason);
        parsed = json::sax_parse(text, &builder);
    } catch (const json::exception& error) {
        reason = error.what();
    }
    if (parsed) out = std::move(document);
    return parsed;
}

}  // namespace BoundedJson
