#pragma once
// Parses a peer's JSON text with a bound on its nesting depth. The JSON
// library copies and serialises documents recursively, so a document nested
// tens of thousands of levels deep would exhaust the stack wherever it is
// copied or written to a trace line; such a text is refused as the parser
// opens the level past the limit, before the document gets deeper.
// Both peers' messages (host and controller) go through here.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace BoundedJson {

// Far above any real message (host events nest five or six levels, settings
// objects one or two) and far below what the stack can hold.
inline constexpr size_t kMaxDepth = 64;

// Parses |text| into |out|. On failure returns false, leaves |out| null and
// says why in |reason| ("nested deeper than 64 levels" or the parser's
// message, for whichever fault comes first in the text); never raises.
bool Parse(const std::string& text, nlohmann::json& out, std::string& reason);

}  // namespace BoundedJson
