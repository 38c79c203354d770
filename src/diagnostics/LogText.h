#pragma once
// Text of log records that comes from a peer: written so that it cannot break
// the log's one-record-per-line layout, and cut at the record limit without
// first building a text larger than a record can hold. Both peers' handlers
// (host and controller) use it for their trace lines.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace LogText {

// The longest record the log writes, in characters.
inline constexpr size_t kMaxRecordLength = 8191;

// |text| with every control character written as an escape ("\n", "\r",
// "\t", otherwise "\x1a" style; the Unicode line and paragraph separators and
// NEL as "\u2028" style), so that one record is always one line, and every
// byte that is not part of well-formed UTF-8 as a "\xff" style escape, so that
// the log stays UTF-8. The result is cut after at most |limit| characters,
// never inside an escape or a character.
std::string EscapeControls(const char* text, size_t size, size_t limit = kMaxRecordLength);

// The compact JSON text of |value| as the JSON library writes it, cut after
// at most |limit| characters. Only what is written is serialised, so a
// megabyte document costs no more than a record; containers nested deeper
// than BoundedJson::kMaxDepth are written as "[...]" or "{...}". Never raises.
std::string Json(const nlohmann::json& value, size_t limit = kMaxRecordLength);

}  // namespace LogText
