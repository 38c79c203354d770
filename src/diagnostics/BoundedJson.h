#pragma once
// Parses a peer's JSON text with a bound on its nesting depth. The JSON
// library copies and serialises documents recursively, so a document nested
// tens of thousands of levels deep would exhaust the stack wherever it is
// copied or written to a trace line; such a text is refused before parsing.
// Both peers' messages (host and controller) go through here.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace BoundedJson {

// Far above any real message (host events nest five or six levels, settings
// objects one or two) and far below what the stack can hold.
inline constexpr size_t kMaxDepth = 64;

// Whether |text| opens more than |limit| arrays or objects inside each other.
// Brackets inside strings do not count; the text need not be valid JSON.
bool ExceedsDepth(const std::string& text, size_t limit = kMaxDepth);

// Parses |text| into |out|. On failure returns false, leaves |out| null and
// says why in |reason| ("nested deeper than 64 levels" or the parser's
// message); never raises.
bool Parse(const std::string& text, nlohmann::json& out, std::string& reason);

}  // namespace BoundedJson
