// Byte-string helpers: escape sequences in option texts, log escaping, number parsing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kavosim {

// A text the simulator sends, cut into pieces by chunk breaks ("\|"):
// each piece is flushed, then the next one follows after the chunk delay.
struct Chunked {
    std::vector<std::string> pieces;

    std::string joined() const;
    bool empty() const { return joined().empty(); }
};

// Decodes \r \n \t \e \\ \xNN and \| (chunk break). Returns false and sets
// error for an unknown or incomplete escape.
bool decodeEscapes(std::string_view text, Chunked& out, std::string& error);

// Same escapes, but a chunk break is refused (used for command texts).
bool decodePlain(std::string_view text, std::string& out, std::string& error);

// Escapes bytes for one field of the traffic log: \r \n \e \\ and \xNN for
// every other control byte (tab included) and every byte from 0x7F up.
std::string escapeForLog(std::string_view bytes);

// Plain decimal digits only (no sign, no blanks, no leading zero: "0" but not "020"),
// value at most max.
bool parseDecimal(std::string_view text, long long max, long long& value);

// Splits at runs of blanks; leading and trailing blanks are ignored.
std::vector<std::string> splitBlanks(std::string_view line);

// The words of a line joined by single blanks.
std::string normalizeBlanks(std::string_view line);

} // namespace kavosim
